// Files drawn by their bytes while a folder is counted: the chance of each file, which
// folders keep draws, and that a scan on any number of threads draws the same files.

#include "scan/file_draws.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "scan/folder_list.h"
#include "scan/folder_recount.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::TempTree;

// prefix, n and suffix joined (appending keeps GCC 12's -Wrestrict false alarm away).
std::string Numbered(const std::string& prefix, int n, const char* suffix = "") {
  std::string out(prefix);
  out.append(std::to_string(n));
  out.append(suffix);
  return out;
}

std::vector<std::string> NamesOf(const FileDraws& draws) {
  std::vector<std::string> names;
  for (std::size_t j = 0; j < draws.Sizes.size(); ++j) names.emplace_back(draws.Name(j));
  return names;
}

using Files = std::vector<std::pair<std::string, std::int64_t>>;

// One folder's files offered to a drawer, in their order or the reverse.
std::shared_ptr<const FileDraws> Draw(const FileDrawLimits& limits, const Files& files, bool reversed) {
  FileDrawer drawer(limits);
  drawer.Begin();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [name, size] = files[reversed ? files.size() - 1 - i : i];
    drawer.Offer(name, size);
  }
  return drawer.Finish();
}

// Over many seeds each draw lands on a file about as often as its share of the bytes, in
// whichever order the files come.
TEST(FileDrawer, DrawsEachFileByItsShareOfTheBytes) {
  const Files files = {
      {"small", 1000}, {"medium", 3000}, {"large", 6000}, {"empty", 0}};
  for (bool reversed : {false, true}) {
    std::map<std::string, int> hits;
    constexpr int kSeeds = 5000;
    for (int seed = 1; seed <= kSeeds; ++seed) {
      FileDrawLimits limits;
      limits.UpTo = 1 << 20;
      limits.Seed = static_cast<std::uint64_t>(seed);
      const auto draws = Draw(limits, files, reversed);
      ASSERT_NE(draws, nullptr);
      for (const std::string& name : NamesOf(*draws)) ++hits[name];
    }
    const double all = 4.0 * kSeeds;
    EXPECT_EQ(hits.count("empty"), 0u);
    // 20,000 draws: a share p is off by more than 4 standard deviations once in 30,000.
    for (const auto& [name, share] : {std::pair{"small", 0.1}, {"medium", 0.3}, {"large", 0.6}}) {
      const double tolerance = 4 * std::sqrt(share * (1 - share) / all);
      EXPECT_NEAR(hits[name] / all, share, tolerance) << name << (reversed ? " reversed" : "");
    }
  }
}

TEST(FileDrawer, KeepsDrawsOnlyForFoldersWithinItsLimits) {
  FileDrawLimits limits;
  limits.Above = 100;
  limits.UpTo = 1000;
  FileDrawer drawer(limits);
  auto drawOf = [&](std::int64_t regular, std::int64_t other) {
    drawer.Begin();
    if (regular > 0) drawer.Offer("file", regular);
    if (other > 0) drawer.Other(other);
    return drawer.Finish();
  };
  EXPECT_EQ(drawOf(100, 0), nullptr);   // small enough to be compressed whole
  EXPECT_EQ(drawOf(1001, 0), nullptr);  // large enough to be listed and sampled
  EXPECT_EQ(drawOf(0, 500), nullptr);   // links only: nothing to draw
  EXPECT_EQ(drawOf(950, 51), nullptr);  // a link's bytes count towards the folder's size

  const auto draws = drawOf(90, 20);
  ASSERT_NE(draws, nullptr);
  EXPECT_EQ(NamesOf(*draws), (std::vector<std::string>(FileDraws::kCount, "file")));
  for (std::int64_t size : draws->Sizes) EXPECT_EQ(size, 90);
  EXPECT_EQ(draws->RegularBytes, 90);
  EXPECT_EQ(draws->OtherBytes, 20);

  FileDrawer off(FileDrawLimits{});
  EXPECT_FALSE(off.On());
  off.Begin();
  off.Offer("file", 500);
  EXPECT_EQ(off.Finish(), nullptr);
}

