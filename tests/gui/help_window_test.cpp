// The help viewer: where it looks for orbelan.hlp, what it shows, and its one window.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QWidget>
#include <gtest/gtest.h>

#include "dialogs/help_window.h"

namespace orbelan {
namespace {

// The help file in the source tree, found from this test's own source path.
// The source folder comes from the build: __FILE__ may be relative (ccache's base_dir).
QString SourceHelpFile() { return QStringLiteral(ORBELAN_SOURCE_DIR "/resources/orbelan.hlp"); }

QTextBrowser* Browser(QWidget* viewer) {
  return viewer ? viewer->findChild<QTextBrowser*>("helpBrowser") : nullptr;
}

void WriteFile(const QString& path, const QByteArray& text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

TEST(HelpWindowTest, LooksNextToTheProgramThenInTheInstalledShareFolder) {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QStringList candidates = HelpFileCandidates();
  ASSERT_EQ(candidates.size(), 2);
  EXPECT_EQ(candidates[0], exeDir + "/orbelan.hlp");
  EXPECT_EQ(candidates[1], QDir::cleanPath(exeDir + "/../share/orbelan/orbelan.hlp"));

  // An installed layout: bin/ beside share/orbelan/.
  QTemporaryDir prefix;
  ASSERT_TRUE(QDir().mkpath(prefix.path() + "/bin"));
  ASSERT_TRUE(QDir().mkpath(prefix.path() + "/share/orbelan"));
  const QString nextTo = prefix.path() + "/bin/orbelan.hlp";
  const QString shared = prefix.path() + "/share/orbelan/orbelan.hlp";
  const QStringList layout = {nextTo, shared};

  EXPECT_EQ(FindHelpFile(layout), QString());
  WriteFile(shared, "<title>shared</title>");
  EXPECT_EQ(FindHelpFile(layout), shared);
  WriteFile(nextTo, "<title>beside</title>");
  EXPECT_EQ(FindHelpFile(layout), nextTo);  // the program's own copy comes first

  // A folder of that name is not a help file.
  QFile::remove(nextTo);
  ASSERT_TRUE(QDir().mkpath(nextTo));
  EXPECT_EQ(FindHelpFile(layout), shared);
}

TEST(HelpWindowTest, ShowsTheHelpFileWithItsTitleInOneReusedWindow) {
  const QString file = SourceHelpFile();
  ASSERT_TRUE(QFileInfo::exists(file)) << file.toStdString();

  QWidget* viewer = ShowHelpFile(nullptr, file);
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_TRUE(viewer->isWindow());
  EXPECT_EQ(viewer->windowTitle(), "Orbelan Help");
  QTextBrowser* browser = Browser(viewer);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->documentTitle(), "Orbelan Help");
  const QString text = browser->toPlainText();
  for (const char* topic : {"Ctrl+S", "Unzipped", "Zipped", "Priority", "Paths to ignore",
                            "Favorites", "orbelan.dat", "Esc"})
    EXPECT_TRUE(text.contains(topic)) << topic;

  // Hidden, then asked for again: the same window comes back.
  viewer->hide();
  EXPECT_EQ(ShowHelpFile(nullptr, file), viewer);
  EXPECT_TRUE(viewer->isVisible());
  viewer->hide();
}

TEST(HelpWindowTest, MissingFileIsReportedInTheViewerAndARealFileShowsAgainAfterwards) {
  QTemporaryDir dir;
  QWidget* viewer = ShowHelpFile(nullptr, dir.path() + "/orbelan.hlp");
  ASSERT_NE(Browser(viewer), nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(Browser(viewer)->toPlainText(), "The help file orbelan.hlp could not be found.");
  EXPECT_EQ(ShowHelpFile(nullptr, QString()), viewer);
  EXPECT_EQ(Browser(viewer)->toPlainText(), "The help file orbelan.hlp could not be found.");

  const QString other = dir.path() + "/other.hlp";
  WriteFile(other, "<html><head><title>Other Help</title></head><body><p>Second page</p></body></html>");
  EXPECT_EQ(ShowHelpFile(nullptr, other), viewer);
  EXPECT_EQ(viewer->windowTitle(), "Other Help");
  EXPECT_TRUE(Browser(viewer)->toPlainText().contains("Second page"));
  viewer->hide();
}

}  // namespace
}  // namespace orbelan
