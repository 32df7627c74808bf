#pragma once
class QWidget;

namespace orbelan {

struct FolderRec;
struct Settings;

// "&ignore this path": appends the folder's path, lower-cased, to IgnorePaths and saves.
// "add to &favorites": appends the folder's real path to Favorites and saves.
// A full list (50 entries) is reported instead of losing the entry silently; a failed save
// is reported with the error box and the new entry stays in memory.
// rec is the selected row's record; nullptr (no selection) does nothing.
void mnuIgnorePathClick(QWidget* parent, Settings& settings, const FolderRec* rec);
void mnuAddFavorClick(QWidget* parent, Settings& settings, const FolderRec* rec);

}  // namespace orbelan
