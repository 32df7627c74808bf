// "Zip folder" in the main window: the menu items, the question, the work on a worker
// thread with the status panel's bar, Esc, the summary, the real trash (kept inside a
// temporary folder) and the recounted row.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <gtest/gtest.h>

#include "app/folder_zip_command.h"
#include "app/gui_saving_estimator.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"
#include "survey/saving_table.h"
#include "tests/gui/scripted_interaction.h"
#include "ui/desktop_interaction.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

void WriteFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(data);
}

QByteArray Text(int n) {
  QByteArray s;
  while (s.size() < n) s += "All work and no play makes a dull archive. ";
  return s.left(n);
}

// The scripted boxes with the real trash underneath.
class RealTrash : public testing::ScriptedInteraction {
 public:
  bool MoveToTrash(const std::string& path) override {
    ++calls;
    return desktop.MoveToTrash(path);
  }
  DesktopInteraction desktop;
  std::atomic<int> calls{0};
};

class FolderZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldHome_ = qgetenv("HOME");
    oldData_ = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(dir_.path() + "/home"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path() + "/home/.local/share"));
    root_ = dir_.path() + "/Tree";
    work_ = root_ + "/Work/";
    WriteFile(work_ + "report.txt", Text(40000));
    WriteFile(work_ + "-dash 'quoted'.txt", Text(9000));
    WriteFile(work_ + "old.zip", QByteArray(3000, 'z'));
    WriteFile(work_ + ".hidden", "h");
    WriteFile(root_ + "/Other/x.txt", Text(5000));
    TForm1::Options options;
    options.settingsFile = (dir_.path() + "/orbelan.dat").toStdString();
    options.startSplashTimer = false;
    form_ = std::make_unique<TForm1>(options);
    form_->settings.MinSize = 0;
    form_->settings.ZipExts.Clear();
    form_->settings.ZipExts.Append(".zip");
    ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_ + "/").toStdString()));
  }
  void TearDown() override {
    form_.reset();
    qputenv("HOME", oldHome_);
    if (oldData_.isNull()) qunsetenv("XDG_DATA_HOME");
    else qputenv("XDG_DATA_HOME", oldData_);
  }

  const FolderRec* Record(const QString& folder) {
    for (const FolderRec& rec : form_->Folders())
      if (rec.Path() == QFile::encodeName(folder).toStdString()) return &rec;
    return nullptr;
  }
  void Select(const QString& folder) {
    const FolderRec* rec = Record(folder);
    ASSERT_NE(rec, nullptr);
    const auto& rows = form_->Model()->Rows().Rows;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].Rec == rec)
        form_->findChild<QTreeView*>("LView1")->setCurrentIndex(form_->Model()->index(int(i), 0));
    ASSERT_EQ(form_->SelectedRecord(), rec);
  }
  // Runs the event loop until the zip is over (the worker reports through it).
  void WaitForZip() {
    QElapsedTimer clock;
    clock.start();
    while (form_->ZipCommandForTests()->Running() && clock.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(form_->ZipCommandForTests()->Running());
    ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));  // the rescan a zip of a subtree starts
  }
  QStringList WorkNames() {
    return QDir(work_).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }
  QString Trash(const QString& relative) { return dir_.path() + "/home/.local/share/Trash/" + relative; }
  // Files in the home trash: the zipper trashes by its own hand, not through the seam.
  int TrashedCount() {
    return static_cast<int>(QDir(Trash("files")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size());
  }

  QTemporaryDir dir_;
  QByteArray oldHome_, oldData_;
  QString root_, work_;
  RealTrash script_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(FolderZipTest, ItemsAreOfferedForASelectedRowWithTheirOwnAccessLetter) {
  auto* folderMenu = form_->findChild<QMenu*>("mFolder");
  auto* item = form_->findChild<QAction*>("mnuFZipAll");
  auto* popupItem = form_->findChild<QAction*>("mnuZip");
  ASSERT_TRUE(folderMenu && item && popupItem);
  EXPECT_EQ(item->text(), QString::fromUtf8("&Zip folder…"));
  EXPECT_EQ(popupItem->text(), QString::fromUtf8("&Zip folder…"));
  EXPECT_TRUE(item->isVisible());
  EXPECT_TRUE(popupItem->isVisible());
  form_->findChild<QTreeView*>("LView1")->clearSelection();
  EXPECT_FALSE(item->isEnabled());
  Select(work_);
  EXPECT_TRUE(item->isEnabled());

  // Ctrl+Z, everyone's undo, does not start it; the menu item has no shortcut at all.
  EXPECT_TRUE(item->shortcut().isEmpty());
  EXPECT_TRUE(popupItem->shortcut().isEmpty());
  form_->show();
  QApplication::setActiveWindow(form_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
  WaitForZip();
  EXPECT_TRUE(script_.shown.empty());
  EXPECT_FALSE(form_->IsBusy());

  // No other item of either menu uses Z.
  for (QMenu* menu : {folderMenu, form_->findChild<QMenu*>("PopupMenu1")}) {
    int zs = 0;
    for (QAction* a : menu->actions())
      if (a->isVisible() && a->text().contains("&z", Qt::CaseInsensitive)) ++zs;
    EXPECT_EQ(zs, 1);
  }
}

TEST_F(FolderZipTest, YesZipsVerifiesTrashesSummarisesAndRecountsTheRow) {
  // The list's saving estimate, once in, is shown in the question and the summary.
  QElapsedTimer wait;
  wait.start();
  while (form_->SavingEstimatorForTests().Running() && wait.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const SavingEstimate* known = form_->SavingOf(*Record(work_));
  ASSERT_TRUE(known && known->Known);
  const SavingEstimate before = *known;  // the table is filled afresh after the zip
  const SavingEstimate* estimate = &before;
  // The disk space the list's Saving column shows, the unit of what the summary says came back.
  const QString estimated = QString::fromStdString(GroupedNumber(estimate->Disk));
  Select(work_);
  script_.yesNo = {true};
  bool barSeen = false;
  script_.whileShown = [&](const testing::Shown&) {
    barSeen = barSeen || form_->findChild<QProgressBar*>("ProgressBar1")->isVisible();
  };
  form_->mnuZipClick();
  EXPECT_TRUE(form_->IsBusy());
  WaitForZip();
  EXPECT_FALSE(form_->IsBusy());

  ASSERT_EQ(script_.shown.size(), 2u);
  const QString question = script_.shown[0].text;
  EXPECT_EQ(script_.shown[0].kind, "question");
  EXPECT_EQ(script_.shown[0].caption, "Zip folder");
  EXPECT_TRUE(script_.shown[0].defaultNo);  // Enter alone does not zip
  EXPECT_TRUE(question.contains("comes back only when the trash is emptied")) << question.toStdString();
  const QString name = "Work-" + QDate::currentDate().toString(Qt::ISODate) + ".zip";
  for (const QString& part : {work_, QString("2 files, 49,000 bytes"), name, QString("trash"),
                              "(estimated saving: " + estimated + " bytes)"})
    EXPECT_TRUE(question.contains(part)) << question.toStdString() << " lacks " << part.toStdString();

  const QString summary = script_.shown[1].text;
  EXPECT_EQ(script_.shown[1].kind, "message");
  EXPECT_TRUE(summary.startsWith("Zipped 2 files, 49,000 bytes into " + name + " (")) << summary.toStdString();
  EXPECT_TRUE(summary.endsWith(" bytes of disk space come back when the trash is emptied; estimated " +
                               estimated + "."))
      << summary.toStdString();
  EXPECT_FALSE(barSeen);  // the bar is gone before the summary shows
  // What came back lies inside the estimate's interval.
  const QRegularExpressionMatch freed =
      QRegularExpression(": ([0-9,]+) bytes of disk space come back").match(summary);
  ASSERT_TRUE(freed.hasMatch()) << summary.toStdString();
  const std::int64_t back = QString(freed.captured(1)).remove(',').toLongLong();
  EXPECT_GE(back, estimate->DiskLow);
  EXPECT_LE(back, estimate->DiskHigh);

  // The archive stays beside the archive that was there; the originals are in the trash.
  EXPECT_EQ(WorkNames(), (QStringList{".hidden", name, "old.zip"}));
  EXPECT_EQ(TrashedCount(), 2);
  for (const char* file : {"report.txt", "-dash 'quoted'.txt"}) {
    EXPECT_TRUE(QFile::exists(Trash(QString("files/") + file))) << file;
    EXPECT_TRUE(QFile::exists(Trash(QString("info/") + file + ".trashinfo"))) << file;
  }
  QFile kept(Trash("files/report.txt"));
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), Text(40000));

  // The row now counts the new archive as zipped, and stays selected.
  const FolderRec* rec = Record(work_);
  ASSERT_NE(rec, nullptr);
  const qint64 archiveBytes = QFileInfo(work_ + name).size();
  EXPECT_EQ(rec->NFiles, 2);
  EXPECT_EQ(rec->NZips, 2);
  EXPECT_EQ(rec->SzZips, 3000 + archiveBytes);
  EXPECT_EQ(rec->SzFiles, rec->SzZips);
  EXPECT_EQ(form_->SelectedRecord(), rec);
  EXPECT_TRUE(summary.contains(QString("(%1 bytes)").arg(QString::fromStdString(GroupedNumber(archiveBytes)))));
}

// A tree scanned through a link to it: the zip works on the real folder, and the row the
// scan recorded under the link's path is the one counted again.
TEST_F(FolderZipTest, AFolderScannedThroughALinkGetsItsRowRecounted) {
  const QString linked = dir_.path() + "/Linked";
  ASSERT_TRUE(QFile::link(root_, linked));
  work_ = linked + "/Work/";
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(linked + "/").toStdString()));
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  WaitForZip();
  ASSERT_EQ(script_.shown.size(), 2u);
  EXPECT_TRUE(script_.shown[1].text.startsWith("Zipped 2 files")) << script_.shown[1].text.toStdString();
  const FolderRec* rec = Record(work_);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->NZips, 2);  // the new archive beside old.zip
}

