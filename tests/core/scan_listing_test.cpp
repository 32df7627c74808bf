// The listing the scan keeps of the folders the estimate samples, and the names it keeps of
// those it reads whole, in place of listing and stating them again.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "scan_tree_fixture.h"
#include "scan/counting_crew.h"
#include "scan/file_draws.h"
#include "numbers/random_bits.h"
#include "estimate/saving_estimate.h"
#include "estimate/saving_io.h"
#include "scan/scan_rules.h"

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

void ExpectSame(const SavingEstimate& a, const SavingEstimate& b) {
  EXPECT_EQ(a.Known, b.Known);
  EXPECT_EQ(a.Saving, b.Saving);
  EXPECT_EQ(a.Low, b.Low);
  EXPECT_EQ(a.High, b.High);
  EXPECT_EQ(a.Sampled, b.Sampled);
  EXPECT_EQ(a.Bytes, b.Bytes);
  EXPECT_EQ(a.Disk, b.Disk);
}

// A sampled folder of a few MiB keeps what listing it again would give, name for name in
// the directory's order (empty files, a sparse file, a link counted as another entry; hidden
// files, archives and folders left out as the scan leaves them), and its estimate comes out
// the same from either, whatever its bytes; a folder of more entries than are kept is listed
// again.
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
  ASSERT_TRUE(fromScan.Known);
  ExpectSame(fromScan, EstimateFolderSaving(relisted, Rules(), {}));

  // Past the entries kept: listed again when estimated.
  for (int i = 0; i < 16400; ++i) tree.Link("page0.txt", std::to_string(i) + ".link");
  const FolderRec many = Scanned(tree);
  EXPECT_TRUE(many.Draws == nullptr || !many.Draws->HasListing);
  for (int i = 0; i < 16400; ++i) tree.Remove(std::to_string(i) + ".link");
  // Of any bytes (a sparse file far past the sampled folders' class), kept all the same:
  // what it costs is by the entry.
  ASSERT_EQ(truncate(tree.PathOf("disk.img").c_str(), std::int64_t{5} << 40), 0);
  FolderRec large = Scanned(tree);
  ASSERT_NE(large.Draws, nullptr);
  ASSERT_TRUE(large.Draws->HasListing);
  saving::ListingOfScan(*large.Draws, kept);
  again = {};
  ASSERT_TRUE(reader.OpenPath(tree.Root()));
  ASSERT_TRUE(saving::ListFolder(reader, Rules(), nullptr, again));
  EXPECT_EQ(Describe(kept), Describe(again));
  const SavingEstimate largeFromScan = EstimateFolderSaving(large, Rules(), {});
  ASSERT_TRUE(largeFromScan.Known);
  large.Draws = nullptr;
  ExpectSame(largeFromScan, EstimateFolderSaving(large, Rules(), {}));
}

// The folders read as they are listed (tiny ones compressed whole, small ones read file by
// file) keep their names alone: read by those, they come out as listing them again gives,
// links counted by the scan's bytes, hidden files, archives and folders left out. A file
// gone since the scan is passed over, and one grown past the folder's class has it
// measured afresh, as listing again would.
TEST(ScanListing, ReadFoldersKeepTheirNamesAndEstimateAsListingAgain) {
  for (const std::size_t size : {std::size_t{1200}, std::size_t{21000}}) {  // tiny, small
    SCOPED_TRACE(size);
    TempTree tree;
    for (int i = 0; i < 12; ++i) Write(tree.PathOf("note" + std::to_string(i) + ".txt"), size + 7 * static_cast<std::size_t>(i), 60 + static_cast<std::uint64_t>(i));
    Write(tree.PathOf("empty.txt"), 0, 1);
    Write(tree.PathOf(".hidden"), 900, 2);
    Write(tree.PathOf("old.zip"), 700, 3);
    tree.Dir("sub");
    tree.Link("note1.txt", "link.txt");

    const FolderRec rec = Scanned(tree);
    ASSERT_NE(rec.Draws, nullptr);
    EXPECT_TRUE(rec.Draws->HasNames);
    EXPECT_FALSE(rec.Draws->HasListing);
    EXPECT_TRUE(rec.Draws->Listed.empty());
    std::string names;
    for (std::size_t at = 0; at < rec.Draws->ListedNames.size(); at = rec.Draws->ListedNames.find('\0', at) + 1)
      names += std::string(rec.Draws->ListedNames.c_str() + at) + " ";
    EXPECT_EQ(names.find(".hidden"), std::string::npos);
    EXPECT_EQ(names.find("old.zip"), std::string::npos);
    EXPECT_EQ(names.find("link.txt"), std::string::npos);  // another entry: its bytes alone
    EXPECT_NE(names.find("empty.txt"), std::string::npos);
    EXPECT_EQ(rec.Draws->ListedOtherBytes, static_cast<std::int64_t>(std::string("note1.txt").size()));

    FolderRec relisted = rec;
    relisted.Draws = nullptr;
    const SavingEstimate fromNames = EstimateFolderSaving(rec, Rules(), {});
    ASSERT_TRUE(fromNames.Known);
    EXPECT_GT(fromNames.Saving, 0);
    ExpectSame(fromNames, EstimateFolderSaving(relisted, Rules(), {}));

    // Gone since the scan: passed over, as listing again passes it over.
    tree.Remove("note3.txt");
    ExpectSame(EstimateFolderSaving(rec, Rules(), {}), EstimateFolderSaving(relisted, Rules(), {}));
    // Grown past its class since the scan: measured afresh from a new listing.
    Write(tree.PathOf("note5.txt"), 3 << 20, 77);
    const SavingEstimate grown = EstimateFolderSaving(rec, Rules(), {});
    ASSERT_TRUE(grown.Known);
    EXPECT_GT(grown.Bytes, 3 << 20);
    ExpectSame(grown, EstimateFolderSaving(relisted, Rules(), {}));
  }
}

}  // namespace
}  // namespace orbelan