// A folder's draws are the same whichever thread counts it; they name only the files behind
// its Unzipped figure, with their sizes; a scan not asked for draws makes none, and a recount
// forgets them.
TEST(FileDrawer, ScansDrawTheCountedFilesAlikeOnAnyThreads) {
  TempTree tree;
  for (int d = 0; d < 12; ++d) {
    const std::string dir = Numbered("d", d);
    tree.Dir(dir);
    for (int f = 0; f < 6; ++f) tree.File(Numbered(dir + "/file", f, ".txt"), 1000 * (f + d + 1));
    tree.File(dir + "/packed.zip", 50000);   // an archive
    tree.File(dir + "/scratch.tmp", 50000);  // ignored
    tree.File(dir + "/.hidden", 50000);      // not counted
    tree.Link("file0.txt", dir + "/link.txt");
  }
  FileDrawLimits limits;
  limits.Above = 1000;
  limits.UpTo = 1 << 20;
  std::map<int, std::map<std::string, std::vector<std::string>>> byThreads;
  for (int threads : {1, 2, 4}) {
    Scan scan(threads);
    ScanRules rules;
    rules.ZipExts.Append(".zip");
    rules.IgnoreExts.Append(".tmp");
    scan.scanner.SetRules(rules);
    scan.scanner.SetFileDraws(limits);
    ASSERT_TRUE(scan.scanner.Run(tree.Root()));
    for (const FolderRec& rec : scan.folders) {
      if (rec.Path() == tree.RootSlash()) {
        EXPECT_EQ(rec.Draws, nullptr);  // no files at all
        continue;
      }
      ASSERT_NE(rec.Draws, nullptr) << rec.Path();
      const FileDraws& draws = *rec.Draws;
      EXPECT_EQ(draws.RegularBytes + draws.OtherBytes, rec.SzFiles - rec.SzZips);
      EXPECT_EQ(draws.OtherBytes, 9);  // the link's own size: "file0.txt"
      for (std::size_t j = 0; j < draws.Sizes.size(); ++j) {
        const std::string name(draws.Name(j));
        EXPECT_EQ(name.rfind("file", 0), 0u) << name;
        const int f = name[4] - '0';
        const int d = std::stoi(rec.Name().substr(1));
        EXPECT_EQ(draws.Sizes[j], 1000 * (f + d + 1)) << name;
      }
      byThreads[threads][rec.Path()] = NamesOf(draws);
    }
    if (threads == 1) {
      FolderRec& first = scan.folders[1];
      RecountFolder(first, rules);
      EXPECT_EQ(first.Draws, nullptr);
    }
  }
  EXPECT_EQ(byThreads[1].size(), 12u);
  EXPECT_EQ(byThreads[2], byThreads[1]);
  EXPECT_EQ(byThreads[4], byThreads[1]);

  Scan plain(2);
  ASSERT_TRUE(plain.scanner.Run(tree.Root()));
  for (const FolderRec& rec : plain.folders) EXPECT_EQ(rec.Draws, nullptr) << rec.Path();
}

