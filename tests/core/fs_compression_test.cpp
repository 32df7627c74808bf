// File-system compression: which mounts compress, what a chunk takes once compressed, and
// on a real btrfs image mounted through a loop device (as root) that files stored
// compressed are found and measured.

#include "fsfacts/fs_compression.h"
#include "fsfacts/mount_facts.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "scan/folder_list.h"
#include "scan/folder_recount.h"
#include "estimate/saving_estimate.h"
#include "tests/core/loop_mount.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

using testing::BtrfsMount;
using testing::CompsizeDiskBytes;
using testing::WriteFile;

TEST(FsCompression, MountOptionsNameTheCodecAndLevel) {
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,relatime,compress=zstd:3,space_cache=v2").Codec, FsCodec::Zstd);
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,compress=zstd:3").Level, 3);
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,compress-force=zlib:9").Codec, FsCodec::Zlib);
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,compress-force=zlib:9").Level, 9);
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,compress=lzo,ssd").Codec, FsCodec::Lzo);
  EXPECT_EQ(CompressionFromOptions("btrfs", "rw,compress=zstd").Level, 0);
  EXPECT_FALSE(CompressionFromOptions("btrfs", "rw,relatime,ssd").Compresses());
  EXPECT_FALSE(CompressionFromOptions("btrfs", "rw,compress=no").Compresses());
  // Other file systems tell compressed space in st_blocks themselves.
  EXPECT_FALSE(CompressionFromOptions("zfs", "rw,compress=zstd").Compresses());
  EXPECT_FALSE(CompressionFromOptions("ext4", "rw,relatime").Compresses());
}

TEST(FsCompression, MountInfoLinesGiveDevicesAndTheirCompression) {
  const std::string info =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "35 22 0:45 / /mnt/data rw,relatime shared:20 - btrfs /dev/loop0 rw,compress=zstd:5,space_cache=v2\n"
      "36 22 0:46 / /mnt/odd\\040name rw - btrfs /dev/loop1 rw,compress-force=lzo\n"
      "37 22 259:2 / /home rw,relatime - xfs /dev/nvme0n1p2 rw,attr2,inode64\n"
      "38 22 0:47 / /mnt/plain rw - btrfs /dev/loop2 rw,ssd\n"
      "garbage line\n"
      "\n";
  const std::vector<MountEntry> mounts = ParseMounts(info);
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[0].Device, makedev(8, 1));
  EXPECT_FALSE(mounts[0].Facts.Compression.Compresses());
  EXPECT_EQ(mounts[1].Device, makedev(0, 45));
  EXPECT_EQ(mounts[1].Facts.Compression.Codec, FsCodec::Zstd);
  EXPECT_EQ(mounts[1].Facts.Compression.Level, 5);
  EXPECT_EQ(mounts[2].Facts.Compression.Codec, FsCodec::Lzo);
  EXPECT_EQ(mounts[2].Point, "/mnt/odd name");
  // Whose extents are asked for: those that compress, and those whose files may share
  // blocks (reflinks, snapshots) whether they compress or not; never ext4's.
  EXPECT_FALSE(mounts[0].Facts.AskExtents());
  EXPECT_TRUE(mounts[1].Facts.AskExtents());
  EXPECT_TRUE(mounts[3].Facts.SharesExtents);
  EXPECT_FALSE(mounts[3].Facts.Compression.Compresses());
  EXPECT_TRUE(mounts[4].Facts.AskExtents());
}

std::string Text(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {"GET /index.html ", "200 ", "404 ", "user=", "alpha ", "beta\n", "12:00:01 ", "ok "};
  std::mt19937 gen(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[gen() % 8];
    s += std::to_string(gen() % 1000);
  }
  s.resize(n);
  return s;
}

TEST(FsCompression, ChunksShrinkToWholeSectorsAndNeverGrow) {
  const std::string text = Text(128 * 1024, 1);
  std::string noise(128 * 1024, '\0');
  std::mt19937 gen(2);
  for (char& ch : noise) ch = static_cast<char>(gen());
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const auto* r = reinterpret_cast<const unsigned char*>(noise.data());
  for (FsCodec codec : {FsCodec::Zstd, FsCodec::Zlib, FsCodec::Lzo}) {
    const FsCompression c{codec, 0};
    const std::int64_t stored = StoredChunkBytes(c, t, text.size());
    EXPECT_EQ(stored % 4096, 0);
    EXPECT_LT(stored, 64 * 1024) << static_cast<int>(codec);
    EXPECT_EQ(StoredChunkBytes(c, r, noise.size()), 128 * 1024) << static_cast<int>(codec);
    EXPECT_EQ(StoredChunkBytes(c, t, 100), 4096);
  }
  // A higher zstd level never stores more of text like this.
  EXPECT_LE(StoredChunkBytes({FsCodec::Zstd, 15}, t, text.size()), StoredChunkBytes({FsCodec::Zstd, 1}, t, text.size()));
  EXPECT_EQ(StoredChunkBytes({FsCodec::None, 0}, t, 5000), 8192);
}


