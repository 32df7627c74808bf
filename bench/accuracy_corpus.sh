#!/usr/bin/env bash
# Builds the corpus for accuracy_bench in DIR (which must not exist yet):
#   made/     tiny files, a sparse disk image, hard links inside and across folders, text,
#             binaries and compressed media, in folders of 16 KiB to over 8 MiB, and folders
#             of many files of 4-64 KiB (random bytes, text, and random bytes with some text)
#   btrfs/    a btrfs image mounted with compress=zstd through a loop device (root only;
#             skipped with a note otherwise) holding logs, sources and binaries
#   real/     a real tree's small folders: copies of /usr/include, /usr/share/doc and part of
#             /usr/share/locale (--no-real leaves it out)
# Usage: bench/accuracy_corpus.sh DIR [--no-real]
# Afterwards: build/bench/accuracy_bench DIR; then umount DIR/btrfs (when mounted), rm -rf DIR.
set -eu  # no pipefail: head ends the listings below early
dir=${1:?usage: accuracy_corpus.sh DIR [--no-real]}
real=1
[ "${2:-}" = --no-real ] && real=0
[ -e "$dir" ] && { echo "$dir exists" >&2; exit 2; }
mkdir -p "$dir/made"
m="$dir/made"

# Lines of words with numbers, like logs and notes (seeded, so the corpus is the same).
text() {  # text BYTES SEED
  python3 - "$1" "$2" <<'PY'
import random, sys
n, seed = int(sys.argv[1]), int(sys.argv[2])
r = random.Random(seed)
words = ["disk", "folder", "saving", "zip", "block", "error", "user", "value", "line", "start",
         "stop", "read", "write", "time", "level", "file", "space", "mount", "link", "sparse"]
out = []
size = 0
while size < n:
    line = "%06d %s %s=%d %s\n" % (r.randrange(10**6), r.choice(words), r.choice(words), r.randrange(10**r.randrange(1, 7)), " ".join(r.choice(words) for _ in range(r.randrange(2, 12))))
    out.append(line)
    size += len(line)
sys.stdout.write("".join(out)[:n])
PY
}

# Tiny files: 5,000, 500 and 50 files of 20-800 bytes.
for count in 50 500 5000; do
  mkdir -p "$m/tiny-$count"
  python3 - "$m/tiny-$count" "$count" <<'PY'
import os, random, sys
folder, count = sys.argv[1], int(sys.argv[2])
r = random.Random(count)
for i in range(count):
    with open(os.path.join(folder, "note%05d.txt" % i), "w") as f:
        f.write(("entry %d: " % i + " ".join(r.choice(["alpha", "beta", "gamma", "delta", "omega"]) for _ in range(200)))[: r.randrange(20, 800)])
PY
done

# Text of several sizes, one folder each, and folders of many small text files.
for kib in 24 64 200 700 3000 7000 20000; do
  mkdir -p "$m/text-$kib"
  text $((kib * 1024)) "$kib" > "$m/text-$kib/log.txt"
