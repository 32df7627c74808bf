#!/usr/bin/env bash
# Hand-run benchmark of the scanner: times `orbelan-report --csv` against `du -s` and the
# reference floor (a minimal two-phase scan) on one tree, warm cache, alternating runs,
# and checks the scanner's totals against the tree's manifest. With --before, an earlier
# build's orbelan-report runs the same command in the same rounds, for a before/after.
#
# Usage: bench/run_bench.sh [options]
#   --tree DIR        scan DIR (default: generate one with --gen into a temporary folder)
#   --gen PATH        the tree generator (default: tools/make-tree.py), when no --tree is given
#   --gen-args "..."  extra generator arguments, e.g. "--dirs 100000 --files 1500000"
#   --floor PATH      floor.c to build and compare against (skipped when not given)
#   --build DIR       build folder holding cli/orbelan-report and bench/scan_totals
#                     (default: ./build)
#   --report-args ".." what orbelan-report is given before the tree (default: --csv),
#                     e.g. "--csv --estimate"
#   --before PATH     an earlier orbelan-report to time beside this one
#   --rounds N        timed rounds (default 7)
#   --keep            keep a generated tree
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tree= gen="$here/tools/make-tree.py" gen_args= floor_src= build="$here/build" rounds=7 keep=0
report_args=--csv before=
while [ $# -gt 0 ]; do
  case "$1" in
    --tree) tree=$2; shift 2 ;;
    --gen) gen=$2; shift 2 ;;
    --gen-args) gen_args=$2; shift 2 ;;
    --floor) floor_src=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --report-args) report_args=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

report="$build/cli/orbelan-report"
totals="$build/bench/scan_totals"
for program in "$report" "$totals"; do
  [ -x "$program" ] || { echo "run_bench.sh: $program not built" >&2; exit 2; }
done

work=$(mktemp -d /tmp/orbelan-bench-XXXXXX)
cleanup() {
  if [ "$keep" = 0 ] && [ -d "$work/tree" ]; then rm -rf "$work/tree"; fi
  [ "$keep" = 0 ] && rm -rf "$work"
  return 0
}
trap cleanup EXIT

manifest=
if [ -z "$tree" ]; then
  [ -n "$gen" ] || { echo "run_bench.sh: give --tree DIR or --gen PATH" >&2; exit 2; }
  echo "generating tree in $work/tree ..."
  # shellcheck disable=SC2086
  python3 "$gen" --root "$work/tree" $gen_args -q > /dev/null
  tree="$work/tree"
fi
tree=${tree%/}
[ -f "$tree.manifest.json" ] && manifest="$tree.manifest.json"

floor=
if [ -n "$floor_src" ]; then
  floor="$work/floor"
  cc -O2 -o "$floor" "$floor_src"
fi

# One command's wall time and peak RSS (KiB). GNU time reports the RSS: a process forked
# from a small program, so the figure is the command's own, not a copy of a big parent.
measure() {
  python3 - "$work/rss" "$@" <<'PY'
import subprocess, sys, time
rss_file, command = sys.argv[1], sys.argv[2:]
start = time.monotonic()
done = subprocess.run(["/usr/bin/time", "-o", rss_file, "-f", "%M"] + command,
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
elapsed = time.monotonic() - start
if done.returncode != 0:
    sys.exit("command failed: " + " ".join(command))
print(f"{elapsed:.4f} {open(rss_file).read().split()[-1]}")
PY
}

names=(orbelan du)
commands=("$report $report_args $tree" "du -s $tree")
if [ -n "$before" ]; then
  names=(orbelan before du)
  commands=("$report $report_args $tree" "$before $report_args $tree" "du -s $tree")
fi
if [ -n "$floor" ]; then
  names+=(floor)
  commands+=("$floor $tree")
fi

echo "warming the cache ..."
for c in "${commands[@]}"; do
  # shellcheck disable=SC2086
  measure $c > /dev/null
done

declare -A times rss
for ((round = 1; round <= rounds; round++)); do
  # Alternate the order from round to round so that no tool always runs first.
  order=()
  for ((i = 0; i < ${#names[@]}; i++)); do
    order+=($(((i + round) % ${#names[@]})))
  done
  for i in "${order[@]}"; do
    # shellcheck disable=SC2086
    read -r t m < <(measure ${commands[$i]})
    times[${names[$i]}]+="$t "
    rss[${names[$i]}]+="$m "
  done
  echo "round $round done"
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }

echo
echo "tree: $tree ($rounds rounds, warm cache)"
base=${names[${#names[@]}-1]}
base_time=$(echo "${times[$base]}" | median)
printf "%-8s %10s %10s %12s\n" tool "median s" "x $base" "peak RSS"
for name in "${names[@]}"; do
  t=$(echo "${times[$name]}" | median)
  m=$(echo "${rss[$name]}" | maximum)
  awk -v n="$name" -v t="$t" -v b="$base_time" -v m="$m" \
    'BEGIN { printf "%-8s %10.3f %10.3f %9.1f MiB\n", n, t, t / b, m / 1024 }'
done

echo
echo "scanner totals (nothing ignored):"
ours=$("$totals" "$tree" 2>/dev/null)
echo "  orbelan  $ours"
[ -n "$floor" ] && echo "  floor    $("$floor" "$tree")"
if [ -n "$manifest" ]; then
  expected=$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1])); print("folders %d files %d bytes %d" % (m["survey_folders"], m["survey_files"], m["survey_bytes"]))' "$manifest")
  echo "  manifest $expected"
  if [ "$ours" = "$expected" ]; then echo "  totals agree"; else echo "  TOTALS DIFFER"; exit 1; fi
fi
