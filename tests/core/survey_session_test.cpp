// The survey session on real temporary trees, driven as the window and the report drive it:
// scan, rows, estimate and subtree totals agreeing with each other; an estimate stopped
// and resumed; an estimate order made ahead; a second scan by other rules; a recount and a
// subtree rescan that keep the other folders' estimates.

#include "survey/survey_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "scan/folder_figures.h"
#include "estimate/saving_small.h"
#include "tests/core/file_helpers.h"

namespace orbelan {
namespace {

using testing::Noise;
using testing::TempTree;
using testing::Text;
using testing::WriteAll;

// Waits on the session's results (never on a clock) until the run is over; false when it
// had not ended after a minute.
bool RunToTheEnd(SurveySession& session) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (session.Estimating()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    session.WaitForResults(std::chrono::seconds(1));
    session.TakeResults();
  }
  return true;
}

std::vector<const FolderRec*> Listed(const ResultRows& rows) {
  std::vector<const FolderRec*> listed;
  for (const ResultRow& row : rows.Rows) listed.push_back(row.Rec);
  return listed;
}

std::vector<std::string> Paths(const ResultRows& rows, const std::string& root) {
  std::vector<std::string> paths;
  for (const ResultRow& row : rows.Rows) paths.push_back(row.Rec->Path().substr(root.size()));
  return paths;
}

class SurveySessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.Dir("text");
    tree.Dir("text/deep");
    tree.Dir("noise");
    tree.Dir("kept");
    WriteAll(tree.PathOf("text/a.txt"), Text(90000, "a"));
    WriteAll(tree.PathOf("text/b.log"), Text(30000, "b"));
    WriteAll(tree.PathOf("text/deep/c.txt"), Text(50000, "c"));
    WriteAll(tree.PathOf("noise/n.bin"), Noise(40000, 7));
    WriteAll(tree.PathOf("kept/old.zip"), Noise(20000, 8));  // an archive: nothing to zip
    rules.ZipExts.Append(".zip");
    root = tree.RootSlash();
  }

  // Scans the tree, lists it by path and estimates every listed folder.
  void ScanAndEstimate() {
    ASSERT_TRUE(session.Scan(root, rules, true));
    const ResultRows rows = session.Rows(0, 1, 0, false, false);
    ASSERT_TRUE(session.Estimate(Listed(rows)));
    ASSERT_TRUE(RunToTheEnd(session));
  }

  TempTree tree;
  ScanRules rules;
  std::string root;
  testing::ScriptedObserver observer;
  SurveySession session{observer, 1};
};

