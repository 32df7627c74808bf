#pragma once
// Undoing a zip Orbelan made: every original still in the trash goes back to its exact
// place, each checked against the archive's manifest, and only when all are back does the
// archive itself go to the trash. The manifest is untrusted input: only places inside the
// archive's own folder (and below it, for an archive of a folder's subtree) are written,
// only from trash entries whose record names that very place, never over anything that
// stands there now, never through a link. Every move goes through descriptors: the
// archive's folder is opened once, each folder on the way beneath it without following a
// link, and the file moves from the trash's folder held open into the folder so opened;
// a folder swapped for a link meanwhile leaves the file in the trash, named. A subfolder
// the zip removed once it was empty is made again, with its permissions, for the files
// that go back into it. The folder's lock keeps a zip or another undo out meanwhile. No Qt.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/folder_zipper.h"
#include "archive/zip_manifest.h"

namespace orbelan {

struct UndoResult {
  ZipOutcome Outcome = ZipOutcome::Done;  // Refused: nothing was changed (Message says why)
  std::string Message;
  std::string Folder;                     // the archive's folder, ending in "/"
  std::int64_t Members = 0;               // originals the manifest names
  std::int64_t Restored = 0;              // put back
  std::int64_t InPlace = 0;               // never left (in use, changed back): as zipped
  // Of Restored, names that are hard links of one another again: the trash keeps each name
  // of a file on that file, so its names come back as one file, as they were zipped.
  std::int64_t Relinked = 0;
  std::vector<std::string> Blocked;       // something else stands there now: left in the trash
  std::vector<std::string> Missing;       // not in the trash any more, or not as zipped
  // In the trash, but the move back failed: left there, each with its cause (the system's
  // error text, or what changed on the way).
  std::vector<std::string> NotRestored;
  std::vector<std::string> NotRestoredWhy;
  // The folder the manifest names, when the archive now lies in another (Folder): only
  // files the trash records for Folder are put back. Those recorded for MadeIn are named.
  std::string MadeIn;
  std::vector<std::string> RecordedElsewhere;
  // A missing member has the bytes of another member: perhaps once a hard link of it,
  // which unzipping the archive cannot make again (a zip holds each name as its own file).
  bool MissingLikeAnother = false;
  bool Subtree = false;                   // the archive is of a folder with its subfolders
  std::int64_t FoldersMade = 0;           // subfolders the zip had removed, made again
  bool ArchiveTrashed = false;            // all were back, and the archive went to the trash
  std::string ArchiveNotTrashedWhy;       // when all were back but the archive stayed
};

struct UndoOptions {
  std::string HomeTrash;  // default HomeTrashFolder()
  // Moves the archive to the trash at the end; default the freedesktop.org trash.
  std::function<bool(const std::string& path, TrashEntry* entry, std::string* error)> Trash;
  // Test seam: called with a member's name once its trash entry is chosen, before the
  // folders on the way to its place are opened.
  std::function<void(const std::string& name)> BeforePlace = nullptr;
};

// The archive's manifest when the file at archivePath is an archive Orbelan made.
std::optional<ZipManifest> ReadZipManifest(const std::string& archivePath, std::string* error);

// The newest archive Orbelan made directly in folder (its name), if any.
std::optional<std::string> FindUndoableArchive(const std::string& folder);

// archivePath may pass through links to the archive's folder (the folder is where the
// link leads); the archive itself is never a link.
UndoResult UndoZip(const std::string& archivePath, UndoOptions options = {});

}  // namespace orbelan
