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
  [inplace]="survey estimate scan fsfacts numbers platform"
  [cli]="inplace settings archive survey estimate scan fsfacts numbers platform"
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

# Inside the engine's folders the files stand on floors too: a header and its .cpp count as
# one unit, and no unit includes one that includes it back, however far round (tsort reports
# such a loop). The other folders are not held to it yet.
for folder in numbers fsfacts scan estimate survey; do
  [ -d "$folder" ] || continue
  edges=""
  while IFS=: read -r file text; do
    [[ $text =~ \#[[:space:]]*include[[:space:]]*\"$folder/([A-Za-z0-9_]+)\.h\" ]] || continue
    unit=${file##*/}
    unit=${unit%.*}
    [ "$unit" = "${BASH_REMATCH[1]}" ] || edges+="$unit ${BASH_REMATCH[1]}"$'\n'
  done < <(grep -E "^\s*#\s*include \"$folder/" -r "$folder" --include='*.cpp' --include='*.h' || true)
  if ! loop=$(printf '%s' "$edges" | tsort 2>&1 >/dev/null); then
    echo "$folder/: its files include each other in a loop: $(printf '%s' "$loop" | sed -n '/input contains a loop/d; s/^tsort: //p' | tr '\n' ' ')"
    bad=1
  fi
done
[ "$bad" -eq 0 ] && echo "includes point down: ok"
exit "$bad"
