#!/usr/bin/env bash
# Hand-run benchmark of the estimate's cost: times `orbelan-report --csv --estimate DIR`
# against reading every byte of DIR (`tar cf - DIR | wc -c`), side by side in each round,
# warm cache, and prints each round's ratio and their median. With --before, an earlier
# build's orbelan-report runs in the same rounds, for a before/after.
#
# Usage: bench/estimate_vs_tar.sh [options] DIR...
#   --build DIR     build folder holding cli/orbelan-report (default: ./build)
#   --before PATH   an earlier orbelan-report to time beside this one
#   --rounds N      timed rounds per folder (default 5)
#
# The page cache of a virtual machine may be reclaimed by its host between rounds; the
# ratio of runs side by side is what compares fairly, not the seconds of one run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build" before= rounds=5
dirs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "estimate_vs_tar.sh: unknown argument $1" >&2; exit 2 ;;
    *) dirs+=("$1"); shift ;;
  esac
done
[ ${#dirs[@]} -gt 0 ] || { echo "estimate_vs_tar.sh: no folder given" >&2; exit 2; }
report="$build/cli/orbelan-report"
[ -x "$report" ] || { echo "estimate_vs_tar.sh: $report not built" >&2; exit 2; }
[ -z "$before" ] || [ -x "$before" ] || { echo "estimate_vs_tar.sh: $before not executable" >&2; exit 2; }

# Seconds of wall, user and system time of one command, as "real user sys".
timed() {
  local TIMEFORMAT='%R %U %S' out
  out=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  echo "$out"
}
estimate() { "$1" --csv --estimate "$2"; }
read_all() { tar cf - "$1" 2>/dev/null | wc -c; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for dir in "${dirs[@]}"; do
  [ -d "$dir" ] || { echo "estimate_vs_tar.sh: $dir is not a folder" >&2; exit 2; }
  echo "== $dir ($rounds rounds, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
  read_all "$dir" >/dev/null  # warm the cache for both
  estimate "$report" "$dir" >/dev/null 2>&1
  [ -z "$before" ] || estimate "$before" "$dir" >/dev/null 2>&1
  ratios=() before_ratios=()
  for ((i = 1; i <= rounds; i++)); do
    now=$(timed estimate "$report" "$dir")
    line="round $i: orbelan $now"
    if [ -n "$before" ]; then
      was=$(timed estimate "$before" "$dir")
      line="$line | before $was"
    fi
    tar_t=$(timed read_all "$dir")
    ratio=$(awk -v a="${now%% *}" -v b="${tar_t%% *}" 'BEGIN {printf "%.2f", a / b}')
    ratios+=("$ratio")
    line="$line | tar $tar_t | orbelan/tar $ratio"
    if [ -n "$before" ]; then
      was_ratio=$(awk -v a="${was%% *}" -v b="${tar_t%% *}" 'BEGIN {printf "%.2f", a / b}')
      before_ratios+=("$was_ratio")
      line="$line, before/tar $was_ratio"
    fi
    echo "$line   (seconds: wall user system)"
  done
  echo "median orbelan/tar: $(printf '%s\n' "${ratios[@]}" | median)"
  [ -z "$before" ] || echo "median before/tar: $(printf '%s\n' "${before_ratios[@]}" | median)"
done
