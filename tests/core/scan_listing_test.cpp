// The listing the scan keeps of the folders the estimate samples, in place of listing and
// stating them again.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "scan_tree_fixture.h"
#include "survey/counting_crew.h"
#include "survey/file_draws.h"
#include "survey/random_bits.h"
#include "survey/saving_estimate.h"
#include "survey/saving_io.h"
#include "survey/scan_rules.h"

namespace orbelan {
namespace {

using testing::TempTree;

void Write(const std::string& path, std::size_t size, std::uint64_t seed) {
  std::string data(size, '\0');
  for (char& c : data) c = "abcdefgh ij\n"[SplitMix64(seed) % 12];
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
}

ScanRules Rules() {
  ScanRules rules;
  rules.ZipExts.Append(".zip");
  return rules;
}

FolderRec Scanned(const TempTree& tree) {
  FolderRec rec;
  rec.SetPath(tree.RootSlash());
  DirReader opener;
  EXPECT_TRUE(opener.OpenPath(tree.Root()));
  DirReader counter;
  LocalDayClock clock;
  FileDrawer drawer(ScanDrawLimits({}));
  CountFolderFiles(counter, opener.Fd(), rec, Rules(), clock, [] { return false; }, &drawer);
  return rec;
}

std::string Describe(const saving::Listing& l) {
  std::string out = std::to_string(l.regularBytes) + " " + std::to_string(l.otherBytes) + "\n";
  for (const saving::FileEntry& f : l.files)
    out += std::string(l.names.c_str() + f.nameOffset) + " " + std::to_string(f.size) + " " + std::to_string(f.allocated) + "\n";
  return out;
}

// A sampled folder of a few MiB keeps what listing it again would give, name for name in
// the directory's order (empty files, a sparse file, a link counted as another entry; hidden
// files, archives and folders left out as the scan leaves them), and its estimate comes out
// the same from either; a folder of more entries than are kept, or past the bytes kept, is
// listed again.
TEST(ScanListing, IsWhatListingAgainGivesAndTheEstimateIsTheSame) {
  TempTree tree;
  for (int i = 0; i < 40; ++i) Write(tree.PathOf("page" + std::to_string(i) + ".txt"), static_cast<std::size_t>(20000 + 1500 * i), 30 + static_cast<std::uint64_t>(i));
  Write(tree.PathOf("empty.txt"), 0, 1);
  Write(tree.PathOf(".hidden"), 5000, 2);
  Write(tree.PathOf("old.zip"), 7000, 3);
  tree.Dir("sub");
  tree.Link("page1.txt", "link.txt");
  const int sparse = open(tree.PathOf("disk.img").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(sparse, 0);
  ASSERT_EQ(ftruncate(sparse, 3 << 20), 0);
  ASSERT_EQ(pwrite(sparse, "data", 4, 1 << 20), 4);
  close(sparse);

  const FolderRec rec = Scanned(tree);
  ASSERT_NE(rec.Draws, nullptr);
  ASSERT_TRUE(rec.Draws->HasListing);
  saving::Listing kept, again;
  saving::ListingOfScan(*rec.Draws, kept);
  DirReader reader;
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  ASSERT_TRUE(saving::ListFolder(reader, Rules(), nullptr, again));
  EXPECT_EQ(Describe(kept), Describe(again));
  EXPECT_EQ(kept.files.size(), 42u);

  FolderRec relisted = rec;
  relisted.Draws = nullptr;
  const SavingEstimate fromScan = EstimateFolderSaving(rec, Rules(), {});
  const SavingEstimate listedAgain = EstimateFolderSaving(relisted, Rules(), {});
  ASSERT_TRUE(fromScan.Known);
  EXPECT_EQ(fromScan.Saving, listedAgain.Saving);
  EXPECT_EQ(fromScan.Low, listedAgain.Low);
  EXPECT_EQ(fromScan.High, listedAgain.High);
  EXPECT_EQ(fromScan.Sampled, listedAgain.Sampled);
  EXPECT_EQ(fromScan.Bytes, listedAgain.Bytes);
  EXPECT_EQ(fromScan.Disk, listedAgain.Disk);

  // Past the entries kept: listed again when estimated.
  for (int i = 0; i < 4100; ++i) tree.Link("page0.txt", std::to_string(i) + ".link");
  const FolderRec many = Scanned(tree);
  EXPECT_TRUE(many.Draws == nullptr || !many.Draws->HasListing);
  for (int i = 0; i < 4100; ++i) tree.Remove(std::to_string(i) + ".link");
  // Past the bytes kept.
  ASSERT_EQ(truncate(tree.PathOf("disk.img").c_str(), 9 << 20), 0);
  const FolderRec large = Scanned(tree);
  EXPECT_TRUE(large.Draws == nullptr || !large.Draws->HasListing);
}

}  // namespace
}  // namespace orbelan
