// Timings of the window's own work, printed for the record rather than asserted: a fill and
// a header click on a hundred thousand rows, and a whole scan through the window of a tree
// made by tools/make-tree.py (or the one ORBELAN_REF_TREE names) with its longest stretch
// between two passes of the event loop; the scan's totals must be the tree's manifest's.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>
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
#include "tests/gui/event_loop_gaps.h"
#include "tests/gui/scan_wait.h"

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
  QString tree = qEnvironmentVariable("ORBELAN_REF_TREE");
  // Made in memory where there is some: writing twelve thousand files to a disk that others
  // write to as well would take longer than the scan it is made for.
  const bool memory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
  QTemporaryDir made(memory ? QStringLiteral("/dev/shm/orbelan-timing-XXXXXX") : QDir::tempPath() + "/orbelan-timing-XXXXXX");
  if (tree.isEmpty()) {
    // A tree of every kind of entry the scan meets, made the same way every time.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) GTEST_SKIP() << "python3 is needed to make the tree (scripts/install-deps.sh installs it)";
    ASSERT_TRUE(made.isValid());
    tree = made.filePath(QStringLiteral("tree"));
    QProcess maker;
    maker.start(python, {QStringLiteral(ORBELAN_SOURCE_DIR "/tools/make-tree.py"), QStringLiteral("--root"), tree,
                         QStringLiteral("--dirs"), QStringLiteral("2000"), QStringLiteral("--files"),
                         QStringLiteral("12000"), QStringLiteral("--largest"), QStringLiteral("65536"),
                         QStringLiteral("-q")});
    ASSERT_TRUE(maker.waitForFinished(300'000));
    ASSERT_EQ(maker.exitCode(), 0) << maker.readAllStandardError().toStdString();
  }
  QFile manifestFile(tree + QStringLiteral(".manifest.json"));
  testing::ScriptedInteraction script;
  TForm1 form(QuietOptions("/nonexistent-orbelan-timing/orbelan.dat"));
  form.show();
  testing::EventLoopGapMeter gaps;
  // The longest gap while the scan itself ran, apart from the list filled after it.
  double scanGapMs = 0;
  QTimer probe;
  probe.setInterval(1);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (form.IsBusy() && !form.ScanObserverForTests().Scan().Ended()) scanGapMs = gaps.LongestMs();
  });
  QElapsedTimer clock;
  gaps.Start();
  probe.start();
  clock.start();
  form.ScanPath(QFile::encodeName(tree).toStdString());
  testing::WaitForScan(form, 600'000);
  const qint64 scanMs = clock.elapsed();
  gaps.Stop();
  probe.stop();
  std::printf("[timing] ScanPath to list shown: %lld ms for %lld folders, %d rows; longest gap "
              "between event-loop passes: %.1f ms while scanning, %.1f ms with the list's fill\n",
              static_cast<long long>(scanMs), static_cast<long long>(form.Folders().Count()),
              form.Model()->rowCount(), scanGapMs, gaps.LongestMs());
  EXPECT_TRUE(script.shown.empty());
  const std::int64_t folders = form.Folders().Count();

  // Esc half way, answered Yes: how long from the answer until the window is idle again.
  QElapsedTimer answered;
  script.whileShown = [&](const testing::Shown& shown) {
    if (shown.kind == "question") answered.start();
  };
  script.yesNo = {true};
  form.ScanPath(QFile::encodeName(tree).toStdString());
  // A second scan quicker than half the first (caches warm, the first's list made on a busy
  // machine) is over before the Esc: the Esc then must not stop the scan after it.
  bool secondOver = false;
  QTimer::singleShot(std::max<qint64>(scanMs / 2, 1), &form, [&form, &secondOver] {
    if (secondOver) return;
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &escape);
  });
  testing::WaitForScan(form, 600'000);
  secondOver = true;
  if (answered.isValid())
    std::printf("[timing] cancel: %lld ms from Yes to the window idle again\n",
                static_cast<long long>(answered.elapsed()));
  script.whileShown = nullptr;
  script.shown.clear();
  testing::ScanAndWait(form, QFile::encodeName(tree).toStdString());
  ASSERT_EQ(form.Folders().Count(), folders);
  EXPECT_GT(form.Model()->rowCount(), 0);

  // What the window recorded is what the tree holds: every folder a survey enters, every
  // file (a link as a file of its own size, each hard link once per name) and its bytes.
  if (!manifestFile.open(QIODevice::ReadOnly)) GTEST_SKIP() << "no manifest beside " << tree.toStdString();
  const QJsonObject manifest = QJsonDocument::fromJson(manifestFile.readAll()).object();
  std::int64_t files = 0, bytes = 0;
  for (const FolderRec& rec : form.Folders()) {
    files += rec.NFiles + rec.NIgno;
    bytes += rec.SzFiles + rec.SzIgno;
  }
  EXPECT_EQ(form.Folders().Count(), manifest.value(QStringLiteral("survey_folders")).toInteger());
  EXPECT_EQ(files, manifest.value(QStringLiteral("survey_files")).toInteger());
  EXPECT_EQ(bytes, manifest.value(QStringLiteral("survey_bytes")).toInteger());
}

}  // namespace
}  // namespace orbelan