TEST_F(SurveySessionTest, ScanRowsEstimateAndTotalsAgree) {
  ASSERT_TRUE(session.Scan(root, rules, true));
  EXPECT_EQ(session.Folders().Count(), 5);
  // The rows: every folder with files, by path; the empty start folder is not listed.
  ResultRows rows = session.Rows(0, 1, 0, false, false);
  EXPECT_EQ(Paths(rows, root), (std::vector<std::string>{"kept/", "noise/", "text/", "text/deep/"}));
  // The minimum size takes out the folders of at most 60 KB.
  EXPECT_EQ(Paths(session.Rows(60, 1, 0, false, false), root), (std::vector<std::string>{"text/"}));
  // Subtree rows show each folder with everything below it: text/ holds deep's bytes too.
  const ResultRows subtreeRows = session.Rows(100, 1, 0, false, true);
  EXPECT_EQ(Paths(subtreeRows, root), (std::vector<std::string>{"", "text/"}));

  // The estimate: largest Unzipped first, and every listed folder gets its figure.
  ASSERT_TRUE(session.Estimate(Listed(rows)));
  EXPECT_TRUE(session.Estimating());
  std::vector<std::int64_t> order;
  for (const FolderRec* rec : session.Order()) order.push_back(UnzippedBytes(*rec));
  EXPECT_EQ(order, (std::vector<std::int64_t>{120000, 50000, 40000, 0}));  // kept/ has nothing to zip
  // Waiting for the end returns once the last result is in, long before its time is up,
  // and the results then taken end the run.
  const auto start = std::chrono::steady_clock::now();
  session.WaitForEnd(std::chrono::minutes(1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(session.TakeResults(), SurveySession::Taken::Ended);
  EXPECT_FALSE(session.Estimating());
  session.WaitForEnd(std::chrono::minutes(1));  // no run: returns at once
  EXPECT_EQ(session.Listed(), 4);
  EXPECT_EQ(session.Estimated(), 4);
  const FolderRec* text = session.Find(root + "text/");
  const FolderRec* deep = session.Find(root + "text/deep/");
  const FolderRec* noise = session.Find(root + "noise/");
  ASSERT_TRUE(text && deep && noise);
  for (const FolderRec* rec : {text, deep, noise}) {
    const SavingEstimate* estimate = session.Savings().Find(*rec);
    ASSERT_NE(estimate, nullptr) << rec->Path();
    EXPECT_TRUE(estimate->Known) << rec->Path();
  }
  EXPECT_GT(session.Savings().Find(*text)->Saving, 100000);  // repeated text shrinks to little
  EXPECT_EQ(session.Savings().Find(*noise)->Saving, 0);       // noise does not shrink at all

  // Sorted by Saving, largest first, with the estimates in hand.
  rows = session.Rows(0, -7, 0, true, false);
  ASSERT_EQ(rows.Rows.size(), 4u);
  EXPECT_EQ(rows.Rows[0].Rec, text);
  EXPECT_EQ(rows.Rows[1].Rec, deep);

  // The totals: the start folder holds every folder, file and estimate.
  session.SumSubtreeSavings(true);
  const SubtreeTotals& totals = session.Totals();
  const SubtreeFigures* whole = totals.Of(session.Folders()[0]);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->NFolders, 5);
  EXPECT_EQ(whole->NFiles, 5);
  EXPECT_EQ(whole->SzFiles, 230000);
  const SavingSum* sum = totals.SavingOf(session.Folders()[0]);
  ASSERT_NE(sum, nullptr);
  EXPECT_EQ(sum->Estimated, 4);
  EXPECT_TRUE(sum->Complete());
  std::int64_t disk = 0;
  for (const FolderRec* rec : {text, deep, noise}) disk += session.Savings().Find(*rec)->Disk;
  EXPECT_EQ(sum->Saving, disk);
  EXPECT_EQ(totals.SavingOf(*text)->Saving,
            session.Savings().Find(*text)->Disk + session.Savings().Find(*deep)->Disk);
}

TEST_F(SurveySessionTest, AStoppedEstimateKeepsWhatCameInAndResumesWithTheSameFigures) {
  for (int i = 0; i < 12; ++i) {
    const std::string name = "many" + std::to_string(i);
    tree.Dir(name);
    WriteAll(tree.PathOf(name + "/f.txt"), Text(200000 + 1000 * i, name));
  }
  // An estimate that runs to its end, for the figures to compare with.
  testing::ScriptedObserver quiet;
  SurveySession whole(quiet, 1);
  ASSERT_TRUE(whole.Scan(root, rules, true));
  ASSERT_TRUE(whole.Estimate(Listed(whole.Rows(0, 1, 0, false, false))));
  ASSERT_TRUE(RunToTheEnd(whole));
  std::map<std::string, std::int64_t> expected;
  for (const FolderRec& rec : whole.Folders())
    if (const SavingEstimate* e = whole.Savings().Find(rec)) expected[rec.Path()] = e->Disk;

  session.estimateThreads = 1;
  ASSERT_TRUE(session.Scan(root, rules, true));
  const std::vector<const FolderRec*> listed = Listed(session.Rows(0, 1, 0, false, false));
  ASSERT_TRUE(session.Estimate(listed));
  // The same folders asked for again: the run goes on.
  EXPECT_FALSE(session.Estimate(listed));
  EXPECT_EQ(session.Starts(), 1);
  while (session.Estimated() == 0 && session.Estimating()) {
    session.WaitForResults(std::chrono::seconds(1));
    session.TakeResults();
  }
  session.StopEstimate();
  EXPECT_FALSE(session.Estimating());
  const std::int64_t before = session.Estimated();
  EXPECT_GE(before, 1);
  EXPECT_EQ(static_cast<std::int64_t>(session.Savings().Size()), before);

  // Resumed: only the folders without a figure are estimated, and all end as whole's.
  if (session.Estimate(listed)) {
    EXPECT_EQ(session.Starts(), 2);
    EXPECT_EQ(static_cast<std::int64_t>(session.Order().size()), session.Listed() - before);
    ASSERT_TRUE(RunToTheEnd(session));
  }
  std::map<std::string, std::int64_t> got;
  for (const FolderRec& rec : session.Folders())
    if (const SavingEstimate* e = session.Savings().Find(rec)) got[rec.Path()] = e->Disk;
  EXPECT_EQ(got, expected);
}

// An order made ahead for the listed folders starts their estimate largest first; once an
// estimate came in meanwhile it is out of date, and the folder estimated is not taken again.
TEST_F(SurveySessionTest, AnEstimateOrderMadeAheadHoldsOnlyWhileNoEstimateCameIn) {
  ASSERT_TRUE(session.Scan(root, rules, true));
  const std::vector<const FolderRec*> listed = Listed(session.Rows(0, 1, 0, false, false));
  session.PrepareEstimate(listed);
  ASSERT_TRUE(session.Estimate(listed));
  std::vector<std::int64_t> order;
  for (const FolderRec* rec : session.Order()) order.push_back(UnzippedBytes(*rec));
  EXPECT_EQ(order, (std::vector<std::int64_t>{120000, 50000, 40000, 0}));
  session.StopEstimate();

  ASSERT_TRUE(session.Scan(root, rules, true));
  const std::vector<const FolderRec*> again = Listed(session.Rows(0, 1, 0, false, false));
  session.PrepareEstimate(again);
  const FolderRec* text = session.Find(root + "text/");
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(session.Estimate({text}));
  ASSERT_TRUE(RunToTheEnd(session));
  ASSERT_TRUE(session.Estimate(again));
  EXPECT_EQ(session.Order().size(), 3u);
  EXPECT_EQ(session.Estimated(), 1);
}

TEST_F(SurveySessionTest, ASecondScanCountsByItsOwnRulesAndForgetsTheFirst) {
  ScanAndEstimate();
  EXPECT_GT(session.Savings().Size(), 0u);
  ScanRules other = rules;
  other.IgnoreExts.Append(".log");
  std::string ignored = root + "noise/";
  for (char& c : ignored) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  other.IgnorePaths.Append(ignored);
  ASSERT_TRUE(session.Scan(root, other, false));
  EXPECT_EQ(session.Savings().Size(), 0u);  // the records the estimates were of are gone
  EXPECT_FALSE(session.Estimating());
  EXPECT_EQ(session.Rules().IgnoreExts.Count, 1);
  const FolderRec* text = session.Find(root + "text/");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->SzIgno, 30000);
  EXPECT_EQ(text->SzFiles, 90000);
  EXPECT_EQ(session.Find(root + "noise/"), nullptr);
  // The totals are those of the new records.
  EXPECT_EQ(session.Totals().Of(session.Folders()[0])->NFolders, 4);
  EXPECT_EQ(session.Totals().Of(session.Folders()[0])->SzFiles, 160000);
}

