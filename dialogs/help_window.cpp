#include "dialogs/help_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QPalette>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include "ui/pictures.h"
#include "ui/readable_colour.h"

namespace orbelan {

namespace {

const QString kHelpFileName = QStringLiteral("orbelan.hlp");

QWidget* MakeViewer(QWidget* parent) {
  auto* window = new QWidget(parent, Qt::Window);
  window->setObjectName(QStringLiteral("helpWindow"));
  window->setWindowIcon(pictures::ProgramIcon());
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* browser = new QTextBrowser(window);
  browser->setObjectName(QStringLiteral("helpBrowser"));
  // Links inside the help stay in the viewer; web links go to the browser.
  browser->setOpenExternalLinks(true);
  layout->addWidget(browser);
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window);
  QObject::connect(close, &QShortcut::activated, window, &QWidget::close);
  window->resize(600, 520);
  return window;
}

}  // namespace

QStringList HelpFileCandidates() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  return {QDir(exeDir).filePath(kHelpFileName),
          QDir::cleanPath(exeDir + QStringLiteral("/../share/orbelan/") + kHelpFileName)};
}

QString FindHelpFile(const QStringList& candidates) {
  for (const QString& path : candidates) {
    const QFileInfo info(path);
    if (info.isFile() && info.isReadable()) return path;
  }
  return {};
}

// The help's colours, from the viewer's palette: headings in navy and maroon and links in
// the link colour, made readable on the page's colour, table headings on the palette's
// alternate rows in its text colour.
// The help file itself names no colour, so a dark theme shows it as readably as a light one.
QString HelpStyleSheet(const QPalette& palette) {
  const QColor page = palette.color(QPalette::Base);
  const QColor shaded = palette.color(QPalette::AlternateBase);
  const QColor text = ReadableOn(palette.color(QPalette::Text), shaded);
  // Links in the palette's link colour, made readable too: dark schemes (qt6ct's "darker")
  // give a blue that stands out from their page by less than 3:1.
  return QStringLiteral("h1 { color: %1; } h2 { color: %2; } th { background-color: %3; color: %4; } "
                        "a { color: %5; }")
      .arg(ReadableOn(QColor(0, 0, 128), page).name(), ReadableOn(QColor(128, 0, 0), page).name(),
           shaded.name(), text.name(), ReadableOn(palette.color(QPalette::Link), page).name());
}

QWidget* ShowHelpFile(QWidget* parent, const QString& file) {
  static QPointer<QWidget> viewer;
  if (!viewer) viewer = MakeViewer(parent);
  auto* browser = viewer->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
  // The application's palette as it is now: a hidden viewer may not have taken a new one yet.
  browser->document()->setDefaultStyleSheet(HelpStyleSheet(QApplication::palette(browser)));
  const QFileInfo info(file);
  if (file.isEmpty() || !info.isFile() || !info.isReadable()) {
    browser->clearHistory();
    browser->setSource(QUrl());
    browser->setPlainText(QStringLiteral("The help file %1 could not be found.").arg(kHelpFileName));
    viewer->setWindowTitle(QStringLiteral("Orbelan Help"));
  } else {
    browser->setSource(QUrl::fromLocalFile(info.absoluteFilePath()), QTextDocument::HtmlResource);
    const QString title = browser->documentTitle();
    viewer->setWindowTitle(title.isEmpty() ? QStringLiteral("Orbelan Help") : title);
  }
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return viewer;
}

void ShowHelpContents(QWidget* parent) { ShowHelpFile(parent, FindHelpFile(HelpFileCandidates())); }

}  // namespace orbelan
