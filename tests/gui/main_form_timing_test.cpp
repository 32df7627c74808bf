// Timings of the window's own work, printed for the record rather than asserted: a fill and
// a header click on a hundred thousand rows, and (when ORBELAN_REF_TREE names a tree) a whole
// scan through the window with its longest stretch between two passes of the event loop.

#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/gui_scan_observer.h"
#include "app/main_form.h"
#include "app/results_model.h"
// GCC 12 at -O2 sees the scripted twin's queued std::optional<QString> answers as maybe
// uninitialized in this file (a known false positive of that warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "tests/gui/scripted_interaction.h"
#pragma GCC diagnostic pop

namespace orbelan {
namespace {

TForm1::Options QuietOptions(const std::string& settingsFile) {
  TForm1::Options options;
  options.settingsFile = settingsFile;
  options.startSplashTimer = false;
  return options;
}

TEST(MainFormTiming, FillAndHeaderClickOnAHundredThousandRows) {
  TForm1 form(QuietOptions("/nonexistent-orbelan-timing/orbelan.dat"));
  form.settings.MinSize = 0;
  form.settings.IgnorePaths.Clear();
  FolderList& folders = form.FoldersForTests();
  const ScanRules rules = form.settings.Rules();
  std::mt19937_64 random(7);
  const double today = 46000;
  for (int i = 0; i < 100'000; ++i) {
    folders.AddFolder("/data/Set" + std::to_string(random() % 1000) + "/Folder" + std::to_string(i) + "/",
                      rules);
    FolderRec& rec = *folders.Tail();
    rec.SzFiles = static_cast<std::int64_t>(2048 + random() % 5'000'000'000ULL);
    rec.SzZips = rec.SzFiles / static_cast<std::int64_t>(1 + random() % 9);
    rec.NFiles = 3;
    rec.Recent = today - static_cast<double>(random() % 4000);
  }
  form.show();

  QElapsedTimer clock;
  clock.start();
  form.FillList();
  const qint64 fillMs = clock.elapsed();
  ASSERT_EQ(form.Model()->rowCount(), 100'000);

  auto* view = form.findChild<QTreeView*>("LView1");
  clock.restart();
  view->header()->sectionClicked(4);  // Most Recent: age texts made per row
  const qint64 ageClickMs = clock.elapsed();
  clock.restart();
  view->header()->sectionClicked(1);  // Unzipped
  const qint64 sizeClickMs = clock.elapsed();
  EXPECT_EQ(form.SortColumn, 2);

  std::printf("[timing] fill of 100000 rows: %lld ms; header click Most Recent: %lld ms, "
              "Unzipped: %lld ms\n",
              static_cast<long long>(fillMs), static_cast<long long>(ageClickMs),
              static_cast<long long>(sizeClickMs));
}

TEST(MainFormTiming, WholeScanOfTheReferenceTree) {
  const QString tree = qEnvironmentVariable("ORBELAN_REF_TREE");
  if (tree.isEmpty()) GTEST_SKIP() << "set ORBELAN_REF_TREE to a tree made by gen_tree.py";
  testing::ScriptedInteraction script;
  TForm1 form(QuietOptions("/nonexistent-orbelan-timing/orbelan.dat"));
  form.show();
  QElapsedTimer clock;
  clock.start();
  form.ScanPath(QFile::encodeName(tree).toStdString());
  const qint64 scanMs = clock.elapsed();
  std::printf("[timing] ScanPath to list shown: %lld ms for %lld folders, %d rows; longest gap "
              "between event-loop passes: %lld ms\n",
              static_cast<long long>(scanMs), static_cast<long long>(form.Folders().Count()),
              form.Model()->rowCount(),
              static_cast<long long>(form.ScanObserverForTests().LongestGapMs()));
  EXPECT_TRUE(script.shown.empty());
}

}  // namespace
}  // namespace orbelan
