#pragma once
// Moving a zipped original to the trash only while it is provably the file that was read
// and nobody may be writing it. Its size, times and inode must be as they were read. A read
// lease (refused while anyone has the file open for writing or mapped shared and writable,
// and broken when anyone opens it for writing) is held from the check until the file has
// moved. Where no lease can be had (another user's file, a file system without leases),
// the file is read again and its CRC compared with the archive's, and only a process that
// sees every other (root) may prove that none holds it for writing; otherwise it stays.
// The move goes from the descriptor of the member's own folder into the trash's files/
// folder, and what arrived must be the inode that was checked, else it goes back.

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "archive/folder_zipper.h"
#include "platform/open_writers.h"
#include "platform/trash_at.h"

namespace orbelan {

enum class TrashCheck {
  Trashed,    // it is in files/ under the claim's name
  Changed,    // not as it was read, or replaced: it stays (why says how)
  InUse,      // may be open for writing: it stays (why says why)
  Gone,       // no longer there
  Refused,    // the move failed (why has the system's reason): it stays
  NameTaken,  // the claimed name in files/ was taken meanwhile: to be tried again
};

// How idleness is proved for one batch of members.
struct IdleProof {
  bool UseLeases = true;
  // The members' files some process holds for writing, found once for the batch where
  // every process can be seen; nullopt where that cannot be told.
  std::optional<std::set<FileId>> Writers;
};

struct MemberMove {
  TrashCheck Check = TrashCheck::Changed;
  std::string Why;
  bool Leased = false;   // proved by a lease held until after the move
  bool NoLease = false;  // in use as far as can be told: no lease could be had, nor the writers seen
  // The file's change time just after the move, when nothing but the move can have changed
  // it since the check: what its other hard links, and the batch's last look, check against.
  std::optional<struct timespec> MovedAt;
  // The claim's name in files/ holds a file that is not the member and could not go back.
  bool StrangerInTrash = false;
};

// member (its name relative to the plan's folder; leaf in the folder open at folderFd) as
// it was read into the archive. buffer (of bufferSize bytes) is scratch for the read-again
// check. beforeMove is called between the check and the move (a test seam).
MemberMove TrashIfUnchanged(const FolderTrash& trash, const TrashClaim& claim, int folderFd,
                            const std::string& leaf, const ZipMember& member, IdleProof& proof,
                            unsigned char* buffer, std::size_t bufferSize,
                            const std::function<void(const ZipMember&)>& beforeMove);

// Whether the file's bytes give the CRC the archive holds for member.
bool SameBytes(int fd, const ZipMember& member, unsigned char* buffer, std::size_t size);

}  // namespace orbelan
