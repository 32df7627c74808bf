#include "platform/trash_at.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/trash_orphans.h"

namespace orbelan {
namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr int kNameTries = 10000;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Cause(int error) { return std::strerror(error); }

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// A file system's identity for renames: the mount, where the kernel tells it, and the
// device. A bind mount of the same device still refuses renames across it.
struct Place {
  dev_t Device = 0;
  std::uint64_t Mount = 0;
  bool operator==(const Place& other) const { return Device == other.Device && Mount == other.Mount; }
};

bool PlaceAt(int fd, const char* path, int flags, Place& place) {
  struct statx sx {};
  if (::statx(fd, path, flags, STATX_INO | STATX_MNT_ID, &sx) != 0) return false;
  place.Device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  place.Mount = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
  return true;
}

bool PlaceOfFd(int fd, Place& place) { return PlaceAt(fd, "", AT_EMPTY_PATH, place); }

// The place of path (the user's own setting: links followed), or of its nearest existing
// ancestor.
bool PlaceOfNearest(std::string path, Place& place) {
  while (!path.empty()) {
    if (PlaceAt(AT_FDCWD, path.c_str(), 0, place)) return true;
    if (path == "/") return false;
    const std::size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    path = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
  }
  return false;
}

// name in the folder open at at, made when missing: a real folder (not a link) of this
// user's, open; -1 with the cause in error otherwise.
int OwnFolderAt(int at, const char* name, const std::string& shown, std::string* error) {
  if (::mkdirat(at, name, 0700) != 0 && errno != EEXIST) {
    Fail(error, "the trash folder " + shown + " could not be made (" + Cause(errno) + ")");
    return -1;
  }
  const int fd = ::openat(at, name, kDirFlags);
  if (fd < 0) {
    Fail(error, errno == ELOOP || errno == ENOTDIR
                    ? "the trash folder " + shown + " is not a folder"
                    : "the trash folder " + shown + " could not be opened (" + Cause(errno) + ")");
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_uid != ::getuid()) {
    ::close(fd);
    Fail(error, "the trash folder " + shown + " is not a folder of this user's");
    return -1;
  }
  return fd;
}

// The folders above path made when missing (the home trash's parents, links followed as
// the user set them up).
void MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0700);
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The last count components of path ("" for none), without a trailing "/".
std::string LastComponents(const std::string& path, int count) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::size_t at = p.size();
  for (int i = 0; i < count; ++i) {
    const std::size_t slash = p.rfind('/', at == 0 ? 0 : at - 1);
    if (slash == std::string::npos) return p;
    at = slash;
  }
  return count == 0 ? std::string() : p.substr(at + 1);
}

}  // namespace

std::string RealFolderPath(int fd) {
  char buffer[8192];
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(self.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer || buffer[0] != '/') return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  if (path.ends_with(" (deleted)")) return {};
  if (!path.ends_with('/')) path += '/';
  return path;
}

FolderTrash::~FolderTrash() {
  for (const int fd : {trashFd_, filesFd_, infoFd_})
    if (fd >= 0) ::close(fd);
}

