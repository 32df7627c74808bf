// The estimated saving in the main window, lived through: the Saving column filling in
// behind a usable list, sorting by it, the status text, the properties line, stopping on a
// new scan, on Esc and on close, and the setting that turns it all off.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "dialogs/frm_prop.h"
#include "app/gui_saving_estimator.h"
#include "app/gui_scan_observer.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "dialogs/frm_lists.h"
#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "estimate/saving_small.h"
#include "survey/saving_table.h"
#include "tests/gui/scripted_interaction.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

using orbelan::testing::ScriptedInteraction;

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Text that deflate shrinks to a few percent, or bytes it cannot shrink at all.
void WriteText(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  const QByteArray line = "Orbelan lists folders worth zipping, with their sizes.\n";
  QByteArray data;
  while (data.size() < size) data += line;
  file.write(data.left(size));
}

void WriteRandom(const QString& path, qint64 size, unsigned seed) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  std::mt19937 random(seed);
  QByteArray data(size, Qt::Uninitialized);
  for (char& c : data) c = static_cast<char>(random() & 0xff);
  file.write(data);
}

// Runs the event loop until done() holds or the time is up; the estimate's results reach
// the window only through it.
// Sleeps only until the next event (a result's queued call, a batch's timer); the tick
// bounds the wait should done() change without one.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 20'000) {
  QElapsedTimer clock;
  clock.start();
  QTimer tick;
  tick.start(100);
  while (!done()) {
    if (clock.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

class MainFormSavingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetThousandsSeparator(",");
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/Tree";
    ASSERT_TRUE(QDir().mkpath(root_));
    settingsFile_ = dir_.path() + "/orbelan.dat";
  }
  void TearDown() override {
    form_.reset();
    ResetThousandsSeparator();
  }

  // The window, with the estimate on or off as its settings file says at start.
  void Open(bool estimate = true) {
    if (!estimate) {
      QFile file(settingsFile_);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write("[MAIN]\r\nminSize=0\r\nEstimateSavings=0\r\n");
    }
    TForm1::Options options;
    options.settingsFile = settingsFile_.toStdString();
    options.startSplashTimer = false;
    form_ = std::make_unique<TForm1>(options);
    form_->settings.MinSize = 0;
    form_->settings.ZipExts.Clear();
    form_->settings.ZipExts.Append(".zip");
    // Folders of these tests (up to 60 KB) are compressed whole: exact figures to compare.
    Estimator().options.WholeLimit = 64 << 10;
    form_->show();
  }

  // Text: 40 KB of text; Mixed: 20 KB of text and 40 KB of random bytes; Noise: 20 KB of
  // random bytes; Packed: an archive only (listed, nothing to estimate in it).
  void MakeTree() {
    WriteText(root_ + "/Text/a.txt", 25'000);
    WriteText(root_ + "/Text/b.log", 15'000);
    WriteText(root_ + "/Mixed/notes.txt", 20'000);
    WriteRandom(root_ + "/Mixed/photo.jpg", 40'000, 1);
    WriteRandom(root_ + "/Noise/data.bin", 20'000, 2);
    WriteRandom(root_ + "/Packed/old.zip", 5'000, 3);
  }

  GuiSavingEstimator& Estimator() { return form_->SavingEstimatorForTests(); }
  QTreeView* View() { return form_->findChild<QTreeView*>("LView1"); }
  QLabel* Msg() { return form_->findChild<QLabel*>("labMsg"); }
  int RowCount() { return form_->Model()->rowCount(); }
  QString Cell(int row, int column) {
    return form_->Model()->data(form_->Model()->index(row, column)).toString();
  }
  QString Header(int column) {
    return form_->Model()->headerData(column, Qt::Horizontal).toString();
  }
  QString PathOf(const QString& name) {
    return root_ + "/" + name + "/";
  }
  int RowOf(const QString& name) {
    for (int r = 0; r < RowCount(); ++r)
      if (Cell(r, 0) == PathOf(name)) return r;
    return -1;
  }
  const FolderRec* RecordOf(const QString& name) {
    const int row = RowOf(name);
    return row < 0 ? nullptr : form_->Model()->RowAt(row)->Rec;
  }
  const SavingEstimate* EstimateOf(const QString& name) {
    const FolderRec* rec = RecordOf(name);
    return rec ? form_->SavingOf(*rec) : nullptr;
  }
  void ClickHeader(int section) { View()->header()->sectionClicked(section); }
  bool EveryRowEstimated() {
    for (int r = 0; r < RowCount(); ++r)
      if (!form_->SavingOf(*form_->Model()->RowAt(r)->Rec)) return false;
    return true;
  }

  QTemporaryDir dir_;
  QString root_, settingsFile_;
  ScriptedInteraction script_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(MainFormSavingTest, ColumnFillsInBehindAUsableListLargestFirst) {
  MakeTree();
  Open();
  // Held, so that the first look below sees the list before any result reached it (the
  // workers may finish these small folders while the scan's end is being waited for).
  Estimator().HoldResultsForTests(true);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_EQ(RowCount(), 4);  // Mixed, Noise, Packed, Text (the root holds no files)

  // The list is shown at once and the estimate has begun; nothing has reached the window
  // yet, since results come through the event loop.
  EXPECT_TRUE(View()->isVisible());
  EXPECT_FALSE(form_->IsBusy());
  EXPECT_NE(form_->cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(Header(6), "Saving");
  ASSERT_TRUE(Estimator().Running());
  EXPECT_TRUE(Msg()->isVisible());
  EXPECT_EQ(Msg()->text(), "Estimating savings: 0 of 4 folders");
  for (int r = 0; r < 4; ++r) EXPECT_EQ(Cell(r, 6), "") << r;
  // Largest Unzipped first (the archive-only folder has no Unzipped bytes).
  std::vector<std::int64_t> sizes;
  for (const FolderRec* rec : Estimator().Order()) sizes.push_back(UnzippedBytes(*rec));
  EXPECT_EQ(sizes, (std::vector<std::int64_t>{60'000, 40'000, 20'000, 0}));

  // The list stays usable meanwhile: sort, select, properties.
  ClickHeader(1);
  EXPECT_EQ(form_->SortColumn, 2);
  EXPECT_EQ(Cell(0, 0), PathOf("Packed"));
  EXPECT_EQ(Estimator().Starts(), 1);  // the same folders listed again: the run goes on
  View()->setCurrentIndex(form_->Model()->index(RowOf("Text"), 0));
  form_->mnuPropertiesClick();
  EXPECT_TRUE(form_->frmProp()->isVisible());

  Estimator().HoldResultsForTests(false);
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  EXPECT_FALSE(Msg()->isVisible());
  ASSERT_TRUE(EveryRowEstimated());
  for (const char* name : {"Text", "Mixed", "Noise", "Packed"}) {
    const SavingEstimate* estimate = EstimateOf(name);
    ASSERT_NE(estimate, nullptr) << name;
    // Small folders are compressed whole; random bytes are screened, not deflated: they
    // save 0, up to 3% of their bytes.
    if (std::string(name) == "Mixed" || std::string(name) == "Noise") {
      EXPECT_FALSE(estimate->Exact()) << name;
      EXPECT_LE(estimate->High - estimate->Saving, 20'000 / 10) << name;
    } else {
      EXPECT_TRUE(estimate->Exact()) << name;
    }
    EXPECT_EQ(Cell(RowOf(name), 6), QString::fromStdString(SizeText(estimate->Disk))) << name;
  }
  EXPECT_GT(EstimateOf("Text")->Saving, 40'000 * 9 / 10);
  EXPECT_GT(EstimateOf("Mixed")->Saving, 20'000 * 9 / 10);
  EXPECT_LT(EstimateOf("Mixed")->Saving, 20'000);  // the random bytes save nothing
  EXPECT_EQ(EstimateOf("Noise")->Saving, 0);
  EXPECT_EQ(EstimateOf("Packed")->Saving, 0);
  form_->frmProp()->hide();
}

// With the program's own limits these folders are past the whole-compression limit: they are
// read whole, larger files sized by the fast codec, and the scan draws nothing in them (it
// keeps their names alone, so that they are not listed again).
TEST_F(MainFormSavingTest, SmallFoldersAreReadWholeWithTheFastCodec) {
  MakeTree();
  Open();
  Estimator().options.WholeLimit = EstimateOptions{}.WholeLimit;
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  for (const char* name : {"Text", "Mixed", "Noise"}) {
    const FolderRec* rec = RecordOf(name);
    ASSERT_NE(rec, nullptr) << name;
    ASSERT_NE(rec->Draws, nullptr) << name;
    EXPECT_TRUE(rec->Draws->HasNames) << name;
    EXPECT_EQ(rec->Draws->RegularBytes, 0) << name;
    const SavingEstimate* estimate = EstimateOf(name);
    ASSERT_NE(estimate, nullptr) << name;
    EXPECT_TRUE(estimate->Known) << name;
    EXPECT_GE(estimate->Sampled, UnzippedBytes(*rec)) << name;
    EXPECT_LE(estimate->Sampled, UnzippedBytes(*rec) + kSmallCalibrationDraws * kSmallSlice) << name;
  }
  EXPECT_GT(EstimateOf("Text")->Saving, 40'000 / 2);
  EXPECT_EQ(EstimateOf("Noise")->Saving, 0);
}

TEST_F(MainFormSavingTest, SortingBySavingPutsFoldersWithoutAnEstimateLast) {
  MakeTree();
  Open(false);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_EQ(RowCount(), 4);
  // Gone between the scan and the estimate: nothing of it can be read.
  ASSERT_TRUE(QDir(root_ + "/Noise").removeRecursively());

  // Turned on in the settings dialog: the listed folders are estimated at once.
  form_->butListsClick();
  form_->frmLists()->findChild<QCheckBox*>("chkEstimate")->setChecked(true);
  form_->frmLists()->findChild<QPushButton*>("butOK")->click();
  EXPECT_TRUE(form_->settings.EstimateSavings);
  EXPECT_EQ(Header(6), "Saving");
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  ASSERT_NE(EstimateOf("Noise"), nullptr);
  EXPECT_FALSE(EstimateOf("Noise")->Known);
  EXPECT_EQ(Cell(RowOf("Noise"), 6), "");

  auto paths = [&] {
    QStringList out;
    for (int r = 0; r < RowCount(); ++r) out << Cell(r, 0);
    return out;
  };
  ClickHeader(6);
  EXPECT_EQ(form_->SortColumn, 7);
  EXPECT_EQ(paths(), QStringList({PathOf("Packed"), PathOf("Mixed"), PathOf("Text"), PathOf("Noise")}));
  ClickHeader(6);
  EXPECT_EQ(form_->SortColumn, -7);
  EXPECT_EQ(paths(), QStringList({PathOf("Text"), PathOf("Mixed"), PathOf("Packed"), PathOf("Noise")}));
  EXPECT_EQ(View()->header()->sortIndicatorSection(), 6);
  EXPECT_EQ(Estimator().Starts(), 1);  // every listed folder has its entry: nothing restarts
}

TEST_F(MainFormSavingTest, PropertiesLineFollowsTheEstimateOfTheFolderShown) {
  MakeTree();
  Open();
  Estimator().HoldResultsForTests(true);  // the dialog opens before any result is in
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  View()->setCurrentIndex(form_->Model()->index(RowOf("Text"), 0));
  form_->mnuPropertiesClick();
  auto* line = form_->frmProp()->findChild<QLabel*>("labSaving");
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(line->isVisible());
  EXPECT_EQ(line->text(), "Not estimated yet");

  // Refreshed when the estimate arrives, while the dialog shows that folder.
  Estimator().HoldResultsForTests(false);
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  const SavingEstimate* text = EstimateOf("Text");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(line->text(), QString::fromStdString(SavingSentence(text, 40'000)));
  EXPECT_TRUE(line->text().startsWith("Gives back " + QString::fromStdString(DecimalSize(text->Disk)) + " of disk"))
      << line->text().toStdString();

  View()->setCurrentIndex(form_->Model()->index(RowOf("Noise"), 0));
  form_->mnuPropertiesClick();
  const QString noise = QString::fromStdString(SavingSentence(EstimateOf("Noise"), 0));
  EXPECT_EQ(line->text(), noise);
  EXPECT_TRUE(noise.endsWith("(file contents shrink by 0 bytes)")) << noise.toStdString();

  // A new scan leaves the open dialog showing what it showed.
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_ + "/Text")));
  EXPECT_EQ(line->text(), noise);
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  EXPECT_EQ(line->text(), noise);
  form_->frmProp()->hide();
}

// Twenty folders of 1.5 MB of text, each sampled rather than compressed whole: enough work
// that a stop finds the workers busy.
void MakeWideTree(const QString& root) {
  for (int i = 0; i < 20; ++i)
    WriteText(root + QStringLiteral("/d%1/f.txt").arg(i, 2, 10, QChar('0')), 1'500'000 + i);
}

// Every folder of the wide tree read in full, so that the run lasts long enough to be
// interrupted halfway on any machine.
void ReadEveryByte(EstimateOptions& options) {
  options.RampBytes = 1;
  options.TargetMargin = 0;
}

// While it lives, the results the workers post to the window are dropped, so a run stays
// running for as long as a test looks at it, however fast the workers are and however
// slowly a loaded machine lets the window's thread go on.
class HeldResults : public QObject {
 public:
  explicit HeldResults(QObject* target) : target_(target) { target_->installEventFilter(this); }
  ~HeldResults() override { target_->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return watched == target_ && event->type() == QEvent::MetaCall;
  }

 private:
  QObject* target_;
};

TEST_F(MainFormSavingTest, NewScanStopsTheEstimateBeforeTheRecordsGo) {
  MakeWideTree(root_);
  Open();
  ReadEveryByte(Estimator().options);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_TRUE(Estimator().Running());
  ASSERT_TRUE(WaitFor([&] { return Estimator().Estimated() > 0; }));

  // While the new scan runs, no worker reads a record and the old estimates are gone.
  bool checked = false;
  form_->ScanObserverForTests().onFolderProgress = [&](std::int64_t) {
    if (checked) return;
    checked = true;
    EXPECT_FALSE(Estimator().Running());
    EXPECT_EQ(form_->Savings().Size(), 0u);
  };
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  EXPECT_TRUE(checked);
  form_->ScanObserverForTests().onFolderProgress = nullptr;
  EXPECT_EQ(Estimator().Starts(), 2);
  ASSERT_TRUE(WaitFor([&] { return !Estimator().Running(); }));
  EXPECT_TRUE(EveryRowEstimated());
  EXPECT_EQ(form_->Savings().Size(), 20u);  // nothing left over from the first scan
}

TEST_F(MainFormSavingTest, EscapeStopsTheEstimateAndKeepsWhatItFound) {
  MakeWideTree(root_);
  Open();
  ReadEveryByte(Estimator().options);
  Estimator().threads = 1;
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_TRUE(WaitFor([&] { return Estimator().Estimated() > 0; }));
  QApplication::setActiveWindow(form_.get());
  QTest::keyClick(View(), Qt::Key_Escape);
  EXPECT_FALSE(Estimator().Running());
  EXPECT_FALSE(Msg()->isVisible());
  const std::size_t found = form_->Savings().Size();
  EXPECT_GE(found, 1u);
  EXPECT_LT(found, 20u) << "one worker cannot have estimated every folder yet";
  int shown = 0;
  for (int r = 0; r < RowCount(); ++r) shown += Cell(r, 6).isEmpty() ? 0 : 1;
  EXPECT_EQ(static_cast<std::size_t>(shown), found);

  // A header click does not start it again; the next scan does.
  ClickHeader(6);
  QCoreApplication::processEvents();  // whatever the click posted
  EXPECT_FALSE(Estimator().Running());
  EXPECT_EQ(form_->Savings().Size(), found);
  EXPECT_EQ(Estimator().Starts(), 1);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  EXPECT_TRUE(Estimator().Running());
  EXPECT_EQ(Estimator().Starts(), 2);
}

// The estimate's line is longer than a scan's: it starts after the buttons and ends before
// "% Zipped:", shortened with an ellipsis when the window is too narrow, and a scan's text
// goes back above the progress bar.
TEST_F(MainFormSavingTest, TheEstimateLineKeepsClearOfTheZippedGauge) {
  MakeWideTree(root_);
  Open();
  Estimator().threads = 1;
  const HeldResults held(&Estimator());  // the line is looked at while the run goes on
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_TRUE(Estimator().Running());
  QLabel* pct = form_->findChild<QLabel*>("labPct");
  ASSERT_TRUE(pct->isVisible());
  for (const int width : {form_->width(), 1100, 300}) {
    form_->resize(width, form_->height());
    QCoreApplication::processEvents();
    ASSERT_TRUE(Msg()->isVisible());
    SCOPED_TRACE(Msg()->text().toStdString());
    EXPECT_LT(Msg()->geometry().right(), pct->geometry().left()) << form_->width();
    EXPECT_GT(Msg()->geometry().left(), form_->findChild<QWidget*>("butHelp")->geometry().right());
    EXPECT_TRUE(Msg()->text().startsWith("Estimating sav"));
  }
  form_->resize(1100, form_->height());
  QCoreApplication::processEvents();
  EXPECT_TRUE(QRegularExpression("^Estimating savings: [0-9]+ of 20 folders$").match(Msg()->text()).hasMatch())
      << Msg()->text().toStdString();  // wide enough: not shortened

  QApplication::setActiveWindow(form_.get());
  QTest::keyClick(View(), Qt::Key_Escape);
  EXPECT_FALSE(Msg()->isVisible());
  const QWidget* bar = form_->findChild<QWidget*>("ProgressBar1");
  EXPECT_EQ(Msg()->x(), bar->x());  // where a scan's or a zip's text goes
}

TEST_F(MainFormSavingTest, ClosingStopsTheEstimate) {
  MakeWideTree(root_);
  Open();
  ReadEveryByte(Estimator().options);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_TRUE(Estimator().Running());
  EXPECT_TRUE(form_->close());
  EXPECT_FALSE(Estimator().Running());
  QCoreApplication::processEvents();  // a result posted before the stop finds nothing to do
  EXPECT_FALSE(Estimator().Running());
  form_.reset();  // the records go only now, after the workers
}

TEST_F(MainFormSavingTest, TurnedOffTheWindowIsAsItWas) {
  MakeTree();
  Open(false);
  EXPECT_FALSE(form_->settings.EstimateSavings);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_EQ(RowCount(), 4);
  EXPECT_EQ(Header(6), "");
  EXPECT_FALSE(Estimator().Running());
  EXPECT_EQ(Estimator().Starts(), 0);
  EXPECT_FALSE(Msg()->isVisible());
  ClickHeader(6);  // the blank column sorts in scan order, as it always did
  EXPECT_EQ(Estimator().Starts(), 0);
  QStringList order;
  for (int r = 0; r < RowCount(); ++r) order << Cell(r, 0) << Cell(r, 6);
  QStringList scanOrder;
  for (const FolderRec& rec : form_->Folders())
    if (MeetsMinSize(rec, form_->settings.MinSize))
      scanOrder << QString::fromStdString(rec.Path()) << "";
  EXPECT_EQ(order, scanOrder);

  View()->setCurrentIndex(form_->Model()->index(0, 0));
  form_->mnuPropertiesClick();
  auto* prop = form_->frmProp();
  EXPECT_FALSE(prop->findChild<QLabel*>("labSaving")->isVisible());
  EXPECT_EQ(prop->size(), QSize(303, 218));
  prop->hide();
  EXPECT_TRUE(form_->Savings().Size() == 0);
  for (const FolderRec& rec : form_->Folders()) EXPECT_EQ(rec.Draws, nullptr);  // the scan drew nothing

  // Turned off while it runs: it stops, and the column is blank again.
  form_->settings.EstimateSavings = true;
  form_->frmLists()->accepted();
  EXPECT_TRUE(Estimator().Running());
  form_->settings.EstimateSavings = false;
  form_->frmLists()->accepted();
  EXPECT_FALSE(Estimator().Running());
  EXPECT_EQ(Header(6), "");
  for (int r = 0; r < RowCount(); ++r) EXPECT_EQ(Cell(r, 6), "") << r;
  EXPECT_FALSE(Msg()->isVisible());
}

}  // namespace
}  // namespace orbelan
