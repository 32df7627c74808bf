#include "platform/open_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace orbelan {
namespace {

// Set once openat2 proved missing (ENOSYS), or forbidden by a sandbox's filter (EPERM for
// every call), so that later opens go straight to the walk.
std::atomic<bool> g_noOpenat2{false};

bool Components(const std::string& relative, std::vector<std::string>& parts) {
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos) return false;
    parts.push_back(std::move(part));
    start = end + 1;
  }
  return !parts.empty();
}

int Refused(int error) {
  errno = error;
  return -1;
}

// O_PATH with O_NOFOLLOW opens a link itself: that is a link at the end all the same.
int NoLinkAtTheEnd(int fd, int flags) {
  if (fd < 0 || !(flags & O_PATH)) return fd;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISLNK(st.st_mode)) return fd;
  ::close(fd);
  return Refused(ELOOP);
}

}  // namespace

int OpenBeneathByWalk(int rootFd, const std::string& relative, int flags) {
  std::vector<std::string> parts;
  if (!Components(relative, parts)) return Refused(EINVAL);
  int at = rootFd;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    // O_PATH: passing through a folder needs only its search permission, as it does for
    // any path; O_NOFOLLOW with O_DIRECTORY refuses a link (ENOTDIR) as the next step.
    const int next = ::openat(at, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    if (at != rootFd) ::close(at);
    if (next < 0) return Refused(error);
    at = next;
  }
  const int fd = NoLinkAtTheEnd(::openat(at, parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC), flags);
  const int error = errno;
  if (at != rootFd) ::close(at);
  return fd >= 0 ? fd : Refused(error);
}

int OpenBeneath(int rootFd, const std::string& relative, int flags) {
  std::vector<std::string> parts;
  if (!Components(relative, parts)) return Refused(EINVAL);
  if (!g_noOpenat2.load(std::memory_order_relaxed)) {
    open_how how {};
    how.flags = static_cast<unsigned long long>(flags | O_NOFOLLOW | O_CLOEXEC);
    how.mode = 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0) return NoLinkAtTheEnd(static_cast<int>(fd), flags);
    if (errno != ENOSYS && errno != EPERM) return -1;
    if (errno == ENOSYS) g_noOpenat2.store(true, std::memory_order_relaxed);
  }
  return OpenBeneathByWalk(rootFd, relative, flags);
}

}  // namespace orbelan