bool FolderTrash::Prepare(int folderFd, const std::string& homeTrash, std::string* error) {
  folder_ = RealFolderPath(folderFd);
  if (folder_.empty()) return Fail(error, "the folder's own path could not be read (" + Cause(errno ? errno : ENOENT) + ")");
  Place place;
  if (!PlaceOfFd(folderFd, place)) return Fail(error, "the folder " + folder_ + " could not be read (" + Cause(errno) + ")");

  Place home;
  if (!homeTrash.empty() && homeTrash.front() == '/' && PlaceOfNearest(homeTrash, home) && home == place) {
    std::string trash = homeTrash;
    while (trash.size() > 1 && trash.back() == '/') trash.pop_back();
    MakeParents(trash);
    trashFd_ = OwnFolderAt(AT_FDCWD, trash.c_str(), trash, error);
    if (trashFd_ < 0) return false;
    path_ = trash;
    recordedFolder_ = folder_;
  } else {
    // $topdir: up from the folder itself (never from a path given for it) while ".." stays
    // on its mount; the kernel's ".." at a mount's root leads to the mount above.
    int top = ::openat(folderFd, ".", kDirFlags);
    int depth = 0;
    for (; top >= 0 && depth < 4096; ++depth) {
      const int up = ::openat(top, "..", kDirFlags);
      struct stat a {}, b {};
      Place above;
      if (up < 0 || !PlaceOfFd(up, above) || !(above == place) || ::fstat(up, &a) != 0 || ::fstat(top, &b) != 0 ||
          (a.st_ino == b.st_ino && a.st_dev == b.st_dev)) {
        if (up >= 0) ::close(up);
        break;
      }
      ::close(top);
      top = up;
    }
    if (top < 0) return Fail(error, "the top of " + folder_ + "'s file system could not be opened (" + Cause(errno) + ")");
    std::string topPath = RealFolderPath(top);
    if (topPath.empty()) topPath = "/";
    const std::string base = topPath == "/" ? std::string() : topPath.substr(0, topPath.size() - 1);
    const std::string uid = std::to_string(::getuid());
    // An administrator's $topdir/.Trash (sticky, not a link) holds a folder per user.
    const int shared = ::openat(top, ".Trash", kDirFlags);
    struct stat st {};
    if (shared >= 0 && ::fstat(shared, &st) == 0 && (st.st_mode & S_ISVTX)) {
      trashFd_ = OwnFolderAt(shared, uid.c_str(), base + "/.Trash/" + uid, nullptr);
      if (trashFd_ >= 0) path_ = base + "/.Trash/" + uid;
    }
    if (shared >= 0) ::close(shared);
    if (trashFd_ < 0) {
      path_ = base + "/.Trash-" + uid;
      trashFd_ = OwnFolderAt(top, (".Trash-" + uid).c_str(), path_, error);
    }
    ::close(top);
    if (trashFd_ < 0) return false;
    // Relative to the top folder, so the records still hold when the disk is mounted elsewhere.
    recordedFolder_ = LastComponents(folder_, depth);
    if (!recordedFolder_.empty()) recordedFolder_ += '/';
  }
  filesFd_ = OwnFolderAt(trashFd_, "files", path_ + "/files", error);
  if (filesFd_ < 0) return false;
  infoFd_ = OwnFolderAt(trashFd_, "info", path_ + "/info", error);
  if (infoFd_ < 0) return false;
  Place trashPlace;
  if (!PlaceOfFd(filesFd_, trashPlace) || !(trashPlace == place))
    return Fail(error, "the trash " + path_ + " is on another file system than " + folder_ +
                           " (its files would have to be copied)");
  // Proved writable before anything is written: a file without a name where the file
  // system makes one, else the permission the kernel grants.
  const int probe = ::openat(infoFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) {
    ::close(probe);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return Fail(error, "the trash folder " + path_ + "/info cannot be written to (" + Cause(errno) + ")");
  }
  for (const auto& [fd, name] : {std::pair{infoFd_, "/info"}, std::pair{filesFd_, "/files"}})
    if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0)
      return Fail(error, "the trash folder " + path_ + name + " cannot be written to (" + Cause(errno) + ")");
  orphans_ = RemoveOrphanRecordsAt(infoFd_, filesFd_);
  return true;
}

