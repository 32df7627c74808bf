#pragma once
// The freedesktop.org trash for the files of one folder, prepared once and then used only
// through descriptors: the folder's real path is read from its open descriptor, the trash
// is chosen from it (the home trash on the same file system, else the one at the top of
// the folder's own), and its files/ and info/ folders are held open. A file moves by
// renameat2 from the descriptor of the folder it was checked in, never by a path read
// again, so a folder renamed or swapped for a link meanwhile cannot send another file to
// the trash. Records are written first, made durable for many files at once, and the files
// move after; each record stays locked (flock) until its file has moved or the record is
// gone again (see trash_orphans.h). No Qt.

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/trash.h"

namespace orbelan {

// One file's place in the trash, claimed before it moves.
struct TrashClaim {
  std::string Name;      // in files/; its record is info/Name.trashinfo
  std::string Original;  // the absolute path the record restores to
  int RecordFd = -1;     // the record, open and locked while the claim lives
};

class FolderTrash {
 public:
  FolderTrash() = default;
  ~FolderTrash();
  FolderTrash(const FolderTrash&) = delete;
  FolderTrash& operator=(const FolderTrash&) = delete;

  // Prepares the trash for the files below the folder open at folderFd: the home trash
  // (homeTrash, made when missing) when it is on the folder's mount, else $topdir/.Trash/$uid
  // or $topdir/.Trash-$uid at the top of the folder's mount; files/ and info/ are made when
  // missing and must be real folders of this user's, and info/ is proved writable. Records
  // of ours that killed moves left there are removed. False with the cause in error.
  bool Prepare(int folderFd, const std::string& homeTrash, std::string* error);

  const std::string& Path() const { return path_; }          // the trash folder
  const std::string& FolderPath() const { return folder_; }  // the folder's real path, ending in "/"
  std::int64_t OrphansRemoved() const { return orphans_; }

  // Writes the record of the file at relative (below the folder, "sub/name" allowed) under
  // a free name, not yet durable. False with the cause in error.
  bool Claim(const std::string& relative, TrashClaim& claim, std::string* error);
  // Makes the claims' records durable: one sync of the file system, else each record.
  bool MakeDurable(const std::vector<TrashClaim>& claims, std::string* error);
  // Moves leaf of the folder open at fromFd to claim.Name in files/, never over anything
  // and never following a link. 0, or the errno of the failure (EEXIST: the name is taken).
  int MoveIn(int fromFd, const std::string& leaf, const TrashClaim& claim) const;
  // Puts back what stands at claim.Name in files/ as leaf of the folder open at toFd, never
  // over anything. 0 or the errno.
  int MoveBack(const TrashClaim& claim, int toFd, const std::string& leaf) const;
  // Whether what stands at claim.Name in files/ is the file device/inode (not followed).
  bool Holds(const TrashClaim& claim, std::uint64_t device, std::uint64_t inode) const;
  // What stands at claim.Name in files/ (not followed); false when nothing does.
  bool Stat(const TrashClaim& claim, struct stat& st) const;
  // The claim's file is in files/: its record is released, and where it went is told.
  TrashEntry Keep(TrashClaim& claim) const;
  // The claim's file did not arrive (or went back): its record goes.
  void Drop(TrashClaim& claim) const;
  // Makes the moves into files/, and out of the folders below the one open at folderFd,
  // durable: one sync of the file system, else files/ and that folder.
  void SyncMoves(int folderFd) const;

 private:
  std::string path_;
  std::string folder_;
  std::string recordedFolder_;  // the folder as records name it: absolute, or relative to $topdir
  std::int64_t orphans_ = 0;
  int trashFd_ = -1;
  int filesFd_ = -1;
  int infoFd_ = -1;
};

// The real path of the folder open at fd, ending in "/"; empty when the kernel cannot tell
// (a folder deleted meanwhile, or one outside this process's root).
std::string RealFolderPath(int fd);

}  // namespace orbelan
