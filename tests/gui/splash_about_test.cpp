#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "ui/about_box.h"
#include "ui/splash_timer.h"
#include "ui/splash_window.h"
#include "ui/tiled_wallpaper.h"

namespace orbelan {
namespace {

// Clicks the window at a point of its client area, on whichever control lies there, and
// returns that control's name.
QString ClickAt(QWidget& window, QPoint at) {
  QWidget* target = window.childAt(at);
  if (!target) target = &window;
  const QPointF local = target->mapFrom(&window, at);
  const QPointF global = window.mapToGlobal(QPointF(at));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
  return target->objectName();
}

void Type(QWidget* receiver, int key, const QString& text,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(receiver, &press);
}

QWidget* Child(QWidget& window, const char* name) {
  return window.findChild<QWidget*>(QString::fromLatin1(name));
}

// Window coordinates of the splash: the content area starts at (8, 8), Panel2 at (18, 18).
struct Spot {
  const char* what;
  QPoint at;
  const char* control;
};

TEST(Splash, LayoutOfTheWindow) {
  TfrmSplash splash;
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(splash.size(), QSize(304, 162));
  EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
  const auto at = [&](const char* name) {
    QWidget* w = Child(splash, name);
    return w ? QRect(w->mapTo(&splash, QPoint(0, 0)), w->size()) : QRect();
  };
  // The picture and the line under it are inside the window, the line below the picture
  // and as wide; the name panel lies on the picture; every text fits its label.
  const QRect window = splash.rect();
  const QRect wallRect = at("kelWallpaper1"), line = at("Label1"), name = at("Panel2");
  EXPECT_TRUE(window.contains(wallRect));
  EXPECT_TRUE(window.contains(line));
  EXPECT_GT(line.top(), wallRect.bottom());
  EXPECT_EQ(line.width(), wallRect.width());
  EXPECT_TRUE(wallRect.contains(name));
  for (QLabel* label : splash.findChildren<QLabel*>()) {
    if (label->text().isEmpty() || label->wordWrap()) continue;
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
        << label->objectName().toStdString();
  }
  auto* labVer = qobject_cast<QLabel*>(Child(splash, "labVer"));
  ASSERT_TRUE(labVer);
  EXPECT_EQ(labVer->text(), "1.2");
  EXPECT_EQ(qobject_cast<QLabel*>(Child(splash, "Label3"))->text(), "Orbelan");

  RezeRazedaziz* wall = splash.kelWallpaper1();
  EXPECT_EQ(wall->TileStyle(), tileTopLeft);
  EXPECT_EQ(wall->Picture().image().size(), QSize(206, 135));
  // The picture's left part repeats from x = 206 onwards.
  const QImage painted = wall->Render();
  EXPECT_EQ(painted.pixel(206, 40), painted.pixel(0, 40));
  EXPECT_EQ(painted.pixel(287, 129), painted.pixel(81, 129));
}

TEST(Splash, ClicksOnPictureNameBoxAndStripHideIt) {
  const Spot hiding[] = {
      {"picture", {100, 100}, "kelWallpaper1"},
      {"picture right of the name box", {270, 30}, "kelWallpaper1"},
      {"bottom strip", {100, 145}, "Label1"},
      {"name box below the name", {118, 59}, "Panel2"},
      {"blue name between letters", {23, 21}, "Label3"},
  };
  for (const Spot& s : hiding) {
    TfrmSplash splash;
    splash.show();
    ASSERT_TRUE(splash.isVisible());
    EXPECT_EQ(ClickAt(splash, s.at), s.control) << s.what;
    EXPECT_FALSE(splash.isVisible()) << s.what;
  }
}

TEST(Splash, ClicksOnVersionShadowRimAndBorderDoNot) {
  const Spot keeping[] = {
      {"version", {200, 45}, "labVer"},
      {"shadow rim, right column", {178, 30}, "Label2"},
      {"shadow rim, bottom row", {100, 56}, "Label2"},
      {"outer border", {1, 80}, "Panel1"},
      {"bevels", {5, 80}, "Panel1"},
      {"bevel at the bottom", {150, 157}, "Panel1"},
  };
  TfrmSplash splash;
  splash.show();
  for (const Spot& s : keeping) {
    EXPECT_EQ(ClickAt(splash, s.at), s.control) << s.what;
    EXPECT_TRUE(splash.isVisible()) << s.what;
  }
}

TEST(Splash, TypedCharactersHideItOtherKeysDoNot) {
  struct Key {
    int key;
    QString text;
    bool hides;
  };
  const Key keys[] = {
      {Qt::Key_A, "a", true},           {Qt::Key_7, "7", true},
      {Qt::Key_Comma, ",", true},       {Qt::Key_Space, " ", true},
      {Qt::Key_Return, "\r", true},     {Qt::Key_Enter, "\r", true},
      {Qt::Key_Escape, "\x1b", true},   {Qt::Key_Backspace, "\b", true},
      {Qt::Key_Tab, "\t", false},       {Qt::Key_Left, "", false},
      {Qt::Key_Down, "", false},        {Qt::Key_F1, "", false},
      {Qt::Key_Shift, "", false},       {Qt::Key_Delete, "\x7f", false},
  };
  for (const Key& k : keys) {
    TfrmSplash splash;
    splash.show();
    Type(&splash, k.key, k.text);
    EXPECT_EQ(splash.isVisible(), !k.hides) << k.key;
  }
  // Key preview: a key sent to a control reaches the window's handler.
  TfrmSplash splash;
  splash.show();
  Type(Child(splash, "Label1"), Qt::Key_Tab, "\t");
  EXPECT_TRUE(splash.isVisible());
  Type(Child(splash, "Label1"), Qt::Key_X, "x");
  EXPECT_FALSE(splash.isVisible());
}

TEST(SplashTimer, ShowsThenHidesOnceAndHonoursAnEarlyClose) {
  TfrmSplash splash;
  SplashTimer timer(&splash);
  EXPECT_TRUE(timer.Timer1().isActive());
  EXPECT_EQ(timer.Timer1().interval(), 500);
  EXPECT_FALSE(splash.isVisible());

  timer.Timer1Timer();
  EXPECT_TRUE(splash.isVisible());
  EXPECT_TRUE(timer.Timer1().isActive());
  EXPECT_EQ(timer.Timer1().interval(), 3000);

  timer.Timer1Timer();
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(timer.Timer1().isActive());

  TfrmSplash early;
  SplashTimer second(&early);
  second.Timer1Timer();
  ClickAt(early, {100, 100});
  EXPECT_FALSE(early.isVisible());
  second.Timer1Timer();
  EXPECT_FALSE(early.isVisible());
  EXPECT_FALSE(second.Timer1().isActive());
}

TEST(SplashTimer, RealTimerShowsTheSplashAfterHalfASecond) {
  TfrmSplash splash;
  SplashTimer timer(&splash);
  QEventLoop loop;
  QTimer::singleShot(350, &loop, [&] {
    EXPECT_FALSE(splash.isVisible());
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
  });
  loop.exec();
  EXPECT_TRUE(splash.isVisible());
  EXPECT_EQ(timer.Timer1().interval(), 3000);
}

TEST(About, FrameAndContents) {
  TfrmAbout about;
  EXPECT_EQ(about.windowTitle(), "About Orbelan");
  EXPECT_EQ(about.size(), QSize(298, 183));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_FALSE(about.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(about.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(about.isModal());
  auto* icon = qobject_cast<QLabel*>(Child(about, "ProgramIcon"));
  ASSERT_TRUE(icon);
  // The program's picture is shown whole, inside the window.
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_TRUE(QRect(QPoint(0, 0), icon->size()).contains(QRect(QPoint(0, 0), icon->pixmap().deviceIndependentSize().toSize())));
  EXPECT_TRUE(about.rect().contains(QRect(icon->mapTo(&about, QPoint(0, 0)), icon->size())));
  EXPECT_EQ(qobject_cast<QLabel*>(Child(about, "ProductName"))->text(), "Orbelan");
  EXPECT_TRUE(qobject_cast<QLabel*>(Child(about, "Label1"))->text().contains("kelsystems"));
  auto* ok = qobject_cast<QPushButton*>(Child(about, "butOK"));
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->isDefault());
  // OK is inside the window under the panel, with room for its caption.
  const QRect okRect = ok->geometry();
  EXPECT_TRUE(about.rect().contains(okRect));
  EXPECT_GT(okRect.top(), Child(about, "Panel1")->geometry().bottom());
  EXPECT_GE(okRect.width(), ok->fontMetrics().horizontalAdvance(ok->text()));
  // Every text fits its place inside the panel.
  for (QLabel* label : Child(about, "Panel1")->findChildren<QLabel*>()) {
    const QRect r = label->geometry();
    EXPECT_TRUE(QRect(0, 0, 281, 137).contains(r)) << label->objectName().toStdString();
    if (!label->text().isEmpty()) {
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), r.width())
          << label->objectName().toStdString();
    }
  }
}

TEST(About, ShowsVersionOnEveryOpeningAndEnterClosesIt) {
  TfrmAbout about;
  auto* labVer = qobject_cast<QLabel*>(Child(about, "labVer"));
  ASSERT_TRUE(labVer);
  for (int opening = 0; opening < 2; ++opening) {
    labVer->setText("stale");
    about.show();
    EXPECT_EQ(labVer->text(), "Version 1.2");
    EXPECT_EQ(about.focusWidget(), Child(about, "butOK"));
    Type(&about, Qt::Key_Return, "\r");
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
  }
  about.show();
  ClickAt(about, {140, 160});
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orbelan
