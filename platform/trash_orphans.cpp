#include "platform/trash_orphans.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/trash.h"

namespace orbelan {
namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

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

// Whether the record at name in the folder open at infoFd carries our mark as a line of its own.
bool MarkedAsOurs(int infoFd, const char* name) {
  const int fd = ::openat(infoFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const std::string text = ReadRecordText(fd);
  std::string line(1, '\n');
  line.append(kOwnRecordLine).push_back('\n');
  return text.starts_with("[Trash Info]\n") && text.find(line) != std::string::npos;
}

}  // namespace

std::int64_t RemoveOrphanRecords(const std::string& trash, std::int64_t olderThan, std::time_t now) {
  if (trash.empty()) return 0;
  const int infoFd = OpenOwnFolder(trash + "/info");
  if (infoFd < 0) return 0;
  const int filesFd = OpenOwnFolder(trash + "/files");
  DIR* dir = filesFd < 0 ? nullptr : ::fdopendir(::fcntl(infoFd, F_DUPFD_CLOEXEC, 0));
  std::int64_t removed = 0;
  while (dirent* e = dir ? ::readdir(dir) : nullptr) {
    const std::string_view record(e->d_name);
    if (record.size() <= kInfoSuffix.size() || !record.ends_with(kInfoSuffix)) continue;
    const std::string name(record.substr(0, record.size() - kInfoSuffix.size()));
    struct stat st {}, file {};
    if (::fstatat(infoFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::getuid() || st.st_mtim.tv_sec > now - olderThan)
      continue;  // not a record of this user's, or one a move may still be finishing
    if (::fstatat(filesFd, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) continue;
    if (!MarkedAsOurs(infoFd, e->d_name)) continue;
    if (::unlinkat(infoFd, e->d_name, 0) == 0) ++removed;
  }
  if (dir) ::closedir(dir);
  if (filesFd >= 0) ::close(filesFd);
  ::close(infoFd);
  return removed;
}

}  // namespace orbelan
