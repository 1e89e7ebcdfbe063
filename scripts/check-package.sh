#!/usr/bin/env bash
# Builds the Debian package with the commands of the README's Install section, exactly as written
# there (all but the one that installs it), and checks what a user would get: the files in the
# package, tuvactl running from the unpacked package, the desktop entry, the AppStream file and the
# configuration files' MIME type passing their validators, a .tbl file taking that type and the
# programmer as its default application once `cmake --install` has put them in a prefix, and
# lintian finding no errors. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

# The first fenced block after "## Install", without the lines that need root.
commands=$(awk '/^## Install/ {section = 1; next}
                /^## / {section = 0}
                section && /^```/ {if (fence) section = 0; fence = !fence; next}
                section && fence && !/^sudo / {print}' README.md)
[ -n "$commands" ] || { echo "no package commands found in README.md" >&2; exit 1; }
rm -rf build/package
echo "$commands"
bash -euo pipefail -c "$commands"

shopt -s nullglob
debs=(build/package/tuva_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one package, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}

status=0
fail() {
  echo "package: $*" >&2
  status=1
}

desktop=usr/share/applications/io.github.tuva.Programmer.desktop
metainfo=usr/share/metainfo/io.github.tuva.Programmer.metainfo.xml
mimetype=usr/share/mime/packages/io.github.tuva.Programmer.xml
expected=(
  usr/bin/tuva usr/bin/tuvactl usr/bin/tuva-sim
  "$desktop" "$metainfo" "$mimetype" usr/share/icons/hicolor/scalable/apps/tuva.svg
  usr/share/man/man1/tuva.1.gz usr/share/man/man1/tuvactl.1.gz usr/share/man/man1/tuva-sim.1.gz
  usr/lib/udev/rules.d/70-tuva.rules
  usr/share/doc/tuva/copyright usr/share/doc/tuva/changelog.gz
)
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||')
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "$path is missing"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/tuvactl" new "$root/new.tbl" || fail "tuvactl new failed"
"$root/usr/bin/tuvactl" dump "$root/new.tbl" >"$root/dump.txt" || fail "tuvactl dump failed"
[ -s "$root/dump.txt" ] || fail "tuvactl dump printed nothing"
"$root/usr/bin/tuva-sim" --help >/dev/null || fail "tuva-sim --help failed"
for page in tuva tuvactl tuva-sim; do
  man -l "$root/usr/share/man/man1/$page.1.gz" >/dev/null 2>&1 || fail "man page $page does not render"
done

desktop-file-validate "$root/$desktop" || fail "desktop-file-validate found faults"
appstreamcli validate --no-net "$root/$metainfo" || fail "appstreamcli validate found faults"

xmllint --noout --schema scripts/shared-mime-info.xsd "$root/$mimetype" ||
  fail "the MIME type does not follow the shared-mime-info schema"

# Installed into a prefix of its own, the type names .tbl files (by their extension, and by the
# tag inside a file named otherwise) and the desktop entry is their default application, as a
# file manager asks xdg-mime. Nothing of this user's desktop takes part.
prefix="$root/prefix"
cmake --install build/package --prefix "$prefix" >/dev/null || fail "cmake --install failed"
update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
update-desktop-database "$prefix/share/applications" || fail "update-desktop-database failed"
mkdir -p "$root/xdg/home" "$root/xdg/data" "$root/xdg/config"
"$root/usr/bin/tuvactl" new "$root/board.tbl" && cp "$root/board.tbl" "$root/board.bin" ||
  fail "tuvactl new failed"
xdg() {
  env -i PATH="$PATH" HOME="$root/xdg/home" XDG_DATA_HOME="$root/xdg/data" \
    XDG_CONFIG_HOME="$root/xdg/config" XDG_CONFIG_DIRS="$root/xdg/config" \
    XDG_DATA_DIRS="$prefix/share" xdg-mime "$@"
}
for file in board.tbl board.bin; do
  type=$(xdg query filetype "$root/$file") || type="(xdg-mime failed)"
  [ "$type" = application/x-tuva-config ] || fail "xdg-mime says $file is $type"
done
default=$(xdg query default application/x-tuva-config) || default="(xdg-mime failed)"
[ "$default" = io.github.tuva.Programmer.desktop ] ||
  fail "xdg-mime names $default as the default application of .tbl files"
# The labels' libraries come in through the programs' links (dpkg-shlibdeps): cairo and zint for
# tuvactl, Qt's print support for tuva.
depends=$(dpkg-deb -f "$deb" Depends)
for library in 'libcairo2' 'libzint[0-9.]+' 'libqt6printsupport6'; do
  grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# Errors fail the check; warnings are shown.
lintian --fail-on error "$deb" || fail "lintian reports errors"

[ $status -eq 0 ] && echo "package: $deb passes its checks"
exit $status
