// Folders' entries handed from phase 1 of a scan to phase 2: each goes to the first counter
// that asks, never to two, within a bound; and a scan that counts from them gives the
// figures of one that lists every folder again.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "scan/folder_list.h"
#include "scan/listing_handoff.h"
#include "scan/scan_rules.h"
#include "scan/scanner.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::TempTree;

FolderEntries EntriesOf(const std::vector<std::string>& names) {
  FolderEntries entries;
  for (const std::string& name : names) {
    DirEntry entry;
    entry.Name = name.c_str();
    entry.NameLength = name.size();
    entry.Type = DT_REG;
    entries.Add(entry);
  }
  return entries;
}

std::vector<std::string> NamesIn(const std::string& bytes) {
  std::vector<std::string> names;
  FolderEntries::Cursor cursor(bytes);
  DirEntry entry;
  while (cursor.Next(entry)) {
    EXPECT_EQ(entry.Type, DT_REG);
    names.emplace_back(entry.NameView());
  }
  return names;
}

TEST(ListingHandoff, EntriesGoToTheFirstCounterOnlyAndAnOfferAfterItIsDropped) {
  ListingHandoff handoff(1 << 20);
  handoff.Grow(3);
  const std::vector<std::string> names = {"a", "with space", "new\nline", std::string("bad\xff"), ""};
  FolderEntries offered = EntriesOf(names);
  ASSERT_TRUE(handoff.Offer(0, offered));
  FolderEntries again = EntriesOf({"x"});
  EXPECT_FALSE(handoff.Offer(0, again)) << "one offer per record";

  const auto taken = handoff.Take(0);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(NamesIn(*taken), names);
  EXPECT_EQ(handoff.Take(0), nullptr) << "never to two counters";

  // A counter that came before phase 1 had read the folder listed it itself.
  EXPECT_EQ(handoff.Take(1), nullptr);
  FolderEntries late = EntriesOf({"b"});
  EXPECT_FALSE(handoff.Offer(1, late));

  FolderEntries empty;
  ASSERT_TRUE(handoff.Offer(2, empty)) << "a folder with nothing to count is offered too";
  const auto none = handoff.Take(2);
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(NamesIn(*none).empty());
}

TEST(ListingHandoff, HoldsNoMoreThanItsBoundAndTakingGivesTheRoomBack) {
  const FolderEntries probe = EntriesOf({"0123456789"});
  const std::size_t one = probe.Bytes();
  ListingHandoff handoff(2 * one);
  handoff.Grow(5000);  // a second chunk of slots
  FolderEntries a = EntriesOf({"0123456789"}), b = EntriesOf({"abcdefghij"}), c = EntriesOf({"ABCDEFGHIJ"});
  ASSERT_TRUE(handoff.Offer(4097, a));
  ASSERT_TRUE(handoff.Offer(1, b));
  EXPECT_FALSE(handoff.Room(one));
  EXPECT_FALSE(handoff.Offer(2, c)) << "over the bound";
  EXPECT_EQ(c.Bytes(), one) << "what is refused stays with phase 1";
  EXPECT_EQ(handoff.Take(2), nullptr);
  EXPECT_EQ(NamesIn(*handoff.Take(4097)), std::vector<std::string>{"0123456789"});
  EXPECT_TRUE(handoff.Room(one));
  FolderEntries d = EntriesOf({"klmnopqrst"});
  EXPECT_TRUE(handoff.Offer(3, d));
  // What nobody took is freed with the handoff (checked by the address sanitizer's leak check).
}

