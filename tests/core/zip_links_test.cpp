// Hard links through Zip folder, Zip subtree, orbelan-zip and undo, on real files and a real
// trash: a file whose every name goes into the archive gives back its blocks once, and only
// once the last name is in the trash; a file with a name elsewhere gives back nothing. The
// summary's figure is held against the space an emptied trash really gives back.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "archive/zip_messages.h"
#include "archive/zip_undo.h"
#include "cli/zip_command.h"
#include "settings/settings.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "scan/folder_recount.h"
#include "estimate/saving_estimate.h"
#include "survey/saving_sum.h"
#include "survey/subtree_totals.h"
#include "tests/core/zip_fixture.h"

namespace orbelan {
namespace {

using testing::Exists;
using testing::Names;
using testing::Noise;
using testing::ReadAll;
using testing::Text;
using testing::WriteAll;

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::int64_t Blocks(const std::string& path) { return static_cast<std::int64_t>(StatOf(path).st_blocks) * 512; }

void Link(const std::string& from, const std::string& to) {
  ASSERT_EQ(::link(from.c_str(), to.c_str()), 0) << from << " -> " << to;
}

// What emptying the trash would give back, told by the trash alone: the blocks of each
// file there whose every name is there.
std::int64_t FreedByEmptying(const std::string& trash) {
  std::map<std::pair<dev_t, ino_t>, std::pair<nlink_t, std::int64_t>> files;  // names there, blocks
  std::map<std::pair<dev_t, ino_t>, nlink_t> links;
  for (const std::string& name : Names(trash + "/files/")) {
    const struct stat st = StatOf(trash + "/files/" + name);
    auto& [names, blocks] = files[{st.st_dev, st.st_ino}];
    ++names;
    blocks = static_cast<std::int64_t>(st.st_blocks) * 512;
    links[{st.st_dev, st.st_ino}] = st.st_nlink;
  }
  std::int64_t freed = 0;
  for (const auto& [file, seen] : files)
    if (seen.first >= links[file]) freed += seen.second;
  return freed;
}

class ZipLinksTest : public testing::ZipFolderTest {
 protected:
  ZipResult PlanSubtreeAndRun(const std::string& top, const std::vector<std::string>& below, ZipPlan& plan) {
    FolderZipper zipper(options);
    const ZipResult planned = zipper.PlanSubtree(top, below, rules, plan);
    if (planned.Outcome != ZipOutcome::Done) return planned;
    return zipper.Run(plan);
  }
};

TEST_F(ZipLinksTest, APairInsideGivesBackItsBlocksOnceAndUndoMakesThemLinksAgain) {
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  WriteAll(At("c.log"), Text(50000, "single"));
  const std::int64_t pair = Blocks(At("a.log"));
  const std::int64_t single = Blocks(At("c.log"));

  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.Members.size(), 3u);
  EXPECT_EQ(plan.Allocated, pair + single);  // the pair once
  EXPECT_EQ(plan.HardLinked, 0);
  EXPECT_EQ(plan.LinkedTogether, 2);
  EXPECT_NE(ZipQuestionText(plan, std::nullopt)
                .find("These files take " + GroupedNumber(pair + single) +
                      " bytes of disk space (2 files that are hard links of one another count once)"),
            std::string::npos)
      << ZipQuestionText(plan, std::nullopt);