TEST_F(SurveySessionTest, ACancelledScanSaysSo) {
  for (int i = 0; i < 30; ++i) tree.Dir("text/deep/" + std::to_string(i));
  observer.onPump = [this](testing::ScriptedObserver&) { session.RequestCancel(); };
  EXPECT_FALSE(session.Scan(root, rules, false));
  // The next scan runs whole again.
  observer.onPump = nullptr;
  EXPECT_TRUE(session.Scan(root, rules, false));
  EXPECT_FALSE(session.CancelRequested());
  EXPECT_EQ(session.Folders().Count(), 35);
}

TEST_F(SurveySessionTest, ARecountAndASubtreeRescanKeepTheOtherFoldersEstimates) {
  ScanAndEstimate();
  FolderRec* text = session.Find(root + "text/");
  ASSERT_NE(text, nullptr);
  const std::int64_t noiseDisk = session.Savings().Find(*session.Find(root + "noise/"))->Disk;

  // A zip took text/'s own files away: its estimate goes, the others stay.
  ::unlink(tree.PathOf("text/a.txt").c_str());
  session.RecountFolder(*text, rules);
  EXPECT_EQ(text->SzFiles, 30000);
  EXPECT_EQ(session.Savings().Find(*text), nullptr);
  EXPECT_NE(session.Savings().Find(*session.Find(root + "text/deep/")), nullptr);
  EXPECT_EQ(session.Totals().Of(session.Folders()[0])->SzFiles, 140000);

  // deep/ gained a subfolder: its subtree is scanned again, the rest keeps its figures.
  tree.Dir("text/deep/new");
  WriteAll(tree.PathOf("text/deep/new/d.txt"), Text(5000, "d"));
  bool dropped = false;
  const FolderRec* deep = session.Find(root + "text/deep/");
  ASSERT_EQ(session.RescanSubtree(*deep, RescanStart::Folder, [&] { dropped = true; }),
            SurveySession::Rescan::Replaced);
  EXPECT_TRUE(dropped);
  EXPECT_EQ(session.Folders().Count(), 6);
  ASSERT_NE(session.Find(root + "text/deep/new/"), nullptr);
  EXPECT_EQ(session.Savings().Find(*session.Find(root + "text/deep/")), nullptr);
  const SavingEstimate* noise = session.Savings().Find(*session.Find(root + "noise/"));
  ASSERT_NE(noise, nullptr);
  EXPECT_EQ(noise->Disk, noiseDisk);
  EXPECT_EQ(session.Totals().Of(session.Folders()[0])->SzFiles, 145000);

  // A record that is not the session's is not rescanned.
  const FolderRec stranger(root + "text/");
  EXPECT_EQ(session.RescanSubtree(stranger, RescanStart::Folder, nullptr), SurveySession::Rescan::NotInTree);
}

