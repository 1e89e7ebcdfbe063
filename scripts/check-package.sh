#!/usr/bin/env bash
# Builds the Debian package with the commands of the README's Install section, exactly as written
# there (all but the one that installs it), and checks what a user would get: the files in the
# package, tuvactl running from the unpacked package, the desktop entry and the AppStream file
# passing their validators, and lintian finding no errors. Exits non-zero on any failure.
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
expected=(
  usr/bin/tuva usr/bin/tuvactl usr/bin/tuva-sim
  "$desktop" "$metainfo" usr/share/icons/hicolor/scalable/apps/tuva.svg
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
