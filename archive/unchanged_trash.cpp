#include "archive/unchanged_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/read_lease.h"

namespace orbelan {
namespace {

bool SameAsRead(const ZipMember& m, const struct stat& st) {
  return S_ISREG(st.st_mode) && static_cast<std::int64_t>(st.st_size) == m.Size &&
         st.st_mtim.tv_sec == m.MtimeSec && st.st_mtim.tv_nsec == m.MtimeNsec &&
         st.st_ctim.tv_sec == m.CtimeSec && st.st_ctim.tv_nsec == m.CtimeNsec &&
         static_cast<std::uint64_t>(st.st_ino) == m.Inode &&
         static_cast<std::uint64_t>(st.st_dev) == m.Device;
}

MemberMove Outcome(TrashCheck check, std::string why = {}) {
  MemberMove move;
  move.Check = check;
  move.Why = std::move(why);
  return move;
}

}  // namespace

bool SameBytes(int fd, const ZipMember& m, unsigned char* buffer, std::size_t size) {
  std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  std::int64_t read = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    crc = static_cast<std::uint32_t>(::crc32(crc, buffer, static_cast<uInt>(n)));
    read += n;
    if (read > m.Size) return false;
  }
  return read == m.Size && crc == m.Crc;
}

namespace {

// Takes a read lease on the open file (move.Leased), or where none can be had looks for it
// among the files open for writing, and proves it the file that was read, its status then
// in st. The outcome that stops the move, if any.
std::optional<MemberMove> ProveIdleAndSame(int fd, const ZipMember& m, IdleProof& proof, unsigned char* buffer,
                                          std::size_t bufferSize, MemberMove& move, struct stat& st) {
  int leaseError = 0;
  if (proof.UseLeases) {
    IgnoreLeaseBreakSignal();
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      move.Leased = true;
    } else if (errno == EAGAIN) {
      return Outcome(TrashCheck::InUse, "open for writing, or mapped shared and writable");
    } else {
      leaseError = errno;
    }
  }
  if (::fstat(fd, &st) != 0 || !SameAsRead(m, st)) return Outcome(TrashCheck::Changed, "changed since it was read");
  if (!move.Leased) {
    if (!proof.Writers) {
      // Only a lease, or a look at every process, tells that nobody holds it for writing.
      move = Outcome(TrashCheck::InUse,
                     leaseError == EACCES
                         ? "another user's file: whether it is open for writing cannot be told"
                         : std::string("whether it is open for writing cannot be told (no lease: ") +
                               std::strerror(leaseError ? leaseError : ENOLCK) + ")");
      move.NoLease = true;
      return move;
    }
    if (proof.Writers->count({m.Device, m.Inode})) return Outcome(TrashCheck::InUse, "open for writing");
    if (!SameBytes(fd, m, buffer, bufferSize) || ::fstat(fd, &st) != 0 || !SameAsRead(m, st))
      return Outcome(TrashCheck::Changed, "changed since it was read");
  }
  return std::nullopt;
}

// After the move into the trash (the file open at fd, st its status before): whether what
// arrived is the file that was checked and stayed idle, and the change time the move gave it.
MemberMove AfterMove(const FolderTrash& trash, const TrashClaim& claim, int folderFd, const std::string& leaf,
                     const ZipMember& m, int fd, const struct stat& st, MemberMove move) {
  // What arrived must be the file that was checked: a file put at its name between the
  // look and the move goes back where it came from.
  if (!trash.Holds(claim, m.Device, m.Inode)) {
    if (trash.MoveBack(claim, folderFd, leaf) == 0) return Outcome(TrashCheck::Changed, "replaced just before it moved");
    MemberMove stranger = Outcome(TrashCheck::Changed, "replaced just before it moved; the file that took its name is in the trash as " +
                                                          trash.Path() + "/files/" + claim.Name + " and could not be put back");
    stranger.StrangerInTrash = true;
    return stranger;
  }
  // The change time after the move is wanted only for another name of the file, or to
  // tell a write since the move where no lease guards it.
  struct stat after {};
  const bool afterSeen = (m.Links > 1 || !move.Leased) && ::fstat(fd, &after) == 0;
  // Someone opened it for writing while it was moving: their writes would land in the
  // trash, so it goes back where it was.
  if (move.Leased && !LeaseStillHeld(fd)) {
    if (trash.MoveBack(claim, folderFd, leaf) == 0) return Outcome(TrashCheck::InUse, "opened for writing while it moved");
    move.Check = TrashCheck::Trashed;
    move.Why = "opened for writing while it moved, and it could not be put back";
    return move;
  }
  move.Check = TrashCheck::Trashed;
  // Renamed into the trash, its names are as many as before.
  if (afterSeen && static_cast<std::int64_t>(after.st_size) == m.Size && after.st_mtim.tv_sec == m.MtimeSec &&
      after.st_mtim.tv_nsec == m.MtimeNsec && after.st_nlink == st.st_nlink)
    move.MovedAt = after.st_ctim;
  return move;
}

}  // namespace

MemberMove TrashIfUnchanged(const FolderTrash& trash, const TrashClaim& claim, int folderFd,
                            const std::string& leaf, const ZipMember& m, IdleProof& proof,
                            unsigned char* buffer, std::size_t bufferSize,
                            const std::function<void(const ZipMember&)>& beforeMove) {
  const int fd = ::openat(folderFd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Outcome(TrashCheck::Gone);
    if (errno == ELOOP) return Outcome(TrashCheck::Changed, "replaced by a symbolic link");
    if (errno == EWOULDBLOCK) return Outcome(TrashCheck::InUse, "open for writing (its lease is held)");
    return Outcome(TrashCheck::Changed, std::string("it could not be opened: ") + std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }  // releases the lease
  } closer{fd};

  MemberMove move;
  struct stat st {};
  if (std::optional<MemberMove> stop = ProveIdleAndSame(fd, m, proof, buffer, bufferSize, move, st)) return *stop;
  // The name must still lead to the file that was checked.
  struct stat named {};
  if (::fstatat(folderFd, leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
    return Outcome(errno == ENOENT ? TrashCheck::Gone : TrashCheck::Changed, "replaced");
  if (named.st_ino != st.st_ino || named.st_dev != st.st_dev) return Outcome(TrashCheck::Changed, "replaced");

  if (beforeMove) beforeMove(m);
  const int moved = trash.MoveIn(folderFd, leaf, claim);
  if (moved == EEXIST) return Outcome(TrashCheck::NameTaken);
  if (moved == ENOENT) return Outcome(TrashCheck::Gone);
  if (moved != 0) return Outcome(TrashCheck::Refused, std::strerror(moved));

  return AfterMove(trash, claim, folderFd, leaf, m, fd, st, std::move(move));
}

}  // namespace orbelan
