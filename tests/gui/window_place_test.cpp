// The main window remembers its place and its column widths between runs, in a section of
// its own; a place no screen shows any more puts the window back on the primary screen.

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/main_form.h"
#include "app/results_view.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

class WindowPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  std::unique_ptr<TForm1> Open() {
    TForm1::Options options;
    options.settingsFile = File().toStdString();
    options.startSplashTimer = false;
    return std::make_unique<TForm1>(options);
  }
  QString File() const { return dir_.path() + "/orbelan.dat"; }
  QByteArray Text() const {
    QFile file(File());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // The MAIN section as it stands in the file.
  QByteArray MainSection() const {
    const QByteArray text = Text();
    const qsizetype start = text.indexOf("[MAIN]");
    const qsizetype next = text.indexOf("\n[", start + 1);
    return text.mid(start, next < 0 ? -1 : next - start);
  }

  // Centred on the primary screen, at least the layout's size, every caption whole and
  // Saving in view beside the Path column.
  static void ExpectFirstStart(TForm1& form) {
    form.show();
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_GE(form.width(), TForm1::kOuterWidth - TForm1::kFrameWidth);
    EXPECT_GE(form.height(), TForm1::kOuterHeight - TForm1::kFrameHeight);
    EXPECT_LE(form.width(), room.width());
    EXPECT_LE(form.height(), room.height());
    const QPoint centre = form.geometry().center();
    EXPECT_LE(std::abs(centre.x() - room.center().x()), TForm1::kFrameWidth) << centre.x();
    EXPECT_LE(std::abs(centre.y() - room.center().y()), TForm1::kFrameHeight) << centre.y();
    auto* view = form.findChild<QTreeView*>("LView1");
    view->show();
    QCoreApplication::processEvents();
    int total = 0;
    for (int c = 0; c < kColumnCount; ++c) total += view->header()->sectionSize(c);
    EXPECT_LE(total, view->viewport()->width());
    EXPECT_GE(view->header()->sectionSize(0), ResultsViewBehaviour::kMinPathWidth);
    for (int c = 1; c < kColumnCount; ++c)
      EXPECT_GE(view->header()->sectionSize(c), view->header()->sectionSizeHint(c)) << c;
  }

  QTemporaryDir dir_;
};

TEST_F(WindowPlaceTest, PlaceAndColumnWidthsComeBackInTheNextRunAndMainStaysAsItWas) {
  {
    auto form = Open();
    form->settings.MinSize = 7;
    form->show();
    form->close();  // a first run writes MAIN as before
  }
  const QByteArray main = MainSection();
  ASSERT_FALSE(main.isEmpty());

  {
    auto form = Open();
    form->show();
    form->move(120, 90);
    form->resize(900, 400);
    QHeaderView* header = form->findChild<QTreeView*>("LView1")->header();
    header->resizeSection(2, 130);  // the user's own width
    form->close();
  }
  const QByteArray text = Text();
  EXPECT_TRUE(text.contains("[WINDOW]")) << text.toStdString();
  EXPECT_EQ(MainSection(), main);  // not a byte of MAIN changed
  EXPECT_EQ(text.indexOf("[MAIN]"), 0);

  auto form = Open();
  EXPECT_EQ(form->settings.MinSize, 7);
  form->show();
  EXPECT_EQ(form->pos(), QPoint(120, 90));
  EXPECT_EQ(form->size(), QSize(900, 400));
  // The number column comes back as the user left it; Path takes what the others leave.
  auto* view = form->findChild<QTreeView*>("LView1");
  view->show();  // as a scan leaves it
  QCoreApplication::processEvents();
  EXPECT_EQ(view->header()->sectionSize(2), 130);
  int total = 0;
  for (int c = 0; c < kColumnCount; ++c) total += view->header()->sectionSize(c);
  EXPECT_EQ(total, view->viewport()->width());
  EXPECT_EQ(form->ListBehaviour()->PreferredWidth(2), 130);
  EXPECT_EQ(form->ListBehaviour()->PreferredWidth(1), 0);  // never dragged: the layout's
}

