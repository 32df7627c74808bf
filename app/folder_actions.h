#pragma once
// Commands on one listed folder and the folder drop. Every path here is the folder's
// real path (FolderRec::Path), never the list's lower-cased caption.

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>
#include <string>

class QWidget;

namespace orbelan {

// Paths are the folder's bytes as the file system has them; they need not be valid UTF-8.
// Opens the folder in the desktop's file manager (mnuExploreClick, butExploreClick).
void ExploreFolder(const std::string& folderPath);
// Asks for confirmation, then moves the folder's own files (not its subfolders) to the trash.
void RecycleFiles(QWidget* parent, const std::string& folderPath);
// Asks for confirmation, then moves the folder with everything in it to the trash.
// The root folder "/" is refused with a message.
void RecycleDirectory(QWidget* parent, const std::string& folderPath);
// The dropped-folder rules: shows the "Multiple folder drop" / "Folder drag/drop" messages
// as needed and returns the path to scan (the exact bytes the desktop gave), or nullopt.
// The caller tests the busy state first and does not call this while busy.
std::optional<std::string> DroppedFolder(QWidget* parent, const QList<QUrl>& urls);

}  // namespace orbelan
