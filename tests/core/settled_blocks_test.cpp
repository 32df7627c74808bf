// Tiny folders whose archive's block count their files' saving cannot move: not opened,
// or not every file deflated, with the disk figures of deflating every file.

#include "survey/settled_blocks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "survey/disk_saving.h"
#include "survey/folder_list.h"
#include "survey/folder_recount.h"
#include "survey/random_bits.h"
#include "survey/saving_estimate.h"
#include "survey/scan_rules.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

using saving::ArchiveBlocksSettled;
using testing::TempTree;

DiskUse Use(std::int64_t members, std::int64_t bytes) {
  DiskUse use;
  use.Members = members;
  use.NameBytes = 10 * members;
  use.Bytes = bytes;
  use.Allocated = 4096 * ((bytes + 4095) / 4096 + members);
  use.BlockSize = 4096;
  return use;
}

// The disk figures of a byte saving of exactly s, its folder zipped alone or as part of a
// larger zip (below nothing), with or without blocks other names keep.
std::vector<std::int64_t> Figures(DiskUse use, std::int64_t s) {
  std::vector<std::int64_t> out;
  for (const std::int64_t held : {std::int64_t{0}, use.Allocated / 2}) {
    for (const bool below : {false, true}) {
      use.Held = held;
      SavingEstimate est;
      est.Known = true;
      est.AsZipped = true;  // the zipper's own bytes: a point, not widened
      est.Saving = est.Low = est.High = s;
      AddDiskFigures(use, est, below);
      out.insert(out.end(), {est.Disk, est.DiskLow, est.DiskHigh});
    }
  }
  return out;
}

TEST(SettledBlocks, SettledMeansOneSetOfDiskFiguresForEverySavingInTheBounds) {
  // One file of 3,000 bytes: stored or deflated to nothing, its archive stays in one block.
  EXPECT_TRUE(ArchiveBlocksSettled(Use(1, 3000), 0, 3000));
  // 9,000 bytes stored take three blocks, deflated one: open, until the bounds narrow.
  EXPECT_FALSE(ArchiveBlocksSettled(Use(1, 9000), 0, 9000));
  EXPECT_TRUE(ArchiveBlocksSettled(Use(1, 9000), 7000, 7100));
  // A folder the scan gave no files or bytes is never taken as settled.
  EXPECT_FALSE(ArchiveBlocksSettled(DiskUse{}, 0, 0));
  EXPECT_FALSE(ArchiveBlocksSettled(Use(3, 0), 0, 0));

  // Settled bounds give every saving between them the same figures (AddDiskFigures' own
  // reckoning, not a copy that could drift from it).
  int settled = 0, open = 0;
  for (const std::int64_t members : {1, 4, 40}) {
    for (std::int64_t bytes = 500; bytes <= 20000; bytes += 1500) {
      const DiskUse use = Use(members, bytes);
      for (std::int64_t low = 0; low <= bytes; low += bytes / 7 + 1) {
        for (std::int64_t high = low; high <= bytes; high += bytes / 5 + 1) {
          if (!ArchiveBlocksSettled(use, low, high)) {
            ++open;
            continue;
          }
          ++settled;
          const std::vector<std::int64_t> first = Figures(use, low);
          for (std::int64_t s = low; s <= high; ++s)
            ASSERT_EQ(Figures(use, s), first) << members << " " << bytes << " " << low << "-" << high << " at " << s;
        }
      }
    }
  }
  EXPECT_GT(settled, 100);
  EXPECT_GT(open, 100);
}

ScanRules Rules() {
  ScanRules rules;
  rules.ZipExts.Append(".zip");
  return rules;
}

void Write(const std::string& path, const std::string& data) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
}

// Words from a small vocabulary: text deflate shrinks to about a third.
std::string Text(std::size_t size, std::uint64_t seed) {
  static const char* const kWords[] = {"tiny", "folder", "block", "edge", "archive", "the", "of", "saving"};
  std::string out;
  while (out.size() < size) {
    out += kWords[SplitMix64(seed) % 8];
    out += SplitMix64(seed) % 9 == 0 ? '\n' : ' ';
  }
  out.resize(size);
  return out;
}

std::int64_t Deflated(const std::string& data) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  std::vector<char> out(libdeflate_deflate_compress_bound(c, data.size()));
  const std::size_t n = libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  return std::max<std::int64_t>(0, static_cast<std::int64_t>(data.size()) - static_cast<std::int64_t>(n));
}

// The disk figures the folder gets when every file is deflated: saving exact, as before.
SavingEstimate AllDeflated(const FolderRec& rec, std::int64_t saving) {
  SavingEstimate est;
  est.Known = true;
  est.Saving = est.Low = est.High = saving;
  AddDiskFigures(rec.Disk, est);
  return est;
}

