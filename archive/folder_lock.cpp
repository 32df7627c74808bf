#include "archive/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace orbelan {

std::optional<FolderLock> FolderLock::Take(int folderFd, std::string* why) {
  // A descriptor of its own: flock belongs to an open file description, so two takers in
  // one process conflict as two processes do, and the caller's descriptor keeps no lock.
  const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = std::string("could not be locked (") + std::strerror(errno) + ")";
    return std::nullopt;
  }
  int result;
  do result = ::flock(fd, LOCK_EX | LOCK_NB);
  while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    if (why) *why = error == EWOULDBLOCK ? std::string(kFolderBusy)
                                         : std::string("could not be locked (") + std::strerror(error) + ")";
    return std::nullopt;
  }
  return FolderLock(fd);
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor of it releases the lock
}

}  // namespace orbelan
