#pragma once
// Moves a symbolic link itself into the freedesktop trash. Qt's trash looks through a link
// and refuses one whose target is gone, so links are trashed here by the trash's own rules:
// a .trashinfo file in info/, the link renamed into files/ under the same name.

#include <string>

namespace orbelan {

// Whether path names a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);

// Moves the link at linkPath (absolute, its bytes as the file system has them) into the
// home trash when it lies on the same file system, else into the trash at the top of its
// own file system ($topdir/.Trash-$uid). homeTrash is the home trash folder
// ($XDG_DATA_HOME/Trash). False when the link could not be moved; nothing is left behind.
bool MoveLinkToTrash(const std::string& linkPath, const std::string& homeTrash);

}  // namespace orbelan
