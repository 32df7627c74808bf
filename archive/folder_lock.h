#pragma once
// One run at a time in a folder: a zip and an undo each hold the folder's lock while they
// change it, and a second run that finds it held changes nothing and says so.
//
// The lock is an flock on a descriptor of the folder itself, not on a lock file in it: it
// adds nothing to the user's folder (undo gives a folder back exactly as it was, hidden
// entries included), leaves nothing behind when a run is killed (the kernel drops it with
// the process), needs no write permission beyond what the run needs anyway, and goes with
// the folder as the run does (a folder renamed keeps its lock; a new folder made at the
// old name has its own). Directories on network file systems take it locally, which is
// where two runs of one user meet. No Qt.

#include <optional>
#include <string>

namespace orbelan {

class FolderLock {
 public:
  // Locks the folder open at folderFd (any descriptor of it, O_PATH included). nullopt,
  // with why, when another run holds it (kFolderBusy) or it could not be taken.
  static std::optional<FolderLock> Take(int folderFd, std::string* why);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();  // releases it

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// What a second run is told, after the folder's name or "the folder".
inline constexpr const char* kFolderBusy =
    "is being zipped or unzipped by another Orbelan; try again when it has finished";

}  // namespace orbelan
