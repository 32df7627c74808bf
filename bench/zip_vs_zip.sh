#!/usr/bin/env bash
# Hand-run benchmark of Zip folder on folders of many small files: makes N small text files
# twice, zips one copy with `orbelan-zip --yes` (originals to the trash) and the other with
# `zip -q -m -r` (originals deleted), side by side in each round, and prints both times and
# their ratio, then the median ratio. The trash is one of the bench's own (XDG_DATA_HOME),
# on the same file system, and is emptied between rounds.
#
# Usage: bench/zip_vs_zip.sh [options]
#   --build DIR    build folder holding cli/orbelan-zip (default: ./build)
#   --files N      small files in each copy (default 6000)
#   --rounds N     rounds (default 3)
#   --where DIR    where the copies are made (default: a new folder under /var/tmp)
#   --subtree      spread the files over 10 subfolders and zip with --subtree
#
# The ratio of runs side by side is what compares fairly, not the seconds of one run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build" files=6000 rounds=3 where= subtree=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --where) where=$2; shift 2 ;;
    --subtree) subtree=1; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "zip_vs_zip.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
zipper="$build/cli/orbelan-zip"
[ -x "$zipper" ] || { echo "zip_vs_zip.sh: $zipper is missing (build first)" >&2; exit 2; }
command -v zip >/dev/null || { echo "zip_vs_zip.sh: zip is missing (scripts/install-deps.sh)" >&2; exit 2; }
work=${where:-$(mktemp -d /var/tmp/zip-vs-zip.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# N text files of 1-3 KB of varied words, the same in both copies.
make_copy() {
  python3 - "$1" "$files" "$subtree" <<'PY'
import os, random, sys
top, n, sub = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
words = "alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike".split()
rng = random.Random(7)
os.makedirs(top, exist_ok=True)
for i in range(n):
    folder = os.path.join(top, "d%d" % (i % 10)) if sub else top
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.txt" % i), "w") as f:
        f.write(" ".join(rng.choice(words) for _ in range(rng.randint(150, 450))))
PY
}

# Wall time, and processor time (user + system): on a shared machine the wall time also
# counts waiting for the other core, and orbelan-zip's waits for the disk (the archive and
# the trash records are made durable before any original moves; zip -m never syncs).
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null
  read -r wall user sys < "$work/time"
  echo "$wall $(echo "$user + $sys" | bc)"
}
ratios=() cpus=()
for round in $(seq 1 "$rounds"); do
  rm -rf "$work/ours" "$work/theirs" "$work/theirs.zip" "$work/data"
  make_copy "$work/ours"
  make_copy "$work/theirs"
  sync
  read -r ours oursCpu < <(XDG_DATA_HOME="$work/data" HOME="$work" timed "$zipper" --yes ${subtree:+--subtree} "$work/ours")
  sync
  read -r theirs theirsCpu < <(cd "$work" && timed zip -q -m -r theirs.zip theirs)
  ratio=$(echo "scale=2; $ours / $theirs" | bc)
  cpu=$(echo "scale=2; $oursCpu / $theirsCpu" | bc)
  ratios+=("$ratio")
  cpus+=("$cpu")
  printf 'round %d: %d files: orbelan-zip %.2f s (cpu %.2f), zip -m -r %.2f s (cpu %.2f), ratio %s (cpu %s)\n' \
    "$round" "$files" "$ours" "$oursCpu" "$theirs" "$theirsCpu" "$ratio" "$cpu"
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
echo "median ratio (orbelan-zip / zip): wall $(median "${ratios[@]}"), cpu $(median "${cpus[@]}")"
