#include "app/folder_actions.h"

#include <sys/stat.h>

#include <QSysInfo>
#include <string>
#include <vector>

#include "ui/interaction.h"
#include "platform/dir_reader.h"

namespace orbelan {

namespace {

const QString kDropCaption = QStringLiteral("Folder drag/drop");
const QString kDropError =
    QStringLiteral("An error occurred while checking the folder you have dropped.");

// The path as text for a message; bytes that are not UTF-8 show as replacement characters.
QString Readable(const std::string& path) {
  return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}

// stat() that follows links and also works for paths longer than the kernel's PATH_MAX:
// the parent is then opened one component at a time.
bool StatPath(const QByteArray& path, struct stat& out) {
  if (::stat(path.constData(), &out) == 0) return true;
  if (errno != ENAMETOOLONG) return false;
  std::string_view whole(path.constData(), static_cast<std::size_t>(path.size()));
  while (whole.size() > 1 && whole.back() == '/') whole.remove_suffix(1);
  const std::size_t slash = whole.rfind('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view parent = slash == 0 ? std::string_view("/") : whole.substr(0, slash);
  const std::string name(whole.substr(slash + 1));
  DirReader reader;
  if (!reader.OpenPath(parent)) return false;
  return ::fstatat(reader.Fd(), name.c_str(), &out, 0) == 0;
}

// The exact bytes of a local file URL's path: percent-decoded from the URL itself, so that
// a name that is not UTF-8 is not replaced on the way.
std::optional<QByteArray> LocalPathBytes(const QUrl& url) {
  if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
  const QString host = url.host();
  if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0 &&
      host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
    return std::nullopt;  // a file on another machine
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

}  // namespace

void ExploreFolder(const std::string& folderPath) { interaction().OpenFolder(folderPath); }

void RecycleFiles(QWidget* parent, const std::string& folderPath) {
  const QString caption = QStringLiteral("Recycle files");
  if (folderPath.empty()) return;
  const QString shown = Readable(folderPath);
  if (!interaction().AskYesNo(
          parent,
          QStringLiteral("Move the files of %1 to the trash?\n\nIts subfolders and their contents stay.")
              .arg(shown),
          caption))
    return;

  const std::string prefix = folderPath.ends_with('/') ? folderPath : folderPath + '/';
  DirReader reader;
  if (!reader.OpenPath(folderPath)) {
    interaction().ShowMessage(parent, QStringLiteral("The folder %1 could not be read.").arg(shown),
                              caption);
    return;
  }
  // Names are gathered first: trashing while reading would change the folder under the reader.
  std::vector<std::string> names;
  DirEntry entry;
  while (reader.Next(entry)) {
    const std::string_view name = entry.NameView();
    if (name == "." || name == "..") continue;
    const EntryKind kind = reader.KindOf(entry);
    if (kind == EntryKind::Directory || kind == EntryKind::Gone) continue;  // subfolders stay
    names.emplace_back(name);
  }
  reader.Close();

  int failed = 0;
  for (const std::string& name : names)
    if (!interaction().MoveToTrash(prefix + name)) ++failed;
  if (failed > 0) {
    interaction().ShowMessage(
        parent,
        failed == 1 ? QStringLiteral("1 file of %1 could not be moved to the trash.").arg(shown)
                    : QStringLiteral("%1 files of %2 could not be moved to the trash.")
                          .arg(QString::number(failed), shown),
        caption);
  }
}

void RecycleDirectory(QWidget* parent, const std::string& folderPath) {
  const QString caption = QStringLiteral("Recycle directory");
  std::string path = folderPath;
  while (path.ends_with('/')) path.pop_back();
  if (path.empty()) {  // the root folder, which cannot go to the trash
    interaction().ShowMessage(parent, QStringLiteral("The root folder cannot be moved to the trash."),
                              caption);
    return;
  }
  const QString shown = Readable(path);
  if (!interaction().AskYesNo(
          parent,
          QStringLiteral("Move the folder %1 with everything in it to the trash?").arg(shown), caption))
    return;
  if (!interaction().MoveToTrash(path)) {
    interaction().ShowMessage(
        parent, QStringLiteral("The folder %1 could not be moved to the trash.").arg(shown), caption);
  }
}

std::optional<std::string> DroppedFolder(QWidget* parent, const QList<QUrl>& urls) {
  if (urls.isEmpty()) return std::nullopt;
  if (urls.size() > 1) {
    interaction().ShowMessage(
        parent, QStringLiteral("More than one folder dropped.  Only first folder will be processed."),
        QStringLiteral("Multiple folder drop"));
  }
  const std::optional<QByteArray> bytes = LocalPathBytes(urls.front());
  struct stat info {};
  if (!bytes || bytes->isEmpty() || !StatPath(*bytes, info)) {
    interaction().ShowMessage(parent, kDropError, kDropCaption);
    return std::nullopt;
  }
  // A link to a folder is taken as the folder it names, as a folder picked by name would be.
  if (!S_ISDIR(info.st_mode)) {
    interaction().ShowMessage(
        parent, QStringLiteral("The item you have dropped does not appear to be a folder."), kDropCaption);
    return std::nullopt;
  }
  return bytes->toStdString();
}

}  // namespace orbelan