TEST_F(WindowPlaceTest, APlaceNoScreenShowsPutsTheWindowOnThePrimaryScreen) {
  QFile file(File());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[MAIN]\r\nminSize=0\r\n[WINDOW]\r\nLeft=40000\r\nTop=-30000\r\nWidth=9000\r\n"
             "Height=300\r\nMaximized=0\r\n");
  file.close();
  auto form = Open();
  form->show();
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(room.contains(form->geometry().topLeft())) << form->x() << "," << form->y();
  EXPECT_LE(form->width(), room.width());
  EXPECT_EQ(form->height(), 300);

  // A file without the section, or with nonsense in it, is a first start.
  file.open(QIODevice::WriteOnly);
  file.write("[MAIN]\r\nminSize=0\r\n[WINDOW]\r\nLeft=x\r\nTop=1\r\nWidth=500\r\nHeight=300\r\n");
  file.close();
  auto plain = Open();
  ExpectFirstStart(*plain);
}

TEST_F(WindowPlaceTest, TheFirstStartIsCentredAndShowsEveryColumnWhole) {
  auto form = Open();  // no settings file
  ExpectFirstStart(*form);
  // After a scan's fill with wide figures every column is still in view, whole.
  form->show();
  auto* view = form->findChild<QTreeView*>("LView1");
  FolderList& folders = form->FoldersForTests();
  folders.AddFolder("/Big Folder/", form->settings.Rules());
  folders.Tail()->SzFiles = 17'185'622'123;
  folders.Tail()->SzZips = 9'999'999'999;
  folders.Tail()->NFiles = 2;
  folders.Tail()->Recent = 1;  // long ago
  form->settings.MinSize = 0;
  form->FillList();
  view->show();
  QCoreApplication::processEvents();
  int total = 0;
  for (int c = 0; c < kColumnCount; ++c) {
    total += view->header()->sectionSize(c);
    if (c > 0) {
      EXPECT_GE(view->header()->sectionSize(c), form->ListBehaviour()->NeededWidth(c)) << c;
    }
  }
  EXPECT_LE(total, view->viewport()->width());
  EXPECT_GE(view->header()->sectionSize(0), ResultsViewBehaviour::kMinPathWidth);
}

TEST_F(WindowPlaceTest, NoColumnWidthIsEverZeroStoredOrApplied) {
  // A file from a run that stored 0 for the number columns (and 1 for one of them).
  QFile file(File());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[MAIN]\r\nminSize=0\r\n[WINDOW]\r\nLeft=10\r\nTop=10\r\nWidth=900\r\nHeight=500\r\n"
             "Maximized=1\r\nColumn1=230\r\nColumn2=0\r\nColumn3=0\r\nColumn4=0\r\nColumn5=0\r\n"
             "Column6=0\r\nColumn7=1\r\n");
  file.close();
  {
    auto form = Open();
    form->show();
    auto* view = form->findChild<QTreeView*>("LView1");
    view->show();
    QCoreApplication::processEvents();
    QHeaderView* header = view->header();
    for (int c = 1; c < kColumnCount; ++c) {
      EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << c;  // "Saving" whole
      EXPECT_EQ(form->ListBehaviour()->PreferredWidth(c), 0) << c;          // no choice of the user's
    }
    // A column dragged to nothing comes back at its caption's width.
    header->resizeSection(6, 0);
    EXPECT_GE(header->sectionSize(6), header->sectionSizeHint(6));
    form->close();
  }
  const QByteArray text = Text();
  for (int c = 1; c <= kColumnCount; ++c) {
    const QByteArray key = "Column" + QByteArray::number(c) + "=";
    const qsizetype at = text.indexOf(key);
    ASSERT_GE(at, 0) << c;
    const int stored = text.mid(at + key.size(), text.indexOf('\r', at) - at - key.size()).toInt();
    EXPECT_GT(stored, 0) << c;
  }
}

}  // namespace
}  // namespace orbelan