TEST(ListingHandoff, EachRecordGoesToOneSideWhileOffersAndTakesRace) {
  constexpr int kRecords = 20000;
  for (int round = 0; round < 3; ++round) {
    ListingHandoff handoff(1 << 20);
    handoff.Grow(kRecords);
    std::atomic<int> published{0};
    std::vector<int> takenBy(kRecords, 0);
    std::vector<char> kept(kRecords, 0);
    std::thread writer([&] {
      for (int i = 0; i < kRecords; ++i) {
        published.store(i + 1, std::memory_order_release);
        FolderEntries entries = EntriesOf({std::to_string(i)});
        kept[i] = handoff.Offer(i, entries) ? 1 : 0;
      }
    });
    std::atomic<int> next{0};
    std::vector<std::thread> readers;
    std::atomic<int> mismatched{0};
    for (int r = 0; r < 3; ++r) {
      readers.emplace_back([&, r] {
        for (;;) {
          int i = next.load();
          if (i >= kRecords) return;
          if (i >= published.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            continue;
          }
          if (!next.compare_exchange_weak(i, i + 1)) continue;
          takenBy[i] = r + 1;
          if (const auto listed = handoff.Take(i)) {
            if (NamesIn(*listed) != std::vector<std::string>{std::to_string(i)}) ++mismatched;
            takenBy[i] = -(r + 1);  // counted from the handoff
          }
        }
      });
    }
    writer.join();
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(mismatched.load(), 0);
    for (int i = 0; i < kRecords; ++i) {
      ASSERT_NE(takenBy[i], 0) << i;
      // Kept by the handoff exactly when a counter got it from there: nothing kept is lost.
      ASSERT_EQ(kept[i] == 1, takenBy[i] < 0) << i;
    }
  }
}

using Figures = std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                           std::int64_t, std::int64_t, double, std::int64_t>;

std::vector<Figures> FiguresOf(const FolderList& folders) {
  std::vector<Figures> out;
  for (const FolderRec& rec : folders)
    out.emplace_back(rec.Path(), rec.NFiles, rec.NIgno, rec.NZips, rec.SzFiles, rec.SzIgno, rec.SzZips,
                     rec.Recent, rec.Disk.Allocated);
  return out;
}

// Folders of a few to a few hundred entries: files of each kind the scan tells apart, hidden
// files and folders, links, subfolders among the files.
void MakeTree(const TempTree& tree, int width) {
  for (int i = 0; i < width; ++i) {
    const std::string top = "top" + std::to_string(i);
    tree.Dir(top);
    tree.File(top + "/.hidden", 999);
    tree.Dir(top + "/.git");
    tree.File(top + "/.git/config", 50);
    for (int f = 0; f < i * i * 3; ++f) {
      std::string name = top + "/file number " + std::to_string(f);
      name += f % 3 == 0 ? ".zip" : f % 3 == 1 ? ".tmp" : ".txt";
      tree.File(name, 10 * f + i, 1'600'000'000 + 86'400LL * f);
      if (f % 40 == 0) tree.Dir(top + "/sub" + std::to_string(f));
    }
    tree.Link("../top0", top + "/to-folder");
  }
}

TEST(ListingHandoff, AScanCountingFromHandedEntriesGivesTheFiguresOfListingAgainAtAnyBound) {
  TempTree tree;
  MakeTree(tree, 11);
  TempTree other;
  MakeTree(other, 4);
  other.File("top3/only-here.txt", 77);

  // Phase 2 alone lists every folder itself: the figures to match.
  auto Relisted = [](const TempTree& t) {
    Scan scan(1);
    scan.scanner.SetRules(testing::ZipAndTmpRules());
    scan.scanner.FindFolders(t.Root());
    scan.scanner.ScanFiles();
    return FiguresOf(scan.folders);
  };
  const std::vector<Figures> expected = Relisted(tree);
  const std::vector<Figures> expectedOther = Relisted(other);
  ASSERT_EQ(expected.size(), 1u + 11 + 34);  // the start, its folders and their sub<f> folders

  // Bounds that hold nothing, that run out part way through a folder and between folders,
  // and the default.
  for (std::size_t bound : {std::size_t{0}, std::size_t{100}, std::size_t{5000}, ListingHandoff::kDefaultBudget}) {
    for (int threads : {1, 2, 4}) {
      Scan scan(threads);
      scan.scanner.SetRules(testing::ZipAndTmpRules());
      scan.scanner.SetHandoffBound(bound);
      ASSERT_TRUE(scan.scanner.Run(tree.Root()));
      EXPECT_EQ(FiguresOf(scan.folders), expected) << bound << " " << threads;
      // The same scanner on another tree counts nothing of the first.
      ASSERT_TRUE(scan.scanner.Run(other.Root()));
      EXPECT_EQ(FiguresOf(scan.folders), expectedOther) << bound << " " << threads;
    }
  }
}

}  // namespace
}  // namespace orbelan
