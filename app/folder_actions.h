#pragma once
// Commands on one listed folder and the folder drop. Every path here is the folder's
// real path (FolderRec::Path), never the list's lower-cased caption.

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

namespace orbelan {

// Opens the folder in the desktop's file manager (mnuExploreClick, butExploreClick).
void ExploreFolder(const QString& folderPath);
// Asks for confirmation, then moves the folder's own files (not its subfolders) to the trash.
void RecycleFiles(QWidget* parent, const QString& folderPath);
// Asks for confirmation, then moves the folder with everything in it to the trash.
// The root folder "/" is refused with a message.
void RecycleDirectory(QWidget* parent, const QString& folderPath);
// The dropped-folder rules: shows the "Multiple folder drop" / "Folder drag/drop" messages
// as needed and returns the path to scan (as the desktop gave it), or nullopt.
// The caller tests the busy state first and does not call this while busy.
std::optional<QString> DroppedFolder(QWidget* parent, const QList<QUrl>& urls);

}  // namespace orbelan
