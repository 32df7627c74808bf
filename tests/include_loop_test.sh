#!/usr/bin/env bash
# The include check fails on a loop of includes between the units of one engine folder (a
# header and its .cpp counting as one), and passes once the loop is broken.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scan"
printf '#pragma once\n#include "scan/b.h"\n' > "$tree/scan/a.h"
printf '#pragma once\n' > "$tree/scan/b.h"
printf '#include "scan/b.h"\n#include "scan/c.h"\n' > "$tree/scan/b.cpp"
printf '#pragma once\n#include "scan/a.h"\n' > "$tree/scan/c.h"
if bash "$check" "$tree" > /dev/null; then
  echo "a loop a -> b (through b.cpp) -> c -> a went unnoticed"
  exit 1
fi
printf '#pragma once\n' > "$tree/scan/c.h"
bash "$check" "$tree" > /dev/null || { echo "no loop is left, yet the check failed"; exit 1; }
