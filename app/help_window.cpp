#include "app/help_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace orbelan {

namespace {

const char kHelpFileName[] = "orbelan.hlp";

QString FindHelpFile() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QStringList candidates = {
      exeDir + QLatin1Char('/') + QLatin1String(kHelpFileName),
      QDir::cleanPath(exeDir + QStringLiteral("/../share/orbelan/") + QLatin1String(kHelpFileName)),
  };
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return path;
  return {};
}

}  // namespace

void ShowHelpContents(QWidget* parent) {
  static QPointer<QWidget> window;
  if (!window) {
    window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("helpWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName(QStringLiteral("helpBrowser"));
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    window->resize(560, 480);
  }
  auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
  const QString file = FindHelpFile();
  if (file.isEmpty()) {
    browser->setPlainText(QStringLiteral("The help file %1 could not be found.").arg(QLatin1String(kHelpFileName)));
    window->setWindowTitle(QStringLiteral("Help"));
  } else {
    browser->setSource(QUrl::fromLocalFile(file), QTextDocument::HtmlResource);
    window->setWindowTitle(browser->documentTitle());
  }
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace orbelan
