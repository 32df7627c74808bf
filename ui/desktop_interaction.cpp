#include "ui/desktop_interaction.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>
#include <algorithm>

#include "platform/trash.h"

namespace orbelan {

namespace {

// The application's title, the caption of the plain and error boxes.
QString AppTitle() { return QApplication::applicationName(); }

}  // namespace

void DesktopInteraction::ShowMessage(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

void DesktopInteraction::ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, AppTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

bool DesktopInteraction::AskYesNo(QWidget* parent, const QString& text, const QString& caption,
                                  bool defaultNo) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> DesktopInteraction::InputBox(QWidget* parent, const QString& caption,
                                                    const QString& prompt, const QString& start) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextValue(start);
  dialog.setOkButtonText(QStringLiteral("OK"));
  dialog.setCancelButtonText(QStringLiteral("Cancel"));
  // Wide enough for the prompt and for the caption in the title bar (which also holds the
  // icon and the window buttons), so the window manager does not cut either.
  const QFontMetrics metrics(dialog.font());
  QFont titleFont = dialog.font();
  titleFont.setBold(true);
  const int captionWidth = QFontMetrics(titleFont).horizontalAdvance(caption) + 140;
  const int promptWidth = metrics.horizontalAdvance(prompt) + 40;
  dialog.setMinimumWidth(std::max({captionWidth, promptWidth, 300}));
  // QInputDialog has no length limit of its own: reach its line edit.
  if (auto* edit = dialog.findChild<QLineEdit*>()) {
    edit->setMaxLength(255);
    edit->selectAll();
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

std::optional<QString> DesktopInteraction::PickFolder(QWidget* parent, const QString& title,
                                                      const QString& startDir) {
  // Qt's own picker, so it speaks in the program's face and size like every other box.
  const QString dir = QFileDialog::getExistingDirectory(
      parent, title, startDir, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (dir.isEmpty()) return std::nullopt;
  return dir.endsWith('/') ? dir : dir + '/';
}

int DesktopInteraction::ExecModal(QDialog* dialog) { return dialog->exec(); }

QUrl LocalFileUrl(const std::string& path) {
  const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
  // Percent-encoding every byte outside the unreserved set (but "/") keeps the bytes as
  // they are; QUrl::fromLocalFile would take a QString, which has already lost them.
  return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

void DesktopInteraction::OpenFolder(const std::string& path) {
  // QDesktopServices reports success as soon as xdg-open starts, even when it then finds
  // no file manager; so xdg-open is run here and its exit status heard when it ends. It is
  // not waited for: with some desktops it lasts as long as the file manager's window.
  const QString url = QString::fromLatin1(LocalFileUrl(path).toEncoded());
  const QString shown = QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
  auto* opener = new QProcess;  // outlives the window if need be: quitting must not end it
  opener->setProgram(QStringLiteral("xdg-open"));
  opener->setArguments({url});
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  auto noFileManager = [shown] {
    interaction().ShowMessage(
        QApplication::activeWindow(),
        QStringLiteral("The folder %1 could not be opened: this desktop has no file manager "
                       "set up to open folders.")
            .arg(shown),
        QStringLiteral("Explore"));
  };
  QObject::connect(opener, &QProcess::finished, opener,
                   [opener, noFileManager](int code, QProcess::ExitStatus status) {
                     opener->deleteLater();
                     if (status != QProcess::NormalExit || code != 0) noFileManager();
                   });
  QObject::connect(opener, &QProcess::errorOccurred, opener,
                   [opener, noFileManager](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     opener->deleteLater();
                     noFileManager();  // xdg-utils missing
                   });
  opener->start();
}

void DesktopInteraction::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

bool DesktopInteraction::MoveToTrash(const std::string& path) {
  // Our own trash for every kind of file: it names a file by its bytes, fails at once with
  // its cause instead of retrying, and never leaves a file without its record.
  std::string absolute = path;
  if (!absolute.starts_with('/'))
    absolute = QFile::encodeName(QDir::currentPath()).toStdString() + '/' + absolute;
  return orbelan::MoveToTrash(absolute, HomeTrashFolder(), nullptr, nullptr);
}

namespace {
DesktopInteraction& DefaultInteraction() {
  static DesktopInteraction instance;
  return instance;
}
Interaction* g_current = nullptr;
}  // namespace

Interaction& interaction() { return g_current ? *g_current : DefaultInteraction(); }

void setInteraction(Interaction* replacement) { g_current = replacement; }

}  // namespace orbelan