void CheckCompressingMount(const std::string& options) {
  BtrfsMount btrfs(options);
  if (!btrfs.Ready()) GTEST_SKIP() << "btrfs loop mount with " << options << " skipped: " << btrfs.Why();
  const std::string folder = btrfs.Root() + "/logs";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  for (int i = 0; i < 12; ++i) WriteFile(folder + "/day" + std::to_string(i) + ".log", Text(1 << 20, static_cast<std::uint32_t>(i)));
  // Files that end inside a block, some small enough to be kept inline in the metadata:
  // their last extent's blocks reach past their end.
  for (int i = 0; i < 30; ++i)
    WriteFile(folder + "/note" + std::to_string(i) + ".txt", Text(700 + static_cast<std::size_t>(i) * 277, 100 + static_cast<std::uint32_t>(i)));
  Settings defaults;
  defaults.SetDefaults();
  const ScanRules settings = defaults.Rules();
  FolderRec rec;
  rec.SetPath(folder + "/");
  RecountFolder(rec, settings);
  ASSERT_TRUE(MountFactsOfFolder(rec.Disk.Device, rec.Path()).Compression.Compresses()) << options;
  const SavingEstimate est = EstimateFolderSaving(rec, settings, EstimateOptions{});
  ASSERT_TRUE(est.Known);
  // st_blocks counts the bytes before compression; FIEMAP finds them stored compressed.
  EXPECT_GE(est.Allocated, 12 << 20);
  EXPECT_GT(est.FsCompressed, 11 << 20);
  EXPECT_EQ(est.FsUnmeasured, 0);
  EXPECT_LT(est.FsStored, est.FsCompressed / 2);
  EXPECT_LE(est.FsStoredLow, est.FsStored);
  EXPECT_GE(est.FsStoredHigh, est.FsStored);
  // The disk given back is what the file system stores now less the archive: far below
  // the allocated blocks less the archive.
  EXPECT_LT(est.DiskHigh, est.Allocated - (est.Allocated - est.Saving) / 2);
  const std::int64_t truth = CompsizeDiskBytes(folder);
  if (truth >= 0) {
    EXPECT_LE(est.FsStoredLow, truth) << options;
    EXPECT_GE(est.FsStoredHigh, truth) << options;
    std::printf("%s: compsize %lld, estimate %lld [%lld, %lld]\n", options.c_str(), static_cast<long long>(truth),
                static_cast<long long>(est.FsStored), static_cast<long long>(est.FsStoredLow),
                static_cast<long long>(est.FsStoredHigh));
  }
}

TEST(FsCompression, BtrfsWithZstdStoresLessThanItsBlocksSay) { CheckCompressingMount("compress=zstd"); }
TEST(FsCompression, BtrfsWithZlibStoresLessThanItsBlocksSay) { CheckCompressingMount("compress=zlib"); }

}  // namespace
}  // namespace orbelan

namespace orbelan {
namespace {

using testing::BtrfsMount;
using testing::WriteFile;

// Mounts come and go between the scan and the estimate: a folder counted on a compressing
// mount that is gone by the estimate, and a folder a new mount covers. Neither crashes,
// nothing outside the folder is read, and the figures stay within what the folder had.
TEST(FsCompression, AMountComingOrGoingBetweenScanAndEstimate) {
  BtrfsMount btrfs("compress=zstd");
  if (!btrfs.Ready()) GTEST_SKIP() << "btrfs loop mount skipped: " << btrfs.Why();
  Settings defaults;
  defaults.SetDefaults();
  const ScanRules settings = defaults.Rules();
  const std::string folder = btrfs.Root() + "/logs";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  for (int i = 0; i < 4; ++i) WriteFile(folder + "/part" + std::to_string(i) + ".log", Text(300000, 300 + static_cast<std::uint32_t>(i)));
  FolderRec gone;
  gone.SetPath(folder + "/");
  RecountFolder(gone, settings);
  ASSERT_TRUE(MountFactsOfFolder(gone.Disk.Device, gone.Path()).Compression.Compresses());
  // The mount goes (its point stays, empty): only what is there now is read.
  ASSERT_EQ(std::system(("umount -d " + btrfs.Root()).c_str()), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);  // the same path on the file system below
  const SavingEstimate afterUnmount = EstimateFolderSaving(gone, settings, EstimateOptions{});
  EXPECT_EQ(afterUnmount.Sampled, 0);
  if (afterUnmount.Known) {
    EXPECT_LE(afterUnmount.DiskLow, afterUnmount.DiskHigh);
    EXPECT_LE(afterUnmount.DiskHigh, gone.Disk.Allocated);
  }
  rmdir(folder.c_str());

  // A folder counted on the file system below, then covered by a new mount with one file.
  testing::TempTree tree;
  tree.Dir("covered");
  for (int i = 0; i < 3; ++i) WriteFile(tree.PathOf("covered/old" + std::to_string(i) + ".txt"), Text(200000, 320 + static_cast<std::uint32_t>(i)));
  FolderRec covered;
  covered.SetPath(tree.PathOf("covered") + "/");
  RecountFolder(covered, settings);
  if (std::system(("mount -t tmpfs -o size=4m none " + tree.PathOf("covered")).c_str()) != 0)
    GTEST_SKIP() << "tmpfs mount refused";
  WriteFile(tree.PathOf("covered/new.txt"), Text(5000, 330));
  const SavingEstimate underMount = EstimateFolderSaving(covered, settings, EstimateOptions{});
  EXPECT_LE(underMount.Sampled, 5000 + 4 * 4096);  // the new mount's file, nothing else
  EXPECT_LE(underMount.DiskHigh, covered.Disk.Allocated);
  EXPECT_EQ(std::system(("umount " + tree.PathOf("covered")).c_str()), 0);
}

}  // namespace
}  // namespace orbelan
