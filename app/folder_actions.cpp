#include "app/folder_actions.h"

#include "app/interaction.h"

namespace orbelan {

void ExploreFolder(const QString& folderPath) { interaction().OpenFolder(folderPath); }

void RecycleFiles(QWidget*, const QString&) {}

void RecycleDirectory(QWidget*, const QString&) {}

std::optional<QString> DroppedFolder(QWidget*, const QList<QUrl>&) { return std::nullopt; }

}  // namespace orbelan