// A rescanned or recounted folder is drawn as the scan drew it, so that its many short
// files are sampled rather than all opened; a session that did not draw draws nothing then.
TEST_F(SurveySessionTest, ARescanAndARecountRecordTheShortFilesToSkipAsTheScanDid) {
  tree.Dir("short");
  for (int i = 0; i < 30; ++i) WriteAll(tree.PathOf("short/s" + std::to_string(i) + ".txt"), Text(1500, "s"));
  WriteAll(tree.PathOf("short/big.txt"), Text(40000, "t"));
  for (const bool drawing : {true, false}) {
    ASSERT_TRUE(session.Scan(root, rules, drawing));
    auto skipped = [&] {
      const FolderRec* rec = session.Find(root + "short/");
      return rec != nullptr && rec->Draws ? rec->Draws->SkippedShortFiles : -1;
    };
    const std::int64_t scanned = skipped();
    EXPECT_EQ(scanned, drawing ? 30 - kShortSample : -1);
    ASSERT_EQ(session.RescanSubtree(*session.Find(root + "short/"), RescanStart::Folder, nullptr),
              SurveySession::Rescan::Replaced);
    EXPECT_EQ(skipped(), scanned) << drawing;
    session.RecountFolder(*session.Find(root + "short/"), rules);
    EXPECT_EQ(skipped(), scanned) << drawing;
  }
}

}  // namespace
}  // namespace orbelan