bool FolderTrash::Claim(const std::string& relative, TrashClaim& claim, std::string* error) {
  const std::size_t slash = relative.rfind('/');
  const std::string base = slash == std::string::npos ? relative : relative.substr(slash + 1);
  const std::string record = TrashRecordText(recordedFolder_ + relative);
  auto failed = [&](const char* what, int cause) {
    return Fail(error, std::string("the trash record could not be ") + what + " in " + path_ + "/info (" +
                           Cause(cause) + ")");
  };
  for (int number = 1; number <= kNameTries; ++number) {
    std::string name = TrashNameFor(base, number);
    struct stat st {};
    if (::fstatat(filesFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;  // taken, without a record
    const std::string info = name + std::string(kInfoSuffix);
    // Created exclusively, which claims the name, and written at once; locked before a byte
    // is written, so a clean-up that sees it unlocked sees it empty, and leaves an empty
    // record alone until it is a minute old. (A record written whole before it gets a name,
    // by O_TMPFILE, costs ten times as much on ext4.)
    const int fd = ::openat(infoFd_, info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return failed("made", errno);
    }
    ::flock(fd, LOCK_EX);
    if (!WriteAll(fd, record)) {
      const int cause = errno;
      ::unlinkat(infoFd_, info.c_str(), 0);
      ::close(fd);
      return failed("written", cause);
    }
    claim = TrashClaim{std::move(name), folder_ + relative, fd};
    return true;
  }
  return Fail(error, "no free name was found in " + path_ + "/files");
}

bool FolderTrash::MakeDurable(const std::vector<TrashClaim>& claims, std::string* error) {
  if (claims.empty() || ::syncfs(infoFd_) == 0) return true;
  // syncfs also reports write-back failures of other files on the disk: each record then.
  for (const TrashClaim& claim : claims)
    if (claim.RecordFd >= 0 && ::fsync(claim.RecordFd) != 0)
      return Fail(error, "the trash record could not be written in " + path_ + "/info (" + Cause(errno) + ")");
  if (::fsync(infoFd_) != 0)
    return Fail(error, "the trash records could not be written in " + path_ + "/info (" + Cause(errno) + ")");
  return true;
}

int FolderTrash::MoveIn(int fromFd, const std::string& leaf, const TrashClaim& claim) const {
  if (::renameat2(fromFd, leaf.c_str(), filesFd_, claim.Name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a second name and the first taken away do the same
  // without ever replacing (files only; this trash moves only files).
  if (::linkat(fromFd, leaf.c_str(), filesFd_, claim.Name.c_str(), 0) != 0) return errno;
  if (::unlinkat(fromFd, leaf.c_str(), 0) != 0) {
    const int cause = errno;
    ::unlinkat(filesFd_, claim.Name.c_str(), 0);
    return cause;
  }
  return 0;
}

int FolderTrash::MoveBack(const TrashClaim& claim, int toFd, const std::string& leaf) const {
  if (::renameat2(filesFd_, claim.Name.c_str(), toFd, leaf.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(filesFd_, claim.Name.c_str(), toFd, leaf.c_str(), 0) != 0) return errno;
  ::unlinkat(filesFd_, claim.Name.c_str(), 0);
  return 0;
}

bool FolderTrash::Holds(const TrashClaim& claim, std::uint64_t device, std::uint64_t inode) const {
  struct stat st {};
  return ::fstatat(filesFd_, claim.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         static_cast<std::uint64_t>(st.st_dev) == device && static_cast<std::uint64_t>(st.st_ino) == inode;
}

bool FolderTrash::Stat(const TrashClaim& claim, struct stat& st) const {
  return ::fstatat(filesFd_, claim.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

TrashEntry FolderTrash::Keep(TrashClaim& claim) const {
  if (claim.RecordFd >= 0) ::close(claim.RecordFd);
  claim.RecordFd = -1;
  return TrashEntry{path_, claim.Name, claim.Original};
}

void FolderTrash::Drop(TrashClaim& claim) const {
  if (claim.RecordFd < 0) return;
  ::unlinkat(infoFd_, (claim.Name + std::string(kInfoSuffix)).c_str(), 0);
  ::close(claim.RecordFd);
  claim.RecordFd = -1;
}

void FolderTrash::SyncMoves(int folderFd) const {
  if (::syncfs(filesFd_) == 0) return;
  ::fsync(filesFd_);
  ::fsync(folderFd);
}

}  // namespace orbelan
