#!/usr/bin/env bash
# Fails when a source file includes a header from a folder its library may not use.
# Each folder is one library; it may include its own headers and those of the folders
# named for it here, which lie below it in the build's order. Tests, benchmarks and tools
# may include anything.
set -euo pipefail
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$top"

declare -A allowed=(
  [platform]=""
  [numbers]=""
  [fsfacts]="numbers platform"
  [scan]="fsfacts numbers platform"
  [estimate]="scan fsfacts numbers platform"
  [survey]="estimate scan fsfacts numbers platform"
  [archive]="survey estimate scan fsfacts numbers platform"
  [settings]="survey estimate scan fsfacts numbers platform"
  [cli]="settings archive survey estimate scan fsfacts numbers platform"
  [ui]="platform"
  [dialogs]="ui settings survey estimate scan fsfacts numbers platform"
  [app]="dialogs ui settings archive survey estimate scan fsfacts numbers platform"
)

bad=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    # The folder the include names, matched in the shell: a process per line would make
    # this check the slowest of the tests.
    [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^/\"]+)/ ]] || continue
    target=${BASH_REMATCH[1]}
    [ "$target" = "$folder" ] && continue
    [ -d "$target" ] || continue  # not one of ours (a subfolder of the same library)
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file:$line: $folder/ may not include $target/ ($text)"
      bad=1
    fi
  done < <(grep -nE '^\s*#\s*include "[^"]+/' -r "$folder" --include='*.cpp' --include='*.h' || true)
done
[ "$bad" -eq 0 ] && echo "includes point down: ok"
exit "$bad"
