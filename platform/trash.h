#pragma once
// The freedesktop.org trash, by its specification, for every kind of file: regular files,
// folders and symbolic links (the link itself, never its target). A file goes to the home
// trash when it lies on the home trash's file system, else to the trash at the top of its
// own file system; it is only ever renamed, never copied. Every step that can fail says
// why, and a failure leaves the file where it was. No Qt.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orbelan {

// Where one file went: enough to read its record and to put it back.
struct TrashEntry {
  std::string Trash;     // the trash folder: .../Trash, $topdir/.Trash/$uid or $topdir/.Trash-$uid
  std::string Name;      // its name in Trash/files; the record is Trash/info/Name.trashinfo
  std::string Original;  // the absolute path it had (bytes as the file system has them)
};

// $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash; empty when neither is known.
std::string HomeTrashFolder();

// Whether path names a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);

// The trash folders a file at path may have gone to, existing ones only: the home trash
// when path lies on its file system, and the trashes at the top of path's own.
std::vector<std::string> TrashFoldersFor(const std::string& path, const std::string& homeTrash);

// Moves the file at path (absolute; a trailing "/" is ignored) into the trash. homeTrash is
// the home trash folder (HomeTrashFolder()); empty means only volume trashes are used. On
// success fills entry when given. On failure returns false, leaves the file and no record
// behind and, when error is given, says why ("... (No space left on device)").
bool MoveToTrash(const std::string& path, const std::string& homeTrash, TrashEntry* entry,
                 std::string* error);

// The original path a trash record names: Trash/info/Name.trashinfo parsed by the trash's
// rules (percent-decoded; a relative Path is taken from the top of the trash's file system).
// nullopt, with the reason in error, when the record is missing or malformed.
std::optional<std::string> ReadTrashRecord(const std::string& trash, const std::string& name,
                                           std::string* error);

// The text of the open trash record fd, up to a little past 64 KiB (no record is that
// long, so a longer file is not one); closes fd.
std::string ReadRecordText(int fd);

// Puts a trashed file back at entry.Original, never over anything that stands there now,
// and removes its record. The record must name entry.Original. False, with the reason,
// when it could not; the trash is then as it was.
bool RestoreFromTrash(const TrashEntry& entry, std::string* error);

// Test seam: called with the record's path once a move's record is on the disk and before
// the file moves (where a kill leaves a record without its file). Not for the program.
void SetAfterTrashRecordForTests(std::function<void(const std::string& record)> hook);

// The record of a file trashed from recorded (the Path= value before encoding: absolute,
// or relative to the top of the trash's file system), marked as ours (kOwnRecordLine).
std::string TrashRecordText(const std::string& recorded);

// The name in the trash tried for the number'th attempt at a file named base: cut (at a
// character boundary where it can be) so that with " number" and ".trashinfo" it fits a
// file name.
std::string TrashNameFor(const std::string& base, int number);

// Percent-encoding of a path as the trash records it (every byte but the URI's unreserved
// ones and "/" as %XX), and its inverse (nullopt on a malformed escape).
std::string PercentEncoded(const std::string& path);
std::optional<std::string> PercentDecoded(const std::string& text);

}  // namespace orbelan