// A small folder keeps which files need not be read: every empty file, and the short files
// beyond a sample of them; the sample is the same whatever the order of the directory, and
// over many seeds every short file is in it about equally often (a simple random sample).
// It keeps its larger files' hashes and sizes too, lowest hash first, in any order.
TEST(FileDrawer, SmallFoldersKeepASampleOfTheirShortFiles) {
  FileDrawLimits limits;
  limits.ShortAbove = 16 << 10;
  limits.ShortUpTo = 1 << 20;
  limits.ShortFile = 4096;
  limits.ShortSample = 4;
  limits.LargerFrom = 3;
  Files files;
  for (int i = 0; i < 12; ++i) files.emplace_back(Numbered("short", i), 100 + 300 * i);  // 12 short ones
  files.emplace_back("empty", 0);
  files.emplace_back("long", 50000);
  files.emplace_back("longer", 90000);
  files.emplace_back("just over", 4097);
  std::map<std::string, int> sampled;
  constexpr int kSeeds = 3000;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    limits.Seed = static_cast<std::uint64_t>(seed);
    std::vector<std::uint64_t> skippedBy[2];
    std::vector<std::pair<std::uint64_t, std::int64_t>> sampleBy[2], largerBy[2];
    for (bool reversed : {false, true}) {
      const auto draws = Draw(limits, files, reversed);
      ASSERT_NE(draws, nullptr);
      EXPECT_EQ(draws->Sizes[0], 0);  // no draws of files: only what need not be read
      EXPECT_EQ(draws->SampledShortFiles, 4);
      EXPECT_EQ(draws->SkippedShortFiles, 8);
      EXPECT_TRUE(draws->Skips("empty", limits.Seed));
      EXPECT_FALSE(draws->Skips("long", limits.Seed));
      std::int64_t skippedBytes = 0;
      for (const auto& [name, size] : files) {
        if (size == 0 || size > 4096 || draws->Skips(name, limits.Seed)) {
          if (size > 0 && size <= 4096) skippedBytes += size;
          continue;
        }
        if (!reversed) ++sampled[name];
      }
      EXPECT_EQ(draws->SkippedShortBytes, skippedBytes);
      skippedBy[reversed] = draws->Skipped;
      // The sample as read: lowest name hash first (any first few of it are the lowest
      // hashes of all), each with its size, none of them skipped.
      sampleBy[reversed] = draws->Sample;
      largerBy[reversed] = draws->Larger;
      std::vector<std::pair<std::uint64_t, std::int64_t>> larger;
      for (const char* name : {"long", "longer", "just over"})
        larger.emplace_back(NameHash(limits.Seed, name), name[0] == 'j' ? 4097 : name[4] == 'e' ? 90000 : 50000);
      std::sort(larger.begin(), larger.end());
      EXPECT_EQ(draws->Larger, larger);
      ASSERT_EQ(draws->Sample.size(), 4u);
      EXPECT_TRUE(std::is_sorted(draws->Sample.begin(), draws->Sample.end()));
      for (const auto& [name, size] : files) {
        const std::uint64_t hash = NameHash(limits.Seed, name);
        const auto in = std::find_if(draws->Sample.begin(), draws->Sample.end(), [&](const auto& f) { return f.first == hash; });
        EXPECT_EQ(in != draws->Sample.end(), size > 0 && size <= 4096 && !draws->Skips(name, limits.Seed)) << name;
        if (in != draws->Sample.end()) {
          EXPECT_EQ(in->second, size) << name;
        } else if (size > 0 && size <= 4096) {
          EXPECT_GT(hash, draws->Sample.back().first) << name;
        }
      }
    }
    EXPECT_EQ(skippedBy[0], skippedBy[1]) << seed;
    EXPECT_EQ(sampleBy[0], sampleBy[1]) << seed;
    EXPECT_EQ(largerBy[0], largerBy[1]) << seed;
  }
  ASSERT_EQ(sampled.size(), 12u);
  for (const auto& [name, hits] : sampled) EXPECT_NEAR(hits, kSeeds / 3.0, kSeeds * 0.04) << name;

  // A folder of no more short files than the sample skips only its empty files; one outside
  // the small folders' range keeps nothing.
  FileDrawer few(limits);
  few.Begin();
  few.Offer("a", 3000);
  few.Offer("b", 20000);
  few.Offer("nothing", 0);
  const auto fewDraws = few.Finish();
  ASSERT_NE(fewDraws, nullptr);
  EXPECT_EQ(fewDraws->Skipped.size(), 1u);
  EXPECT_EQ(fewDraws->SkippedShortFiles, 0);
  ASSERT_EQ(fewDraws->Sample.size(), 1u);
  EXPECT_EQ(fewDraws->Sample[0], std::make_pair(NameHash(limits.Seed, "a"), std::int64_t{3000}));
  EXPECT_TRUE(fewDraws->Larger.empty());  // fewer larger files than a reader would sample
  FileDrawer big(limits);
  big.Begin();
  for (int i = 0; i < 20; ++i) big.Offer(Numbered("s", i), 1000);
  big.Offer("huge", 2 << 20);
  EXPECT_EQ(big.Finish(), nullptr);
}

}  // namespace
}  // namespace orbelan
