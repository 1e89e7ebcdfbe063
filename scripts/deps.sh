# Debian packages the build, the tests and the programs need; installs only what is missing.
TUVA_PACKAGES=(
  g++ cmake ninja-build pkg-config clang-format ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl1-mesa-dev
  libcli11-dev nlohmann-json3-dev
  srecord ser2net
  libsqlite3-dev libpq-dev postgresql
  libcairo2-dev libzint-dev poppler-utils zbar-tools
  clang libclang-rt-14-dev
  lintian desktop-file-utils appstream man-db
  shared-mime-info libxml2-utils xdg-utils libfile-mimeinfo-perl
)

tuva_install_deps() {
  local missing=()
  for p in "${TUVA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