TEST(SettledBlocks, ATinyFolderIsReadOnlyAsFarAsItsBlocksNeed) {
  // A note alone: its archive takes one block whatever it saves. The folder is not even
  // opened: the note is gone once counted, and the estimate does not notice.
  TempTree tree;
  tree.Dir("note");
  Write(tree.PathOf("note/README"), Text(900, 1));
  FolderRec note;
  note.SetPath(tree.PathOf("note/"));
  RecountFolder(note, Rules());
  ASSERT_EQ(unlink(tree.PathOf("note/README").c_str()), 0);
  const SavingEstimate alone = EstimateFolderSaving(note, Rules(), EstimateOptions{});
  ASSERT_TRUE(alone.Known);
  EXPECT_EQ(alone.Sampled, 0);
  EXPECT_EQ(alone.Low, 0);
  EXPECT_EQ(alone.High, 900);
  EXPECT_EQ(alone.Bytes, 900);
  EXPECT_EQ(alone.Disk, AllDeflated(note, Deflated(Text(900, 1))).Disk);
  EXPECT_EQ(alone.DiskLow, alone.DiskHigh);

  // A long text beside short ones: the long one settles the blocks, the short ones are read
  // but left undeflated, inside the interval; the disk figures are those of deflating all.
  tree.Dir("mixed");
  const std::vector<std::string> files = {Text(14000, 2), Text(120, 3), Text(260, 4), Text(90, 5)};
  std::int64_t truth = 0, bytes = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Write(tree.PathOf("mixed/f" + std::to_string(i) + ".txt"), files[i]);
    truth += Deflated(files[i]);
    bytes += static_cast<std::int64_t>(files[i].size());
  }
  FolderRec mixed;
  mixed.SetPath(tree.PathOf("mixed/"));
  RecountFolder(mixed, Rules());
  const SavingEstimate partial = EstimateFolderSaving(mixed, Rules(), EstimateOptions{});
  ASSERT_TRUE(partial.Known);
  EXPECT_FALSE(partial.Exact());
  EXPECT_EQ(partial.Sampled, bytes);
  EXPECT_LE(partial.Low, truth);
  EXPECT_GE(partial.High, truth);
  EXPECT_LE(partial.Low, Deflated(files[0]));
  EXPECT_GE(partial.High, Deflated(files[0]) + 470);
  EXPECT_LE(partial.High, bytes);
  const SavingEstimate exact = AllDeflated(mixed, truth);
  EXPECT_EQ(partial.Disk, exact.Disk);
  EXPECT_EQ(partial.DiskLow, exact.DiskLow);
  EXPECT_EQ(partial.DiskHigh, exact.DiskHigh);
  EXPECT_EQ(partial.DiskLow, partial.DiskHigh);
  EXPECT_GT(partial.Disk, 0);

}

// Folders of a few texts of any length: whichever files were left undeflated, the disk
// figures are those of deflating every one, and the truth lies inside the interval.
TEST(SettledBlocks, FiguresAreThoseOfDeflatingEveryFile) {
  int partial = 0, exact = 0;
  for (std::uint64_t seed = 1; seed <= 24; ++seed) {
    TempTree tree;
    tree.Dir("f");
    std::uint64_t state = seed;
    const int count = 1 + static_cast<int>(SplitMix64(state) % 8);
    std::int64_t truth = 0, bytes = 0;
    for (int i = 0; i < count && bytes < 14000; ++i) {
      const auto size = static_cast<std::size_t>(
          std::min<std::uint64_t>(40 + SplitMix64(state) % 6000, static_cast<std::uint64_t>(16000 - bytes)));
      const std::string text = Text(size, SplitMix64(state));
      Write(tree.PathOf("f/t" + std::to_string(i)), text);
      truth += Deflated(text);
      bytes += static_cast<std::int64_t>(size);
    }
    FolderRec rec;
    rec.SetPath(tree.PathOf("f/"));
    RecountFolder(rec, Rules());
    const SavingEstimate est = EstimateFolderSaving(rec, Rules(), EstimateOptions{});
    ASSERT_TRUE(est.Known) << seed;
    SavingEstimate all;
    all.Known = true;
    all.Saving = all.Low = all.High = truth;
    if (ArchiveBlocksInDoubt(rec.Disk, all)) continue;  // settled by the zipper's deflate instead
    AddDiskFigures(rec.Disk, all);
    EXPECT_FALSE(est.AsZipped) << seed;
    EXPECT_LE(est.Low, truth) << seed;
    EXPECT_GE(est.High, truth) << seed;
    EXPECT_LE(est.High, bytes) << seed;
    EXPECT_EQ(est.Disk, all.Disk) << seed;
    EXPECT_EQ(est.DiskLow, all.DiskLow) << seed;
    EXPECT_EQ(est.DiskHigh, all.DiskHigh) << seed;
    if (est.Exact()) {
      ++exact;
      EXPECT_EQ(est.Saving, truth) << seed;
    } else {
      ++partial;
    }
  }
  EXPECT_GE(partial, 4);
  EXPECT_GE(exact, 2);
}

}  // namespace
}  // namespace orbelan