  const ZipResult r = zipper.Run(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  // Moving the first name changed the file's change time; the second still went.
  EXPECT_TRUE(r.Changed.empty()) << NameList(r.Changed);
  EXPECT_EQ(r.TrashedFiles, 3);
  EXPECT_EQ(r.TrashedHeld, 0);
  EXPECT_FALSE(Exists(At("a.log")));
  EXPECT_FALSE(Exists(At("b.log")));
  EXPECT_EQ(r.Freed, pair + single - r.ArchiveAllocated);
  EXPECT_EQ(r.Freed, FreedByEmptying(home) - Blocks(At(r.ArchiveName)));
  const std::string summary = ZipSummaryText(r, std::nullopt);
  EXPECT_NE(summary.find(GroupedNumber(r.Freed) + " bytes of disk space come back"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("give back nothing"), std::string::npos) << summary;

  // Both names come back from the trash as the one file they were.
  const UndoResult undone = UndoZip(At(r.ArchiveName), UndoOptions{home, {}});
  ASSERT_EQ(undone.Outcome, ZipOutcome::Done) << undone.Message;
  EXPECT_EQ(undone.Restored, 3);
  EXPECT_EQ(undone.Relinked, 2);
  const struct stat a = StatOf(At("a.log")), b = StatOf(At("b.log"));
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_nlink, 2u);
  EXPECT_EQ(ReadAll(At("b.log")), Text(200000, "pair"));
  EXPECT_NE(UndoSummaryText(undone, r.ArchiveName).find("Put back 3 files of 3 in " + folder +
                                                        ", 2 of them hard links of one another again; "),
            std::string::npos)
      << UndoSummaryText(undone, r.ArchiveName);
}

TEST_F(ZipLinksTest, WithoutLeasesBothNamesOfAPairStillGo) {
  if (::geteuid() != 0) GTEST_SKIP() << "without leases only root, who sees every process, may trash a file";
  options.UseLeases = false;
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedFiles, 2);
  EXPECT_TRUE(r.Changed.empty()) << NameList(r.Changed);
  EXPECT_EQ(r.Freed, FreedByEmptying(home) - r.ArchiveAllocated);
  EXPECT_GT(r.Freed, 0);
}

TEST_F(ZipLinksTest, APairAcrossFoldersFreesNothingFromOneAndOnceFromTheirParent) {
  tree.Dir("Work/A");
  tree.Dir("Work/B");
  WriteAll(At("A/shared.log"), Text(200000, "shared"));
  Link(At("A/shared.log"), At("B/shared.log"));
  WriteAll(At("A/own.log"), Text(60000, "own"));
  const std::int64_t shared = Blocks(At("A/shared.log"));
  const std::int64_t own = Blocks(At("A/own.log"));

  // Zip folder on A: the name in B keeps the blocks.
  const std::string top = folder;
  folder = top + "A/";
  FolderZipper zipper(options);
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  EXPECT_EQ(plan.Allocated, own);
  EXPECT_EQ(plan.HardLinked, 1);
  EXPECT_NE(ZipDiskSpaceText(plan).find("(not counting 1 file with hard links outside these files, which give "
                                        "back nothing)"),
            std::string::npos)
      << ZipDiskSpaceText(plan);

  // Zip subtree on their parent: both names go, the blocks come back once.
  folder = top;
  const ZipResult r = PlanSubtreeAndRun(top, {top + "A/", top + "B/"}, plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(plan.Allocated, shared + own);
  EXPECT_EQ(plan.HardLinked, 0);
  EXPECT_EQ(plan.LinkedTogether, 2);
  EXPECT_EQ(r.TrashedFiles, 3);
  EXPECT_TRUE(r.Changed.empty()) << NameList(r.Changed);
  EXPECT_EQ(r.Freed, shared + own - r.ArchiveAllocated);
  EXPECT_EQ(r.Freed, FreedByEmptying(home) - r.ArchiveAllocated);
  EXPECT_EQ(r.FoldersRemoved, 2);

  const UndoResult undone = UndoZip(top + r.ArchiveName, UndoOptions{home, {}});
  ASSERT_EQ(undone.Outcome, ZipOutcome::Done) << undone.Message;
  EXPECT_EQ(undone.Relinked, 2);
  EXPECT_EQ(StatOf(At("A/shared.log")).st_ino, StatOf(At("B/shared.log")).st_ino);
}

TEST_F(ZipLinksTest, ThreeLinksWithOneOutsideGiveBackNothingThoughBothInsideGo) {
  tree.Dir("Other");
  WriteAll(At("a.log"), Text(200000, "three"));
  Link(At("a.log"), At("b.log"));
  Link(At("a.log"), tree.PathOf("Other/c.log"));
  WriteAll(At("own.log"), Text(200000, "own"));
  const std::int64_t own = Blocks(At("own.log"));
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(plan.Allocated, own);
  EXPECT_EQ(plan.HardLinked, 2);
  EXPECT_EQ(plan.LinkedTogether, 0);
  EXPECT_EQ(r.TrashedFiles, 3);
  EXPECT_EQ(r.TrashedHeld, 2);
  EXPECT_EQ(r.Freed, own - r.ArchiveAllocated);
  EXPECT_EQ(r.Freed, FreedByEmptying(home) - r.ArchiveAllocated);
  EXPECT_EQ(StatOf(tree.PathOf("Other/c.log")).st_nlink, 3u);  // two of its names in the trash
  const std::string summary = ZipSummaryText(r, std::nullopt);
  EXPECT_NE(summary.find("2 files in the trash give back nothing: another hard link outside the trash keeps "
                         "their disk space."),
            std::string::npos)
      << summary;
}

TEST_F(ZipLinksTest, ANameThatStaysKeepsThePairsBlocksAndTheSummarySaysSo) {
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  WriteAll(At("own.log"), Text(200000, "own"));
  const std::int64_t own = Blocks(At("own.log"));

  // Written to through its other name once the first has gone: the second stays.
  options.AfterMove = [&](const ZipMember& m, const TrashEntry&) {
    if (m.Name != "a.log") return;
    const int fd = ::open(At("b.log").c_str(), O_WRONLY);
    EXPECT_EQ(::pwrite(fd, "X", 1, 0), 1);
    ::close(fd);
  };
  ZipPlan plan;
  ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.Changed, std::vector<std::string>{"b.log"});
  EXPECT_EQ(r.TrashedFiles, 2);
  EXPECT_EQ(r.TrashedHeld, 1);
  EXPECT_EQ(r.Freed, own - r.ArchiveAllocated);
  EXPECT_EQ(r.Freed, FreedByEmptying(home) - r.ArchiveAllocated);
  EXPECT_EQ(ReadAll(At("b.log")).substr(0, 1), "X");
  EXPECT_NE(ZipSummaryText(r, std::nullopt).find("1 file in the trash gives back nothing"), std::string::npos);

  // Refused by the trash for the second name: the same.
  const std::string second = tree.PathOf("Second") + "/";
  tree.Dir("Second");
  folder = second;
  home = tree.PathOf("home2/Trash");
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  WriteAll(At("own.log"), Text(200000, "own"));
  const std::int64_t ownHere = Blocks(At("own.log"));
  options.HomeTrash = home;
  options.AfterMove = nullptr;
  // An immutable file cannot be renamed (root only may set the flag): set after the check.
  if (::geteuid() != 0) GTEST_SKIP() << "making a file immutable needs root";
  options.BeforeMove = [&](const ZipMember& m) {
    if (m.Name == "b.log") {
      ASSERT_TRUE(testing::SetImmutable(At("b.log"), true));
    }
  };
  r = PlanAndRun(plan);
  testing::SetImmutable(At("b.log"), false);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.NotTrashed, std::vector<std::string>{"b.log"});
  EXPECT_EQ(r.NotTrashedWhy, std::vector<std::string>{"Operation not permitted"});
  EXPECT_EQ(r.TrashedHeld, 1);
  EXPECT_EQ(r.Freed, ownHere - r.ArchiveAllocated);
}

