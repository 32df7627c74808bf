#!/usr/bin/env python3
"""Makes a deterministic folder tree for the benches and the timing test.

Same arguments, same tree: folders of random depth and fan-out, a few very full folders,
empty folders, hidden (dot) folders and files, names with spaces, UTF-8 and shell-hostile
characters, one 255-byte name, archive-like names in mixed case, sparse files (large sizes
on little disk), symbolic links (to files, to folders, dangling) and hard links, and odd
modification times. Beside the tree, DIR.manifest.json holds what a scan that skips every
name beginning with "." and follows no link must count: survey_folders, survey_files and
survey_bytes (a link counts as a file of its own size; each hard link counts).

Usage: make-tree.py --root DIR [--dirs N] [--files N] [--largest N] [--seed N] [-q]
"""
import argparse
import json
import os
import random
import sys

NAMES = ["Photos", "Music", "docs", "Work", "build", "src", "Invoices", "mail", "Temp",
         "Report 2019", "été", "naïve ñ", "a'b", 'q"t', "$HOME", "semi;colon", "back\\slash",
         "tab\there", "Ω", "X_9", "cache", "Backup", "old", "new"]
EXTS = [".txt", ".dat", ".bin", ".pdf", ".jpg", ".log", ".c", ".h", ".zip", ".ZIP", ".gz",
        ".7z", ".Rar", ".tar.gz", ".ex_", ".tmp", ".doc", ""]


def make(root, dirs, files, largest, seed, quiet):
    rng = random.Random(seed)
    os.makedirs(root, exist_ok=False)
    folders = [root]
    visible = [root]  # folders a survey records (no dot folder on their path)
    # Folders: each new one goes below a random earlier one, so depth and fan-out vary;
    # every 40th is hidden, and what is below a hidden one is hidden too.
    hidden = {root: False}
    for i in range(dirs - 1):
        parent = folders[rng.randrange(len(folders))] if rng.random() < 0.7 else folders[-1]
        name = rng.choice(NAMES) + " " + str(i) if rng.random() < 0.5 else "d%d" % i
        if i % 40 == 39:
            name = "." + name
        path = os.path.join(parent, name)
        os.mkdir(path)
        folders.append(path)
        hidden[path] = hidden[parent] or name.startswith(".")
        if not hidden[path]:
            visible.append(path)
    # A chain of long names, deeper than 260 bytes, and one name of 255 bytes.
    chain = root
    for i in range(6):
        chain = os.path.join(chain, ("long%d-" % i).ljust(60, "n"))
        os.mkdir(chain)
        folders.append(chain)
        hidden[chain] = False
        visible.append(chain)
    longest = os.path.join(root, "L" * 255)
    os.mkdir(longest)
    folders.append(longest)
    hidden[longest] = False
    visible.append(longest)

    # Files: Pareto-skewed over the folders, one folder much fuller than the rest.
    weights = [rng.paretovariate(1.2) for _ in folders]
    weights[len(folders) // 2] = sum(weights) / 10
    made = 0
    regular = []
    for target in rng.choices(range(len(folders)), weights=weights, k=files):
        folder = folders[target]
        name = "f%d%s" % (made, rng.choice(EXTS))
        if made % 50 == 7:
            name = "." + name
        elif made % 97 == 3:
            name = rng.choice(NAMES) + " %d.txt" % made
        path = os.path.join(folder, name)
        size = int(rng.paretovariate(1.1) * 300) if rng.random() < 0.98 else rng.randrange(largest)
        size = min(size, largest)
        with open(path, "wb") as f:
            if made % 5000 == 11:
                f.truncate(rng.randrange(1 << 30, 16 << 30))  # sparse: large, little disk
            else:
                f.write(b"orbelan " * (size // 8) + b"x" * (size % 8))
        when = rng.choice([0, -86400 * 400, 2 ** 31 + 86400, 1_600_000_000 + rng.randrange(10 ** 8)])
        try:
            os.utime(path, (when, when))
        except OSError:
            pass
        if not hidden[folder] and not name.startswith("."):
            regular.append(path)
        made += 1
    # Links: to files, to folders, dangling, a loop; and hard links.
    for i in range(max(1, files // 1000)):
        folder = folders[rng.randrange(len(folders))]
        kind = i % 4
        link = os.path.join(folder, "link%d" % i)
        # Relative targets: the same tree wherever it is made.
        if kind == 0 and regular:
            os.symlink(os.path.relpath(rng.choice(regular), folder), link)
        elif kind == 1:
            os.symlink(os.path.relpath(folders[rng.randrange(len(folders))], folder), link)
        elif kind == 2:
            os.symlink("missing%d" % i, link)
        else:
            os.symlink(".", link)  # a loop back to its own folder
        if regular and i % 3 == 0:
            os.link(rng.choice(regular), os.path.join(folder, "hard%d" % i))

    # What a survey counts, by walking what was made: names beginning with "." are skipped,
    # links are not followed and count with their own size.
    survey_folders = survey_files = survey_bytes = 0
    stack = [root]
    while stack:
        folder = stack.pop()
        survey_folders += 1
        with os.scandir(folder) as entries:
            for entry in entries:
                if entry.name.startswith("."):
                    continue
                if entry.is_dir(follow_symlinks=False):
                    stack.append(entry.path)
                else:
                    survey_files += 1
                    survey_bytes += entry.stat(follow_symlinks=False).st_size
    manifest = {"root": root, "dirs": dirs, "files": files, "largest": largest, "seed": seed,
                "survey_folders": survey_folders, "survey_files": survey_files,
                "survey_bytes": survey_bytes}
    with open(root.rstrip("/") + ".manifest.json", "w") as f:
        json.dump(manifest, f, indent=1)
    if not quiet:
        print(json.dumps(manifest))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--dirs", type=int, default=20000)
    parser.add_argument("--files", type=int, default=300000)
    parser.add_argument("--largest", type=int, default=1 << 20,
                        help="bytes of the largest file written (sparse files aside)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("-q", action="store_true", help="print nothing")
    args = parser.parse_args()
    if args.dirs < 1 or args.files < 0 or args.largest < 1:
        parser.error("--dirs from 1, --files from 0, --largest from 1")
    make(os.path.abspath(args.root), args.dirs, args.files, args.largest, args.seed, args.q)
    return 0


if __name__ == "__main__":
    sys.exit(main())
