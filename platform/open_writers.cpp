#include "platform/open_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orbelan {
namespace {

bool IsNumber(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

std::string ReadSmall(int at, const char* name) {
  const int fd = ::openat(at, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// Whether the descriptor's flags (fdinfo's "flags:", octal) allow writing.
bool OpenForWriting(int fdinfoFd, const char* fd) {
  const std::string info = ReadSmall(fdinfoFd, fd);
  const std::size_t at = info.find("flags:");
  if (at == std::string::npos) return true;  // unreadable: taken as a writer
  const unsigned long flags = std::strtoul(info.c_str() + at + 6, nullptr, 8);
  return (flags & O_ACCMODE) != O_RDONLY;
}

// The process's mappings that are shared and writable, for the files looked for.
void MappedForWriting(int procFd, const std::set<FileId>& files, std::set<FileId>& found) {
  const std::string maps = ReadSmall(procFd, "maps");
  std::size_t start = 0;
  while (start < maps.size()) {
    std::size_t end = maps.find('\n', start);
    if (end == std::string::npos) end = maps.size();
    const std::string line = maps.substr(start, end - start);
    start = end + 1;
    // address perms offset dev inode path
    char perms[8] = {};
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line.c_str(), "%*s %7s %*s %x:%x %llu", perms, &major, &minor, &inode) != 4) continue;
    if (perms[1] != 'w' || perms[3] != 's' || inode == 0) continue;
    const FileId id{static_cast<std::uint64_t>(makedev(major, minor)), inode};
    if (files.count(id)) found.insert(id);
  }
}

}  // namespace

std::optional<std::set<FileId>> FilesOpenForWriting(const std::set<FileId>& files) {
  std::set<FileId> found;
  if (files.empty()) return found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return std::nullopt;
  bool complete = true;
  while (dirent* p = ::readdir(proc)) {
    if (!IsNumber(p->d_name)) continue;
    const int procFd = ::openat(::dirfd(proc), p->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0) continue;  // ended meanwhile
    const int fdDir = ::openat(procFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0) {
      if (errno != ENOENT) complete = false;  // another's process this one may not see
      ::close(procFd);
      continue;
    }
    const int fdinfo = ::openat(procFd, "fdinfo", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* fds = ::fdopendir(fdDir);
    while (dirent* f = fds ? ::readdir(fds) : nullptr) {
      if (!IsNumber(f->d_name)) continue;
      struct stat st {};
      if (::fstatat(fdDir, f->d_name, &st, 0) != 0) continue;  // closed meanwhile
      const FileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
      if (files.count(id) && (fdinfo < 0 || OpenForWriting(fdinfo, f->d_name))) found.insert(id);
    }
    if (fds) ::closedir(fds);
    MappedForWriting(procFd, files, found);
    if (fdinfo >= 0) ::close(fdinfo);
    ::close(procFd);
  }
  ::closedir(proc);
  if (!complete) return std::nullopt;
  return found;
}

std::optional<std::string> SharedFileSystemKind(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return std::nullopt;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969: return "nfs";
    case 0x65735546: return "fuse";
    case 0x517b: return "smb";
    case 0xff534d42: return "cifs";
    case 0xfe534d42: return "smb2";
    case 0x01021997: return "9p";
    case 0x00c36400: return "ceph";
    case 0x5346414f: case 0x6b414653: return "afs";
    case 0x73757245: return "coda";
    case 0x01161970: return "gfs2";
    case 0x7461636f: return "ocfs2";
    case 0x0bd00bd0: return "lustre";
    case 0x19830326: return "orangefs";
    case 0x564c: return "ncp";
    default: return std::nullopt;
  }
}

}  // namespace orbelan