TEST_F(FolderZipTest, NoLeavesEverythingAsItWas) {
  Select(work_);
  form_->mnuZipClick();  // the script answers No
  WaitForZip();
  EXPECT_EQ(script_.Texts("question").size(), 1);
  EXPECT_TRUE(script_.Texts("message").isEmpty());
  EXPECT_EQ(WorkNames(), (QStringList{"-dash 'quoted'.txt", ".hidden", "old.zip", "report.txt"}));
  EXPECT_EQ(TrashedCount(), 0);
  EXPECT_FALSE(form_->IsBusy());
}

TEST_F(FolderZipTest, TooLittleSpaceIsRefusedBeforeTheQuestion) {
  form_->ZipCommandForTests()->OptionsForTests().FreeSpace = [](int) {
    return std::optional<std::int64_t>(4096);
  };
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  WaitForZip();
  ASSERT_EQ(script_.shown.size(), 1u);
  EXPECT_EQ(script_.shown[0].kind, "message");
  EXPECT_TRUE(script_.shown[0].text.contains("not enough free space")) << script_.shown[0].text.toStdString();
  EXPECT_EQ(WorkNames().size(), 4);
  EXPECT_EQ(TrashedCount(), 0);
}

TEST_F(FolderZipTest, EscWhileZippingRemovesTheTemporaryArchiveAndKeepsTheOriginals) {
  std::atomic<bool> reading{false}, escaped{false};
  // The worker waits inside the work until Esc has been typed, so the cancel lands mid-way.
  form_->ZipCommandForTests()->OptionsForTests().BeforeRead = [&](const ZipMember& m) {
    if (m.Name != "report.txt") return;
    reading = true;
    for (int i = 0; i < 500 && !escaped; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  QElapsedTimer clock;
  clock.start();
  while (!reading && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(reading);
  EXPECT_TRUE(form_->findChild<QProgressBar*>("ProgressBar1")->isVisibleTo(form_.get()));
  QTest::keyClick(form_->findChild<QTreeView*>("LView1"), Qt::Key_Escape);
  escaped = true;
  WaitForZip();

  EXPECT_TRUE(script_.Texts("message").last().contains("cancelled")) << script_.Texts("message").last().toStdString();
  EXPECT_EQ(WorkNames(), (QStringList{"-dash 'quoted'.txt", ".hidden", "old.zip", "report.txt"}));
  EXPECT_EQ(TrashedCount(), 0);
  EXPECT_FALSE(form_->IsBusy());
  EXPECT_EQ(Record(work_)->NFiles, 3);  // the row was not touched
}

TEST_F(FolderZipTest, ClosingTheWindowWhileZippingCancelsQuietlyAndThenCloses) {
  std::atomic<bool> reading{false}, closed{false};
  form_->ZipCommandForTests()->OptionsForTests().BeforeRead = [&](const ZipMember&) {
    reading = true;
    for (int i = 0; i < 500 && !closed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  form_->show();
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  QElapsedTimer clock;
  clock.start();
  while (!reading && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(reading);
  EXPECT_FALSE(form_->close());  // the settings are saved; the window waits for the worker
  EXPECT_TRUE(form_->isVisible());
  closed = true;
  WaitForZip();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(script_.Texts("message").isEmpty());  // no box after the window closed
  EXPECT_EQ(WorkNames(), (QStringList{"-dash 'quoted'.txt", ".hidden", "old.zip", "report.txt"}));
  EXPECT_EQ(TrashedCount(), 0);
}

TEST_F(FolderZipTest, ANameThatIsNotUtf8IsZippedAndNeverLost) {
  const QByteArray odd = QFile::encodeName(work_) + "r\xe9sum\xe9.txt";
  {
    const int fd = ::open(odd.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray data = Text(7000);
    ASSERT_EQ(::write(fd, data.constData(), data.size()), data.size());
    ::close(fd);
  }
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  WaitForZip();
  const QString summary = script_.Texts("message").last();
  ASSERT_TRUE(summary.startsWith("Zipped 3 files, 56,000 bytes into ")) << summary.toStdString();
  // The trash either takes it under its own bytes, or it stays and the summary says so.
  struct stat st {};
  const bool stayed = ::lstat(odd.constData(), &st) == 0;
  if (stayed) {
    EXPECT_TRUE(summary.contains("1 file could not be moved to the trash")) << summary.toStdString();
  } else {
    const QByteArray inTrash =
        QFile::encodeName(dir_.path() + "/home/.local/share/Trash/files/") + "r\xe9sum\xe9.txt";
    EXPECT_EQ(::lstat(inTrash.constData(), &st), 0);
    // The temporary folder's own clean-up goes by decoded names and cannot remove these.
    ::unlink(inTrash.constData());
    ::unlink((QFile::encodeName(dir_.path() + "/home/.local/share/Trash/info/") + "r\xe9sum\xe9.txt.trashinfo")
                 .constData());
  }
  ::unlink(odd.constData());
}

TEST_F(FolderZipTest, UndoZipPutsTheFilesBackAndTrashesTheArchive) {
  Select(work_);
  script_.yesNo = {true};
  form_->mnuZipClick();
  WaitForZip();
  const QString name = "Work-" + QDate::currentDate().toString(Qt::ISODate) + ".zip";
  ASSERT_EQ(WorkNames(), (QStringList{".hidden", name, "old.zip"}));

  // From the context menu's twin in the Folder menu, with the row still selected.
  script_.shown.clear();
  script_.yesNo = {true};
  form_->findChild<QAction*>("mnuFUndoZip")->trigger();
  EXPECT_TRUE(form_->IsBusy());
  WaitForZip();
  EXPECT_FALSE(form_->IsBusy());
  ASSERT_EQ(script_.shown.size(), 2u);
  EXPECT_EQ(script_.shown[0].kind, "question");
  EXPECT_EQ(script_.shown[0].caption, "Undo zip");
  EXPECT_TRUE(script_.shown[0].text.contains(name)) << script_.shown[0].text.toStdString();
  EXPECT_EQ(script_.shown[1].caption, "Undo zip");
  EXPECT_TRUE(script_.shown[1].text.startsWith("Put back 2 files of 2 in " + work_ + "; the archive " + name +
                                               " went to the trash."))
      << script_.shown[1].text.toStdString();
  EXPECT_EQ(WorkNames(), (QStringList{"-dash 'quoted'.txt", ".hidden", "old.zip", "report.txt"}));
  QFile back(work_ + "report.txt");
  ASSERT_TRUE(back.open(QIODevice::ReadOnly));
  EXPECT_EQ(back.readAll(), Text(40000));
  EXPECT_EQ(Record(work_)->NFiles, 3);  // counted again: the two files and old.zip

  // A folder without an archive of ours says so and changes nothing.
  script_.shown.clear();
  form_->findChild<QAction*>("mnuUndoZip")->trigger();
  WaitForZip();
  ASSERT_EQ(script_.Texts("message").size(), 1);
  EXPECT_TRUE(script_.Texts("message")[0].contains("holds no archive that Orbelan made"));
  EXPECT_TRUE(script_.Texts("question").isEmpty());
}

// Zip subtree on the scan's top folder: its own file, Work/ (two files, old.zip, .hidden)
// and Other/ (one file) below it go into one archive; Other/ is left empty and removed, the records
// are scanned again, and Undo zip brings everything back, Other/ included.
TEST_F(FolderZipTest, ZipSubtreeAsksNamesFoldersRescansAndUndoes) {
  for (const char* name : {"mnuFZipSubtree", "mnuZipSubtree"}) {
    auto* item = form_->findChild<QAction*>(name);
    ASSERT_NE(item, nullptr) << name;
    EXPECT_EQ(item->text(), QString::fromUtf8("Zip &subtree…"));
    EXPECT_TRUE(item->shortcut().isEmpty());
  }
  // A file of its own, so that the top folder is a row of the list.
  WriteFile(root_ + "/top.txt", Text(6000));
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_ + "/").toStdString()));
  QElapsedTimer wait;
  wait.start();
  while (form_->SavingEstimatorForTests().Running() && wait.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const QString top = root_ + "/";
  Select(top);
  script_.yesNo = {true};
  form_->findChild<QAction*>("mnuZipSubtree")->trigger();
  EXPECT_TRUE(form_->IsBusy());
  WaitForZip();
  EXPECT_FALSE(form_->IsBusy());
  ASSERT_EQ(script_.shown.size(), 2u);
  const QString question = script_.shown[0].text;
  EXPECT_EQ(script_.shown[0].caption, "Zip subtree");
  EXPECT_TRUE(script_.shown[0].defaultNo);
  for (const QString& part : {QString("Zip this folder and everything below it?"), top,
                              QString("4 files in 3 folders, 60,000 bytes"), QString("(estimated saving: "),
                              QString("bytes of disk space")})
    EXPECT_TRUE(question.contains(part)) << question.toStdString() << " lacks " << part.toStdString();
  const QString name = "Tree-" + QDate::currentDate().toString(Qt::ISODate) + ".zip";
  const QString summary = script_.shown[1].text;
  EXPECT_EQ(script_.shown[1].caption, "Zip subtree");
  EXPECT_TRUE(summary.startsWith("Zipped 4 files from 3 folders, 60,000 bytes into " + name)) << summary.toStdString();
  EXPECT_TRUE(summary.contains("1 subfolder left empty was removed")) << summary.toStdString();

  // On disk, and in the records scanned again: Other/ is gone, Work/ keeps its archive.
  EXPECT_TRUE(QFile::exists(top + name));
  EXPECT_FALSE(QFile::exists(root_ + "/Other"));
  EXPECT_EQ(WorkNames(), (QStringList{".hidden", "old.zip"}));
  EXPECT_EQ(Record(root_ + "/Other/"), nullptr);
  ASSERT_NE(Record(work_), nullptr);
  EXPECT_EQ(Record(work_)->NFiles, 1);
  EXPECT_EQ(Record(top)->NZips, 1);
  EXPECT_EQ(form_->SelectedRecord(), Record(top));

  script_.shown.clear();
  script_.yesNo = {true};
  form_->findChild<QAction*>("mnuFUndoZip")->trigger();
  WaitForZip();
  ASSERT_EQ(script_.Texts("message").size(), 1);
  EXPECT_TRUE(script_.Texts("message")[0].startsWith("Put back 4 files of 4 in " + top + ", making 1 subfolder again"))
      << script_.Texts("message")[0].toStdString();
  EXPECT_FALSE(QFile::exists(top + name));
  QFile back(root_ + "/Other/x.txt");
  ASSERT_TRUE(back.open(QIODevice::ReadOnly));
  EXPECT_EQ(back.readAll(), Text(5000));
  ASSERT_NE(Record(root_ + "/Other/"), nullptr);  // scanned again
  EXPECT_EQ(Record(root_ + "/Other/")->NFiles, 1);
  EXPECT_EQ(Record(work_)->NFiles, 3);
  // The folders scanned again are estimated again: their files were drawn as in a scan.
  wait.restart();
  while (form_->SavingEstimatorForTests().Running() && wait.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const SavingEstimate* other = form_->SavingOf(*Record(root_ + "/Other/"));
  ASSERT_TRUE(other && other->Known);
  EXPECT_GT(other->Disk, 0);  // the disk space given back, as the Saving column shows it
}

TEST(FolderZipSummary, TellsDiskSpaceWhatStayedAndTheEstimateWhenKnown) {
  ZipResult r;
  r.Files = 1234;
  r.Bytes = 812000000;
  r.ArchiveName = "Photos-2026-12-07.zip";
  r.ArchiveBytes = 204000000;
  r.TrashedFiles = 1234;
  r.TrashedBytes = 812000000;
  r.Freed = 611000000;  // disk space, not the sizes' difference
  EXPECT_EQ(FolderZipCommand::SummaryText(r, 590000000),
            "Zipped 1,234 files, 812,000,000 bytes into Photos-2026-12-07.zip (204,000,000 bytes): "
            "611,000,000 bytes of disk space come back when the trash is emptied; estimated 590,000,000.");
  r.Changed = {"a.log", "b.txt"};
  r.NotTrashed = {"c.txt"};
  r.NotTrashedWhy = {"the trash record could not be made (Permission denied)"};
  r.TrashedFiles = 1231;
  r.Freed = -4096;  // what went was hard-linked: nothing comes back
  const QString text = FolderZipCommand::SummaryText(r, std::nullopt);
  EXPECT_TRUE(text.startsWith("Zipped 1,234 files, 812,000,000 bytes into Photos-2026-12-07.zip "
                              "(204,000,000 bytes): no disk space comes back when the trash is emptied.\n\n"))
      << text.toStdString();
  EXPECT_TRUE(text.contains("2 files were in use or changed after being read, and stayed in the folder: a.log, b.txt"))
      << text.toStdString();
  EXPECT_TRUE(text.endsWith("1 file could not be moved to the trash and stayed in the folder: "
                            "c.txt (the trash record could not be made (Permission denied))"))
      << text.toStdString();
}

TEST(FolderZipQuestion, SaysTheSpaceComesBackWhenTheTrashIsEmptied) {
  ZipPlan plan;
  plan.Allocated = 53248;
  EXPECT_EQ(FolderZipCommand::DiskSpaceText(plan),
            "These files take 53,248 bytes of disk space; that space, less the archive's own, comes "
            "back only when the trash is emptied.");
  plan.HardLinked = 2;
  EXPECT_TRUE(FolderZipCommand::DiskSpaceText(plan).contains(
      "(not counting 2 files with hard links outside these files, which give back nothing)"));
  plan.LinkedTogether = 3;
  EXPECT_TRUE(FolderZipCommand::DiskSpaceText(plan).contains(
      "(3 files that are hard links of one another count once; not counting 2 files with hard links outside "
      "these files, which give back nothing)"))
      << FolderZipCommand::DiskSpaceText(plan).toStdString();
}

}  // namespace
}  // namespace orbelan
