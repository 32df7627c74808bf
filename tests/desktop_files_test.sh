#!/usr/bin/env bash
# Checks the desktop entry and the AppStream metainfo with the desktop's own validators
# (skipped, status 77, when neither is installed), and that the metainfo matches the
# project: its release is the project's version and its screenshots are pictures in docs/.
# Usage: desktop_files_test.sh SOURCE_DIR PROJECT_VERSION
set -euo pipefail
source_dir=$1
version=$2
desktop="$source_dir/resources/orbelan.desktop"
metainfo=$(ls "$source_dir"/resources/*.metainfo.xml)
ran=0
status=0

if command -v desktop-file-validate > /dev/null; then
  ran=1
  # Hints count as failures too: a good entry gives no output at all.
  if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
    echo "desktop-file-validate: ${out:-failed}"
    status=1
  fi
fi
if command -v appstreamcli > /dev/null; then
  ran=1
  # No network: the web site's pages are checked where it is published, not here.
  appstreamcli validate --no-net "$metainfo" || status=1
fi

grep -q "<release version=\"$version\"" "$metainfo" || {
  echo "the metainfo's newest release is not version $version"
  status=1
}
for url in $(grep -o '<image>[^<]*</image>' "$metainfo" | sed 's/<[^>]*>//g'); do
  [ -f "$source_dir/docs/$(basename "$url")" ] || {
    echo "screenshot $url is not a picture in docs/"
    status=1
  }
done

[ "$status" -ne 0 ] && exit "$status"
[ "$ran" -eq 0 ] && { echo "no validator installed"; exit 77; }
exit 0
