# Debian packages, installed only where missing. What building and running the programs needs
# (./run): the compiler and build tools, Qt 6 and the libraries the programs link.
TUVA_RUN_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl1-mesa-dev
  libcli11-dev nlohmann-json3-dev
  libsqlite3-dev libpq-dev
  libcairo2-dev libzint-dev
)
# What the tests, the benchmarks, the fuzz targets and the package check add (./test): the test
# libraries, the tools the tests run (srec_cat, ser2net, a PostgreSQL server, pdftotext, zbarimg),
# clang for the fuzz targets, and the package's checkers.
TUVA_TEST_PACKAGES=(
  clang-format ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  srecord ser2net postgresql
  poppler-utils zbar-tools
  clang libclang-rt-14-dev
  lintian desktop-file-utils appstream man-db
  shared-mime-info libxml2-utils xdg-utils libfile-mimeinfo-perl
)

tuva_install_deps() {  # tuva_install_deps PACKAGE...
  local missing=()
  for p in "$@"; do
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
