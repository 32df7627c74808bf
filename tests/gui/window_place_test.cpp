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

#include <memory>

#include "app/main_form.h"
#include "app/results_view.h"

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
    form->resize(700, 400);
    QHeaderView* header = form->findChild<QTreeView*>("LView1")->header();
    header->resizeSection(0, 260);  // the user's own widths
    header->resizeSection(2, 130);
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
  EXPECT_EQ(form->size(), QSize(700, 400));
  // The Path column comes back as wide as it was in a window of that width.
  auto* view = form->findChild<QTreeView*>("LView1");
  view->show();  // as a scan leaves it
  QCoreApplication::processEvents();
  EXPECT_EQ(view->header()->sectionSize(0), 260);
  EXPECT_EQ(view->header()->sectionSize(2), 130);
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

  // A file without the section, or with nonsense in it, leaves the layout's place.
  file.open(QIODevice::WriteOnly);
  file.write("[MAIN]\r\nminSize=0\r\n[WINDOW]\r\nLeft=x\r\nTop=1\r\nWidth=500\r\nHeight=300\r\n");
  file.close();
  auto plain = Open();
  EXPECT_EQ(plain->pos(), QPoint(102, 194));
  EXPECT_EQ(plain->size(), QSize(TForm1::kOuterWidth - TForm1::kFrameWidth,
                                 TForm1::kOuterHeight - TForm1::kFrameHeight));
}

}  // namespace
}  // namespace orbelan
