#!/usr/bin/env bash
# Builds Orbelan's Debian packages (cpack -G DEB in ./build: orbelan-cli with the commands,
# orbelan with the window), unpacks them into a scratch root and checks what they installed:
# the commands need no Qt, the programs run from there, the help file lies where the program
# looks for it, the desktop files validate, and apt can resolve their dependencies.
# Usage: bash scripts/package.sh [SCRATCH_ROOT]   (default: a temporary folder, removed after)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"

cd "$here/build"
rm -f orbelan_*.deb orbelan-cli_*.deb
cpack -G DEB
debs=(orbelan_*_amd64.deb)
clis=(orbelan-cli_*_amd64.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: no orbelan_*_amd64.deb made" >&2; exit 1; }
[ "${#clis[@]}" -eq 1 ] && [ -f "${clis[0]}" ] || { echo "package.sh: no orbelan-cli_*_amd64.deb made" >&2; exit 1; }
deb="$here/build/${debs[0]}"
cli="$here/build/${clis[0]}"
echo "== $cli"
dpkg-deb --info "$cli"
echo "== $deb"
dpkg-deb --info "$deb"

tree=$(mktemp -d -t orbelan-tree.XXXXXX)
if [ $# -ge 1 ]; then
  root=$1
  trap 'rm -rf "$tree"' EXIT
else
  root=$(mktemp -d -t orbelan-root.XXXXXX)
  trap 'rm -rf "$tree" "$root"' EXIT
fi
mkdir -p "$root"
dpkg-deb --extract "$cli" "$root"
dpkg-deb --extract "$deb" "$root"
echo "== unpacked into $root"

fail() { echo "package.sh: $*" >&2; exit 1; }

# The library dependencies were computed, not left out; a server installs the commands
# without Qt, and the window comes with the very same commands.
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries"
dpkg-deb --field "$cli" Depends | grep -q 'liburing2' || fail "orbelan-cli's Depends lacks liburing"
! dpkg-deb --field "$cli" Depends | grep -qi 'qt' || fail "orbelan-cli depends on Qt"
dpkg-deb --field "$deb" Depends | grep -qF "orbelan-cli (= $(dpkg-deb --field "$cli" Version))" ||
  fail "orbelan does not depend on the same version of orbelan-cli"
cli_files=$(dpkg-deb --contents "$cli")
deb_files=$(dpkg-deb --contents "$deb")
for f in usr/bin/orbelan-report usr/bin/orbelan-zip usr/bin/orbelan-compress; do
  grep -q " ./$f\$" <<< "$cli_files" || fail "$f is not in orbelan-cli"
  ! grep -q " ./$f\$" <<< "$deb_files" || fail "$f is in both packages"
done

for f in usr/bin/orbelan usr/bin/orbelan-report usr/bin/orbelan-zip usr/bin/orbelan-compress \
         usr/share/man/man1/orbelan-compress.1.gz usr/share/orbelan/orbelan.hlp \
         usr/share/applications/orbelan.desktop usr/share/man/man1/orbelan.1.gz \
         usr/share/man/man1/orbelan-report.1.gz usr/share/man/man1/orbelan-zip.1.gz \
         usr/share/icons/hicolor/scalable/apps/orbelan.svg; do
  [ -f "$root/$f" ] || fail "$f is missing"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/orbelan.png" ] || fail "the ${size}px icon is missing"
done
ls "$root"/usr/share/metainfo/*.metainfo.xml > /dev/null || fail "the metainfo file is missing"

# The help viewer looks in ../share/orbelan/ beside the program.
[ -f "$root/usr/bin/../share/orbelan/orbelan.hlp" ] || fail "no help file at bin/../share/orbelan/"

# The command runs from the scratch root and reports a small tree.
mkdir -p "$tree/a/b"
head -c 300000 /dev/zero > "$tree/a/data.bin"
head -c 200000 /dev/zero > "$tree/a/b/old.gz"
"$root/usr/bin/orbelan-report" --help | grep -q -- '--sort' || fail "orbelan-report --help"
report=$("$root/usr/bin/orbelan-report" --csv "$tree")
echo "$report"
echo "$report" | grep -qi "^$tree/a/,1,300000," || fail "the report misses $tree/a/"
"$root/usr/bin/orbelan-zip" --help | grep -q -- '--undo' || fail "orbelan-zip --help"
"$root/usr/bin/orbelan-compress" --help | grep -q -- '--undo' || fail "orbelan-compress --help"

# The window starts (offscreen) and stays up until it is stopped.
status=0
XDG_CONFIG_HOME="$tree/config" QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/orbelan" || status=$?
[ "$status" -eq 124 ] || fail "orbelan ended with status $status before it was stopped"

if command -v groff > /dev/null; then
  for page in "$root"/usr/share/man/man1/*.1.gz; do
    out=$(zcat "$page" | groff -man -ww -z 2>&1)
    [ -z "$out" ] || fail "$(basename "$page"): $out"
  done
fi
if command -v desktop-file-validate > /dev/null; then
  out=$(desktop-file-validate "$root/usr/share/applications/orbelan.desktop" 2>&1) || fail "$out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
fi
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
fi

# apt can install it here: every dependency resolves (a simulation; nothing changes).
if command -v apt-get > /dev/null; then
  apt-get install --simulate --no-install-recommends "$cli" | grep -q '^Inst orbelan-cli' ||
    fail "apt-get cannot resolve orbelan-cli's dependencies"
  apt-get install --simulate --no-install-recommends "$cli" "$deb" | grep -q '^Inst orbelan ' ||
    fail "apt-get cannot resolve the packages' dependencies"
fi
echo "== packages checked: $cli $deb"
