// The zipper's trash: made ready before anything is written, then taking the originals
// (through the trash stage) and the temporary archives earlier runs left.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "archive/folder_zipper.h"
#include "archive/member_links.h"
#include "archive/trash_stage.h"
#include "archive/zipper_parts.h"
#include "platform/open_writers.h"
#include "platform/trash_at.h"

namespace orbelan {
using namespace zipper_parts;
namespace {

// Moves to the trash a temporary archive that no run holds any more (killed, or ended by a
// crash), and only one that is surely ours: unlocked, our user's, with no other name, and
// empty or starting as a zip does (what a killed run leaves: it is linked before its first
// byte, and the second write starts from empty). Anything else with such a name is left
// alone. The trash, not unlink: should it be someone's file after all, it can come back.
bool TrashIfAbandoned(int dirFd, const std::string& name, FolderTrash& trash) {
  UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat held {}, named {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid() ||
      held.st_nlink != 1)
    return false;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;  // a run is writing it
  if (held.st_size > 0) {
    char start[4];
    if (::pread(fd.Get(), start, sizeof start, 0) != static_cast<ssize_t>(sizeof start) ||
        std::memcmp(start, "PK\x03\x04", sizeof start) != 0)
      return false;
  }
  // Still the file that was locked, not one that took its name meanwhile.
  if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != held.st_ino ||
      named.st_dev != held.st_dev)
    return false;
  // Through the folder's descriptor, as the originals go; what arrived must be what was
  // checked, else it goes back.
  TrashClaim claim;
  if (!trash.Claim(name, claim, nullptr)) return false;
  if (!trash.MakeDurable({claim}, nullptr) || trash.MoveIn(dirFd, name, claim) != 0) {
    trash.Drop(claim);
    return false;
  }
  if (trash.Holds(claim, static_cast<std::uint64_t>(held.st_dev), static_cast<std::uint64_t>(held.st_ino))) {
    trash.Keep(claim);
    return true;
  }
  if (trash.MoveBack(claim, dirFd, name) == 0) trash.Drop(claim);
  else trash.Keep(claim);  // a stranger that cannot go back keeps its record, so it can be restored
  return false;
}

}  // namespace

std::int64_t FolderZipper::TrashAbandonedTemporaries(const ZipPlan& plan, int folderFd, FolderTrash& trash) {
  std::int64_t trashed = 0;
  for (const std::string& name : plan.Temporaries) trashed += TrashIfAbandoned(folderFd, name, trash) ? 1 : 0;
  return trashed;
}

// Where the originals cannot go (no trash to be had, or files whose idleness nothing can
// prove), nothing is written: the run would only add an archive.
ZipResult FolderZipper::PrepareTrash(const ZipPlan& plan, int folderFd, FolderTrash& trash) const {
  if (const std::optional<std::string> kind = SharedFileSystemKind(folderFd))
    return Refuse("The folder " + plan.Folder + " is on a " + *kind +
                  " file system, where nothing on this computer can tell whether another computer or program is "
                  "writing a file, so no original could go to the trash." + kNothingChanged);
  std::string why;
  if (!trash.Prepare(folderFd, *options_.HomeTrash, &why))
    return Refuse("The originals of " + plan.Folder + " could not go to the trash: " + why + "." + kNothingChanged);
  return ZipResult{};
}

ZipResult FolderZipper::CheckTrash(const ZipPlan& plan, int folderFd) const {
  FolderTrash trash;
  return PrepareTrash(plan, folderFd, trash);
}

void FolderZipper::TrashOriginals(Work& work, ZipResult& result) {
  Stage = static_cast<int>(ZipStage::Trashing);
  Done = 0;
  Total = static_cast<std::int64_t>(work.plan.Members.size());
  if (options_.AtStage) options_.AtStage(ZipStage::Trashing);
  if (options_.BeforeTrash) options_.BeforeTrash();
  TrashStage stage{work.plan, work.dirFd, work.trash, options_, CancelRequested, Done, work.buffer.get(), kBlock,
                   {}, {}};
  stage.Run(result);
  work.trashedFrom = std::move(stage.TrashedFrom);
  // Blocks come back only for the files whose every name went.
  const LinkTally links = TallyLinks(stage.Trashed);
  result.TrashedHeld = links.Elsewhere;
  result.TrashedShared = links.Shared;
  result.FreedEstimated = links.FsSaved > 0;
  result.Freed = links.Allocated - result.ArchiveAllocated;
}

}  // namespace orbelan
