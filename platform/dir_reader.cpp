#include "platform/dir_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace orbelan {
namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens path one component at a time, for paths the kernel refuses as too long.
// A leading "/" starts at the root; otherwise at base.
int OpenByComponents(int base, std::string_view path, bool followLinks) {
  const int flags = kDirFlags | (followLinks ? 0 : O_NOFOLLOW);
  int current = base;
  bool owned = false;
  if (!path.empty() && path.front() == '/') {
    current = open("/", kDirFlags);
    if (current < 0) return -1;
    owned = true;
  }
  std::string component;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      component.assign(path.substr(start, end - start));
      const int next = openat(current, component.c_str(), flags);
      const int savedErrno = errno;
      if (owned) close(current);
      if (next < 0) {
        errno = savedErrno;
        return -1;
      }
      current = next;
      owned = true;
    }
    start = end + 1;
  }
  if (!owned) return openat(base, ".", kDirFlags);  // nothing but slashes below base
  return current;
}

// openat2 refusing every link on the way; -1 with errno ENOSYS where the kernel (or a
// sandbox) lacks it.
int OpenWithoutLinks(int base, const char* relative) {
  static std::atomic<bool> unavailable{false};  // learnt once, by whichever thread asks
  if (!unavailable.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = kDirFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, base, relative, &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
    unavailable.store(true, std::memory_order_relaxed);
  }
  // Older kernels: the last component is never followed; the ones before it are only
  // links if the tree changed since it was walked.
  return openat(base, relative, kDirFlags | O_NOFOLLOW);
}

}  // namespace

DirReader::DirReader(std::size_t bufferSize) : bufferSize_(std::max<std::size_t>(bufferSize, 4096)) {}

DirReader::~DirReader() { Close(); }

bool DirReader::Adopt(int fd) {
  const int openErrno = errno;  // callers read why an open failed
  Close();
  errno = openErrno;
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

void DirReader::ReadFrom(int fd) {
  Close();
  fd_ = fd;
  owned_ = false;
}

void DirReader::Take(int fd) {
  Close();
  fd_ = fd;
}

void DirReader::Close() {
  if (fd_ >= 0 && owned_) close(fd_);
  fd_ = -1;
  owned_ = true;
  filled_ = pos_ = 0;
  ended_ = false;
  failed_ = false;
  parked_.reset();
  parkedSize_ = 0;
}

int DirReader::Release() {
  const int fd = owned_ ? fd_ : -1;
  owned_ = false;  // Close forgets it
  Close();
  return fd;
}

void DirReader::Park() {
  if (parked_ || !buffer_) return;
  parkedSize_ = filled_ - pos_;
  if (parkedSize_ > 0) {
    parked_.reset(new char[parkedSize_]);
    std::memcpy(parked_.get(), buffer_.get() + pos_, parkedSize_);
  }
  buffer_.reset();
  filled_ = pos_ = 0;
}

void DirReader::ReleaseBuffer() {
  buffer_.reset();
  parked_.reset();
  parkedSize_ = 0;
  filled_ = pos_ = 0;
}

bool DirReader::OpenPath(std::string_view path) {
  scratch_.assign(path);
  int fd = open(scratch_.c_str(), kDirFlags);
  if (fd < 0 && errno == ENAMETOOLONG) fd = OpenByComponents(AT_FDCWD, path, true);
  return Adopt(fd);
}

bool DirReader::OpenChild(int parentFd, const char* name) {
  return Adopt(openat(parentFd, name, kDirFlags | O_NOFOLLOW));
}

bool DirReader::OpenBelow(int baseFd, std::string_view relative) {
  return Adopt(OpenFolderBelow(baseFd, relative));
}

int OpenFolderBelow(int baseFd, std::string_view relative) {
  if (relative.empty()) return openat(baseFd, ".", kDirFlags);
  const std::string path(relative);
  int fd = OpenWithoutLinks(baseFd, path.c_str());
  if (fd < 0 && errno == ENAMETOOLONG) fd = OpenByComponents(baseFd, relative, false);
  return fd;
}

bool DirReader::Next(DirEntry& entry) {
  if (!buffer_) {
    buffer_.reset(new char[bufferSize_]);
    if (parkedSize_ > 0) {  // entries are 8-byte aligned records; so is a new buffer
      std::memcpy(buffer_.get(), parked_.get(), parkedSize_);
      filled_ = parkedSize_;
      pos_ = 0;
    }
    parked_.reset();
    parkedSize_ = 0;
  }
  for (;;) {
    if (pos_ < filled_) {
      const auto* d = reinterpret_cast<const dirent64*>(buffer_.get() + pos_);
      pos_ += d->d_reclen;
      entry.Name = d->d_name;
      entry.NameLength = std::strlen(d->d_name);
      entry.Type = d->d_type;
      return true;
    }
    if (ended_ || fd_ < 0) return false;
    const ssize_t n = getdents64(fd_, buffer_.get(), bufferSize_);
    if (n <= 0) {
      ended_ = true;
      failed_ = n < 0;
      return false;
    }
    filled_ = static_cast<std::size_t>(n);
    pos_ = 0;
  }
}

namespace {
EntryKind KindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISLNK(mode)) return EntryKind::Symlink;
  return EntryKind::Other;
}
}  // namespace

EntryKind DirReader::KindOf(const DirEntry& entry) const {
  switch (entry.Type) {
    case DT_DIR: return EntryKind::Directory;
    case DT_REG: return EntryKind::File;
    case DT_LNK: return EntryKind::Symlink;
    case DT_UNKNOWN: {
      struct stat st;
      if (fstatat(fd_, entry.Name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Gone;
      return KindOfMode(st.st_mode);
    }
    default: return EntryKind::Other;
  }
}

bool DirReader::Stat(const char* name, EntryStat& out) const {
  struct stat st;
  if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    out.Kind = EntryKind::Gone;
    return false;
  }
  out.Kind = KindOfMode(st.st_mode);
  out.Size = static_cast<std::int64_t>(st.st_size);
  out.Modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  out.Allocated = static_cast<std::int64_t>(st.st_blocks) * 512;
  out.Inode = static_cast<std::uint64_t>(st.st_ino);
  out.Links = static_cast<std::uint64_t>(st.st_nlink);
  out.BlockSize = static_cast<std::int64_t>(st.st_blksize);
  out.Device = static_cast<std::uint64_t>(st.st_dev);
  return true;
}

void RaiseOpenFileLimit() {
  // Enough for a tree tens of thousands of levels deep, without handing children of the
  // program a limit that select()-based code cannot live with.
  constexpr rlim_t kWanted = 65536;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t target = std::min(limit.rlim_max, kWanted);
  if (limit.rlim_cur >= target) return;
  limit.rlim_cur = target;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace orbelan
