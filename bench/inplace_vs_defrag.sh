#!/usr/bin/env bash
# Hand-run benchmark of compressing in place: the same real data copied twice onto a btrfs
# image mounted without compression, one copy compressed by `orbelan-compress --yes
# --subtree`, the other by `btrfs filesystem defragment -r -czstd` (followed by sync, as its
# writes are still in memory when it returns; orbelan-compress waits for its own). Caches
# are dropped before each, and the order alternates by round. Prints each one's seconds,
# the data allocation it gave back and compsize's figures, and the time ratio per round.
#
# Usage (as root): bench/inplace_vs_defrag.sh [--build DIR] [--rounds N] [SOURCE...]
#   --build DIR   build folder holding cli/orbelan-compress (default: ./build)
#   --rounds N    rounds, each on fresh copies (default 2)
#   SOURCE        folders to copy (default: /usr/share/doc /usr/include)
#
# orbelan-compress leaves archives (.gz and the like) alone, as a scan counts them zipped;
# defragment rewrites them too, for nothing. Both copies hold them; both figures count them.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build" rounds=2
sources=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "inplace_vs_defrag.sh: unknown argument $1" >&2; exit 2 ;;
    *) sources+=("$1"); shift ;;
  esac
done
[ ${#sources[@]} -gt 0 ] || sources=(/usr/share/doc /usr/include)
[ "$(id -u)" -eq 0 ] || { echo "inplace_vs_defrag.sh: needs root (a loop mount)" >&2; exit 2; }
compress="$build/cli/orbelan-compress"
[ -x "$compress" ] || { echo "inplace_vs_defrag.sh: no $compress; build first" >&2; exit 2; }

work=$(mktemp -d /tmp/orbelan-inplace-bench-XXXXXX)
mnt="$work/mnt"
cleanup() {
  mountpoint -q "$mnt" && umount -d "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT
bytes=$(du -scb "${sources[@]}" | tail -1 | cut -f1)
truncate -s $(( bytes * 3 + (512 << 20) )) "$work/image"
mkfs.btrfs -q -f "$work/image" >/dev/null
mkdir "$mnt"
mount -o loop,noatime "$work/image" "$mnt"
uuid=$(btrfs filesystem show "$mnt" | sed -n 's/.*uuid: \([0-9a-f-]*\).*/\1/p')
data_used() { sync; cat "/sys/fs/btrfs/$uuid/allocation/data/bytes_used"; }
compsize_of() { command -v compsize >/dev/null && compsize -b "$1" | awk '/^TOTAL/ {print $3 " of " $4}' || echo "-"; }

# Seconds one command takes, caches dropped first.
timed() {
  sync; echo 3 > /proc/sys/vm/drop_caches
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
run_orbelan() { "$compress" --yes --subtree "$1"; }
run_defrag() { btrfs filesystem defragment -r -czstd "$1"; sync; }

printf '%-6s %-10s %9s %14s %s\n' round tool seconds given-back "compsize (disk of uncompressed bytes)"
for round in $(seq 1 "$rounds"); do
  rm -rf "$mnt/orbelan" "$mnt/defrag"
  mkdir "$mnt/orbelan" "$mnt/defrag"
  for s in "${sources[@]}"; do
    cp -a --reflink=never "$s" "$mnt/orbelan/"
    cp -a --reflink=never "$s" "$mnt/defrag/"
  done
  order=(orbelan defrag)
  [ $((round % 2)) -eq 0 ] && order=(defrag orbelan)
  declare -A secs=()
  for tool in "${order[@]}"; do
    before=$(data_used)
    secs[$tool]=$(timed "run_$tool" "$mnt/$tool")
    after=$(data_used)
    printf '%-6s %-10s %9.2f %14d %s\n' "$round" "$tool" "${secs[$tool]}" $((before - after)) "$(compsize_of "$mnt/$tool")"
  done
  printf '%-6s orbelan/defrag time ratio: %.2f\n' "$round" "$(echo "${secs[orbelan]} / ${secs[defrag]}" | bc -l)"
  unset secs
done