TEST_F(ZipLinksTest, ACancelLeavesBothNamesAsTheyWere) {
  WriteAll(At("a.log"), Text(300000, "pair"));
  Link(At("a.log"), At("b.log"));
  FolderZipper* running = nullptr;
  // The cancel comes as the second name is about to be read.
  options.BeforeRead = [&](const ZipMember& m) {
    if (m.Name == "b.log") running->CancelRequested = true;
  };
  FolderZipper zipper(options);
  running = &zipper;
  ZipPlan plan;
  ASSERT_EQ(zipper.Plan(folder, rules, plan).Outcome, ZipOutcome::Done);
  const ZipResult r = zipper.Run(plan);
  EXPECT_EQ(r.Outcome, ZipOutcome::Cancelled);
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"a.log", "b.log"}));
  EXPECT_EQ(StatOf(At("a.log")).st_nlink, 2u);
  EXPECT_TRUE(Names(home + "/files").empty());
}

TEST_F(ZipLinksTest, TheSummarysFigureIsWhatAnEmptiedTrashGivesBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system of the test's own needs root";
  // A file system nobody else writes to, so its free space changes only by the zip.
  const std::string vol = tree.PathOf("vol");
  ::mkdir(vol.c_str(), 0755);
  ASSERT_EQ(::mount("tmpfs", vol.c_str(), "tmpfs", 0, "size=16m"), 0);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{vol};
  // Its own trash: the home trash is on another file system.
  home = tree.PathOf("home/Trash");
  options.HomeTrash = home;
  const std::string trash = vol + "/.Trash-" + std::to_string(::getuid());
  auto freeBytes = [&] {
    struct statvfs fs {};
    EXPECT_EQ(::statvfs(vol.c_str(), &fs), 0);
    return static_cast<std::int64_t>(fs.f_bfree) * static_cast<std::int64_t>(fs.f_frsize);
  };
  auto emptyTrash = [&] {
    for (const char* part : {"/files/", "/info/"})
      for (const std::string& name : Names(trash + part)) EXPECT_EQ(::unlink((trash + part + name).c_str()), 0);
  };
  ::mkdir((vol + "/Work").c_str(), 0755);
  ::mkdir((vol + "/Other").c_str(), 0755);
  folder = vol + "/Work/";
  WriteAll(At("pair-a.log"), Text(700000, "pair"));
  Link(At("pair-a.log"), At("pair-b.log"));
  WriteAll(At("three-a.log"), Text(300000, "three"));
  Link(At("three-a.log"), At("three-b.log"));
  Link(At("three-a.log"), vol + "/Other/three-c.log");
  WriteAll(At("own.log"), Text(90000, "own"));
  WriteAll(At("tiny.txt"), "a few bytes");

  const std::int64_t before = freeBytes();
  ZipPlan plan;
  const ZipResult r = PlanAndRun(plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  ASSERT_EQ(r.TrashedFiles, 6);
  ASSERT_TRUE(Exists(trash + "/files/pair-b.log"));
  emptyTrash();
  const std::int64_t freed = freeBytes() - before;
  EXPECT_EQ(r.Freed, freed);
  EXPECT_GT(freed, 0);
  EXPECT_NE(ZipSummaryText(r, std::nullopt).find(GroupedNumber(freed) + " bytes of disk space come back"),
            std::string::npos);
  EXPECT_EQ(ReadAll(vol + "/Other/three-c.log"), Text(300000, "three"));
}

TEST_F(ZipLinksTest, UndoSaysWhatANameGoneFromTheTrashBecomes) {
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  const ZipResult r = PlanAndRun();
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  // One name emptied from the trash: the other holds the file and comes back alone.
  ASSERT_EQ(::unlink((home + "/files/b.log").c_str()), 0);
  ASSERT_EQ(::unlink((home + "/info/b.log.trashinfo").c_str()), 0);
  const UndoResult undone = UndoZip(At(r.ArchiveName), UndoOptions{home, {}});
  ASSERT_EQ(undone.Outcome, ZipOutcome::Done) << undone.Message;
  EXPECT_EQ(undone.Restored, 1);
  EXPECT_EQ(undone.Relinked, 0);
  EXPECT_EQ(undone.Missing, std::vector<std::string>{"b.log"});
  EXPECT_TRUE(undone.MissingLikeAnother);
  EXPECT_EQ(StatOf(At("a.log")).st_nlink, 1u);
  EXPECT_TRUE(Exists(At(r.ArchiveName)));  // it holds the only copy of b.log
  const std::string text = UndoSummaryText(undone, r.ArchiveName);
  EXPECT_NE(text.find("1 file is no longer in the trash as zipped (the archive still holds them): b.log"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Unzipped from the archive, a file that was a hard link of another comes back as a copy "
                      "of its own: a zip keeps no hard links."),
            std::string::npos)
      << text;

  // A missing file unlike any other is not said to be one.
  folder = tree.PathOf("Plain") + "/";
  tree.Dir("Plain");
  WriteAll(At("x.log"), Text(200000, "x"));
  WriteAll(At("y.log"), Text(200000, "y"));
  const ZipResult plain = PlanAndRun();
  ASSERT_EQ(plain.Outcome, ZipOutcome::Done) << plain.Message;
  ASSERT_EQ(::unlink((home + "/files/y.log").c_str()), 0);
  const UndoResult some = UndoZip(At(plain.ArchiveName), UndoOptions{home, {}});
  EXPECT_EQ(some.Missing, std::vector<std::string>{"y.log"});
  EXPECT_FALSE(some.MissingLikeAnother);
  EXPECT_EQ(UndoSummaryText(some, plain.ArchiveName).find("hard link"), std::string::npos);
}

TEST_F(ZipLinksTest, OrbelanZipAndItsUndoKeepAPair) {
  WriteAll(At("a.log"), Text(200000, "pair"));
  Link(At("a.log"), At("b.log"));
  Settings settings;
  settings.SetDefaults();
  std::istringstream in;
  std::ostringstream out, err;
  ZipCommandContext c;
  c.settings = &settings;
  c.in = &in;
  c.out = &out;
  c.err = &err;
  c.zip = options;
  c.undo = UndoOptions{home, {}};
  ASSERT_EQ(RunZipCommand({"--yes", folder}, c), kZipDone) << err.str();
  EXPECT_NE(out.str().find("bytes of disk space come back when the trash is emptied"), std::string::npos) << out.str();
  EXPECT_EQ(Names(folder).size(), 1u);  // the archive alone
  const auto archive = FindUndoableArchive(folder);
  ASSERT_TRUE(archive);
  ASSERT_EQ(RunZipCommand({"--yes", "--undo", folder + *archive}, c), kZipDone) << err.str();
  EXPECT_NE(out.str().find("2 of them hard links of one another again"), std::string::npos) << out.str();
  EXPECT_EQ(StatOf(At("a.log")).st_ino, StatOf(At("b.log")).st_ino);
}

TEST_F(ZipLinksTest, ASubtreesEstimateGivesBackAPairAcrossItsFoldersAsItsZipDoes) {
  tree.Dir("Work/A");
  tree.Dir("Work/B");
  tree.Dir("Work/C");
  tree.Dir("Other");
  // Half of it does not compress: B's copy in the archive takes room B cannot pay for alone.
  WriteAll(At("A/shared.log"), Text(300000, "shared") + Noise(300000, 7));
  Link(At("A/shared.log"), At("B/shared.log"));
  WriteAll(At("A/own.log"), Text(90000, "own"));
  WriteAll(At("C/kept.log"), Text(300000, "kept"));  // its other name is outside the subtree
  Link(At("C/kept.log"), tree.PathOf("Other/kept.log"));
  WriteAll(At("C/plain.log"), Text(90000, "plain"));
  const std::int64_t shared = Blocks(At("A/shared.log"));

  FolderList folders;
  for (const std::string& path : {folder, folder + "A/", folder + "B/", folder + "C/"}) folders.AddFolder(path, rules);
  std::map<const FolderRec*, SavingEstimate> estimates;
  EstimateOptions whole;
  whole.WholeLimit = 64 << 20;
  for (std::int64_t i = 0; i < folders.Count(); ++i) {
    RecountFolder(folders[i], rules);
    estimates[&folders[i]] = EstimateFolderSaving(folders[i], rules, whole);
  }
  SubtreeTotals totals;
  totals.Build(folders);
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* {
    const auto found = estimates.find(&rec);
    return found == estimates.end() ? nullptr : &found->second;
  });
  std::int64_t folderByFolder = 0;
  for (const auto& [rec, est] : estimates) folderByFolder += est.Disk;
  // Each folder alone holds the pair: A's figure leaves it out, and so does A's subtree.
  EXPECT_EQ(folders[1].Disk.Held, shared);
  EXPECT_EQ(totals.SavingOf(folders[1])->Saving, estimates[&folders[1]].Disk);
  // Work holds both names: its subtree gives the blocks back once. The file with a name in
  // Other stays held.
  const SavingSum& top = *totals.SavingOf(folders[0]);
  ASSERT_TRUE(top.Complete());
  EXPECT_GT(top.Saving, folderByFolder);

  ZipPlan plan;
  const ZipResult r = PlanSubtreeAndRun(folder, {folder + "A/", folder + "B/", folder + "C/"}, plan);
  ASSERT_EQ(r.Outcome, ZipOutcome::Done) << r.Message;
  EXPECT_EQ(r.TrashedHeld, 1);  // C/kept.log
  // Folder by folder, three archives are reckoned where the zip writes one: each rounded up
  // to a block, each with its own manifest and end record.
  EXPECT_LE(top.Saving, r.Freed);
  EXPECT_GE(top.Saving, r.Freed - 3 * plan.BlockBytes) << "estimated " << top.Saving << ", freed " << r.Freed;
}

}  // namespace
}  // namespace orbelan
