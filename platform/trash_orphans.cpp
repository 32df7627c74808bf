#include "platform/trash_orphans.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/trash.h"

namespace orbelan {
namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr std::int64_t kEmptyAge = 60;

// A folder of this user's, opened without following a link; -1 otherwise.
int OpenOwnFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_uid != ::getuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the open record carries our mark as a line of its own.
bool MarkedAsOurs(int fd) {
  const std::string text = ReadRecordText(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  std::string line(1, '\n');
  line.append(kOwnRecordLine).push_back('\n');
  return text.starts_with("[Trash Info]\n") && text.find(line) != std::string::npos;
}

}  // namespace

std::int64_t RemoveOrphanRecordsAt(int infoFd, int filesFd, std::int64_t olderThan, std::time_t now) {
  if (infoFd < 0 || filesFd < 0) return 0;
  DIR* dir = ::fdopendir(::openat(infoFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::int64_t removed = 0;
  while (dirent* e = dir ? ::readdir(dir) : nullptr) {
    const std::string_view record(e->d_name);
    if (record.size() <= kInfoSuffix.size() || !record.ends_with(kInfoSuffix)) continue;
    const std::string name(record.substr(0, record.size() - kInfoSuffix.size()));
    struct stat file {};
    if (::fstatat(filesFd, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) continue;
    const int fd = ::openat(infoFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Held by a move under way (its file may be about to arrive), or not a record of
    // this user's: not ours to judge. The lock is kept while the record goes, so the
    // move that would claim it cannot start writing meanwhile.
    // An empty one is what a kill between a record's creation and its first write leaves,
    // ours or another program's: taken once a minute old, when no writer can still be at it.
    const bool orphan = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                        st.st_uid == ::getuid() && st.st_mtim.tv_sec <= now - olderThan &&
                        (st.st_size == 0 ? st.st_mtim.tv_sec <= now - kEmptyAge : MarkedAsOurs(fd)) &&
                        ::fstatat(filesFd, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    if (orphan && ::unlinkat(infoFd, e->d_name, 0) == 0) ++removed;
    ::close(fd);
  }
  if (dir) ::closedir(dir);
  return removed;
}

std::int64_t RemoveOrphanRecords(const std::string& trash, std::int64_t olderThan, std::time_t now) {
  if (trash.empty()) return 0;
  const int infoFd = OpenOwnFolder(trash + "/info");
  const int filesFd = infoFd < 0 ? -1 : OpenOwnFolder(trash + "/files");
  const std::int64_t removed = RemoveOrphanRecordsAt(infoFd, filesFd, olderThan, now);
  if (filesFd >= 0) ::close(filesFd);
  if (infoFd >= 0) ::close(infoFd);
  return removed;
}

}  // namespace orbelan
