#include "platform/file_update.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orbelan {

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// errno for something at the path that is not a file we may replace.
int NotAFileError(mode_t mode) { return S_ISDIR(mode) ? EISDIR : EINVAL; }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// The regular file at target with its status, or exists = false when nothing is there.
// Anything else at target, or a file we cannot read (which we must then not replace with
// what we did not see), is an error.
bool ReadRegularFile(const std::string& target, std::string& text, struct stat& st,
                     bool& exists) {
  text.clear();
  exists = false;
  if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) {
    errno = NotAFileError(st.st_mode);
    return false;
  }
  // O_NONBLOCK and O_NOFOLLOW: should a FIFO or a link be swapped in after the lstat,
  // opening must neither hang nor follow it.
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return false;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = NotAFileError(st.st_mode);
    ok = false;
  }
  if (ok) text.reserve(static_cast<std::size_t>(st.st_size));
  std::vector<char> buffer(1 << 16);
  while (ok) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got > 0) {
      text.append(buffer.data(), static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
    }
  }
  const int savedErrno = errno;
  ::close(fd);
  errno = savedErrno;
  exists = ok;
  return ok;
}

// Holds an exclusive flock on a lock file beside the file being updated. The holder
// removes the lock file before letting go; a waiter that then gets the lock on the removed
// file sees that the name now leads elsewhere and tries again, so two holders never
// overlap and no lock file stays behind.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
  }

  // False (EWOULDBLOCK) when another holder keeps the lock past wait. A folder where the
  // lock file cannot be made (read-only, not ours) yields no lock but true: nothing can be
  // replaced there either, and a save that changes nothing must still succeed.
  bool Acquire(const std::string& path, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    for (;;) {
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0600);
      if (fd < 0 && (errno == EACCES || errno == EPERM)) fd = ::open(path.c_str(), O_RDONLY | flags);
      if (fd < 0) return errno == EACCES || errno == EPERM || errno == EROFS;
      struct stat held {};
      if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return false;
      }
      for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
          // A file system without flock: the update is still atomic, only not serialised.
          ::close(fd);
          return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
          ::close(fd);
          errno = EWOULDBLOCK;
          return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      struct stat named {};
      if (::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
          named.st_ino == held.st_ino) {
        fd_ = fd;
        path_ = path;
        return true;
      }
      ::close(fd);  // the previous holder removed this one: lock the new one
    }
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// Keeps what the old file had: its owner and group where we may set them (root may; a
// user may keep a group they belong to), then its mode (after the owner, which clears
// set-id bits).
void KeepOwnerAndMode(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    // Not ours to give away: the new file is the saving user's, as any rewrite would be.
  }
  if (::fchmod(fd, old.st_mode & 07777) != 0) {
    // The new file keeps the mode it was made with; no reason to lose the write.
  }
}

bool WriteReplacement(const std::string& target, const struct stat* old, std::string_view contents) {
  const std::string folder = FolderOf(target);
  const std::string base = target.substr(folder.size());
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
    // A new file gets 0666 less the umask, as any new file; the replacement of an existing
    // one stays private until it has the old file's mode.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                old ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, contents);
  if (ok && old) KeepOwnerAndMode(fd, *old);
  ok = ok && ::fsync(fd) == 0;
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = savedErrno;
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace

bool ResolveWriteTarget(const std::string& path, std::string& target) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      target = current;  // nothing there yet: the write creates it (if its folder exists)
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      target = current;
      return true;
    }
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t got = ::readlink(current.c_str(), buffer.data(), buffer.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size()) {
      if (got >= 0) errno = ENOENT;  // emptied or changed while we looked
      return false;
    }
    std::string link(buffer.data(), static_cast<std::size_t>(got));
    current = link.front() == '/' ? link : FolderOf(current) + link;
  }
  errno = ELOOP;
  return false;
}

bool UpdateFile(const std::string& path, const FileChange& change,
                std::chrono::milliseconds lockWait) {
  std::string target;
  if (!ResolveWriteTarget(path, target)) return false;
  // Refuse what is no file before anything, the lock file included, is made beside it.
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = NotAFileError(st.st_mode);
    return false;
  }
  FileLock lock;
  if (!lock.Acquire(FolderOf(target) + "." + target.substr(FolderOf(target).size()) + ".lock",
                    lockWait)) {
    return false;
  }
  // Under the lock: the file as the last update left it.
  std::string current;
  bool exists = false;
  if (!ReadRegularFile(target, current, st, exists)) return false;
  std::optional<std::string> next = change(current);
  if (!next) return true;
  // A file its owner made read-only refuses the write, though its folder would let a
  // rename replace it.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  return WriteReplacement(target, exists ? &st : nullptr, *next);
}

}  // namespace orbelan
