#!/usr/bin/env bash
# Hand-run benchmark of the scan on every core against the reference floor (a minimal
# two-phase scan on one thread), one thread, du and gdu, in alternating rounds; optionally
# with a cold cache (the page, dentry and inode caches dropped before every run: root only).
# Prints each tool's median wall time, its ratio to the floor's and its peak RSS, and checks
# that every thread count gives the same report, byte for byte.
#
# Usage: bench/threads_bench.sh --tree DIR --floor FLOOR_BINARY [--build DIR] [--rounds N] [--cold]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tree= floor= build="$here/build" rounds=5 cold=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tree) tree=${2%/}; shift 2 ;;
    --floor) floor=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cold) cold=1; shift ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "threads_bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$tree" ] && [ -x "$floor" ] || { echo "threads_bench.sh: give --tree DIR and --floor BINARY" >&2; exit 2; }
report="$build/cli/orbelan-report"
[ -x "$report" ] || { echo "threads_bench.sh: $report not built" >&2; exit 2; }
work=$(mktemp -d /tmp/orbelan-threads-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The settings file next to the report would steer it; an empty one keeps every folder.
export XDG_CONFIG_HOME="$work/config"

measure() {
  [ "$cold" = 1 ] && { sync; echo 3 > /proc/sys/vm/drop_caches; }
  /usr/bin/time -o "$work/rss" -f "%e %M" "$@" > /dev/null 2> /dev/null || true
  tail -1 "$work/rss"
}

names=(floor all-threads one-thread du)
commands=("$floor $tree" "$report --csv --sort 7 $tree" "$report --threads 1 --csv --sort 7 $tree" "du -s $tree")
if command -v gdu > /dev/null; then
  names+=(gdu)
  commands+=("gdu -n -p $tree")
fi

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$cold" = 0 ]; then
  for c in "${commands[@]}"; do measure $c > /dev/null; done  # warm the cache
fi
declare -A times rss
for ((round = 1; round <= rounds; round++)); do
  for ((k = 0; k < ${#names[@]}; k++)); do
    i=$(((k + round) % ${#names[@]}))
    read -r t m < <(measure ${commands[$i]})
    times[${names[$i]}]+="$t "
    rss[${names[$i]}]+="$m "
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }
base=$(echo "${times[floor]}" | median)
echo "tree $tree, $rounds rounds, $([ "$cold" = 1 ] && echo cold || echo warm) cache, $(nproc) cores"
printf "%-12s %9s %8s %10s   %s\n" tool "median s" "x floor" "peak RSS" "all times"
for name in "${names[@]}"; do
  t=$(echo "${times[$name]}" | median)
  m=$(echo "${rss[$name]}" | maximum)
  awk -v n="$name" -v t="$t" -v b="$base" -v m="$m" -v all="${times[$name]}" \
    'BEGIN { printf "%-12s %9.3f %8.3f %6.1f MiB   %s\n", n, t, t / b, m / 1024, all }'
done

# Same report whatever the thread count.
"$report" --csv --sort 7 --threads 1 "$tree" > "$work/one.csv"
for n in 2 4 16; do
  "$report" --csv --sort 7 --threads "$n" "$tree" > "$work/many.csv"
  if cmp -s "$work/one.csv" "$work/many.csv"; then echo "--threads $n: report identical to --threads 1"
  else echo "--threads $n: REPORT DIFFERS"; exit 1; fi
done
