#!/usr/bin/env bash
# Installs everything Orbelan needs to build, test and run on Debian 12. Safe to run twice.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  python3  # tools/make-tree.py: the trees the benches and the timing test scan
  qt6-base-dev libgtest-dev libgmock-dev nlohmann-json3-dev
  libdeflate-dev libarchive-dev zlib1g-dev libzstd-dev liblzo2-dev
  liblz4-dev  # small folders' yardstick over every byte
  liburing-dev  # small folders' files opened and read in batches
  btrfs-progs xfsprogs  # loop-mounted images: compression, reflinks, snapshots
  btrfs-compsize  # what a compressing btrfs really stores, the tests' truth
  fonts-liberation fonts-dejavu-core
  xdg-utils adwaita-qt6 qt6ct trash-cli
  zip bc time  # bench/zip_vs_zip.sh: zip -m -r beside orbelan-zip, timed
  bindfs  # a FUSE mount for the zipper's test on FUSE
  dpkg-dev desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