done
notes() {  # notes FOLDER COUNT FIRST STEP SEED: COUNT text files of FIRST + (i * STEP) % 20000 bytes
  mkdir -p "$1"
  python3 - "$@" <<'PY'
import os, random, sys
folder, count, first, step, seed = sys.argv[1], *map(int, sys.argv[2:])
words = ["note", "value", "entry", "folder", "state", "check", "list", "name", "size", "date"]
for i in range(count):
    r = random.Random(seed + i)
    n = first + (i * step) % 20000
    text = "".join("%d %s %s\n" % (r.randrange(10**5), r.choice(words), " ".join(r.choice(words) for _ in range(r.randrange(3, 9)))) for _ in range(n // 20 + 1))
    with open(os.path.join(folder, "n%d.txt" % i), "w") as f:
        f.write(text[:n])
PY
}
for files in 8 40 150; do notes "$m/notes-$files" "$files" 1000 7919 $((files * 1000)); done

# Folders of many files of 4-64 KiB, as in a tree of downloads or caches: random bytes, text,
# and random bytes with a few text files among them (where a sample of the files must not
# miss what it does not read).
many() {  # many FOLDER COUNT TEXTSHARE SEED: COUNT files of 4-64 KiB, TEXTSHARE of them text
  mkdir -p "$1"
  python3 - "$@" <<'PY'
import os, random, sys
folder, count, share, seed = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
r = random.Random(seed)
words = ["cache", "entry", "value", "page", "item", "state", "node", "key", "block", "date"]
for i in range(count):
    n = int(4096 * 2 ** (r.random() * 4))
    if r.random() < share:
        data = "".join("%d %s %s\n" % (r.randrange(10**6), r.choice(words), " ".join(r.choice(words) for _ in range(r.randrange(2, 10)))) for _ in range(n // 20 + 1)).encode()[:n]
    else:
        data = r.randbytes(n)
    with open(os.path.join(folder, "f%03d.dat" % i), "wb") as f:
        f.write(data)
PY
}
for spec in "12 0 1" "30 0 2" "44 0 3" "20 1 4" "40 0.05 5" "25 0.1 6" "30 0.5 7" "16 0.25 8"; do
  set -- $spec
  many "$m/many-$1-$2" "$1" "$2" "$3"
done

# Binaries, compressed media and mixtures of real files.
mkdir -p "$m/bin-small" "$m/bin-large" "$m/media" "$m/mixed"
find /usr/bin -maxdepth 1 -type f -size -60k -size +8k | sort | head -12 | xargs -I{} cp {} "$m/bin-small/"
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +1M | sort | head -8 | xargs -I{} cp {} "$m/bin-large/"
find /usr/share -type f \( -name '*.png' -o -name '*.gz' -o -name '*.jpg' \) -size +20k | sort | head -40 | xargs -I{} cp --backup=numbered {} "$m/media/"
find /usr/share/doc -type f | sort | head -30 | xargs -I{} cp --backup=numbered {} "$m/mixed/"
find /usr/bin -maxdepth 1 -type f -size +100k -size -400k | sort | head -3 | xargs -I{} cp {} "$m/mixed/"

# A sparse disk image: 1 GiB holding 48 MiB of data in scattered runs, and holes at both ends.
mkdir -p "$m/sparse"
truncate -s 1G "$m/sparse/disk.img"
for ((i = 0; i < 12; i++)); do
  text $((4 << 20)) $((500 + i)) | dd of="$m/sparse/disk.img" bs=1M seek=$((40 + i * 80)) conv=notrunc status=none
done
text 30000 600 > "$m/sparse/notes.txt"

# Hard links: a pair inside one folder, and a file with a second name in another folder.
mkdir -p "$m/links-inside" "$m/links-across" "$m/links-other"
text $((4 << 20)) 700 > "$m/links-inside/a.log"
ln "$m/links-inside/a.log" "$m/links-inside/b.log"
text 200000 701 > "$m/links-inside/c.log"
text $((4 << 20)) 702 > "$m/links-across/shared.log"
ln "$m/links-across/shared.log" "$m/links-other/shared.log"
text 300000 703 > "$m/links-across/own.log"
text 100000 704 > "$m/links-other/own.log"

# btrfs with compress=zstd through a loop device (root only).
if [ "$(id -u)" = 0 ] && command -v mkfs.btrfs >/dev/null; then
  truncate -s 1G "$dir/.btrfs.img"
  mkfs.btrfs -q "$dir/.btrfs.img"
  mkdir -p "$dir/btrfs"
  mount -o loop,compress=zstd "$dir/.btrfs.img" "$dir/btrfs"
  b="$dir/btrfs"
  mkdir -p "$b/logs" "$b/logs-small" "$b/include" "$b/bin"
  text $((32 << 20)) 800 > "$b/logs/app.log"
  text $((300 << 10)) 801 > "$b/logs-small/app.log"
  cp /usr/include/*.h "$b/include/" 2>/dev/null || true
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +1M | sort | head -4 | xargs -I{} cp {} "$b/bin/"
  notes "$b/notes" 60 2000 500 900
  sync
else
  echo "btrfs part left out: needs root and mkfs.btrfs" >&2
fi

if [ "$real" = 1 ]; then
  mkdir -p "$dir/real/locale"
  cp -a /usr/include "$dir/real/include"
  cp -a /usr/share/doc "$dir/real/doc"
  for lang in de fr es it ja pt_BR ru zh_CN; do
    [ -d "/usr/share/locale/$lang" ] && cp -a "/usr/share/locale/$lang" "$dir/real/locale/"
  done
  # Symbolic links are never zipped; copies keep them, which is what a real tree has.
fi
sync
echo "corpus in $dir"
