#include "platform/trash.h"

#include "platform/trash_orphans.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <string_view>

namespace orbelan {

namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";
// Numbers tried for a free name in the trash; each try is one exclusive create.
constexpr int kNameTries = 10000;

std::function<void(const std::string& record)> g_afterRecord;

std::string Cause(int error) { return std::strerror(error); }

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string Parent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A file system's identity for renames: the mount, where the kernel tells it, else the
// device. A bind mount of the same device still refuses renames across it.
struct Place {
  dev_t Device = 0;
  std::uint64_t Mount = 0;
  bool operator==(const Place& other) const { return Device == other.Device && Mount == other.Mount; }
};

bool PlaceOf(const std::string& path, Place& place, bool follow = true) {
  struct statx sx {};
  const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::statx(AT_FDCWD, path.c_str(), flags, STATX_INO | STATX_MNT_ID, &sx) != 0) return false;
  place.Device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  place.Mount = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
  return true;
}

// The place of path, or of its nearest existing ancestor.
bool PlaceOfNearest(std::string path, Place& place) {
  for (int depth = 0; depth < 4096; ++depth) {
    if (PlaceOf(path, place)) return true;
    if (path == "/" || path == ".") return false;
    path = Parent(path);
  }
  return false;
}

// The highest folder above (and including) dir on the same mount: the trash's $topdir.
std::string TopDir(const std::string& dir, const Place& place) {
  std::string top = dir;
  while (top != "/") {
    const std::string up = Parent(top);
    Place above;
    if (!PlaceOf(up, above) || !(above == place)) break;
    top = up;
  }
  return top;
}

// A folder of our own, made when missing: a real folder (not a link) that we own.
bool OwnFolder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return Fail(error, "the trash folder " + path + " could not be made (" + Cause(errno) + ")");
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return Fail(error, "the trash folder " + path + " could not be read (" + Cause(errno) + ")");
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
    return Fail(error, "the trash folder " + path + " is not a folder of this user's");
  return true;
}

bool OwnFolders(const std::string& path, std::string* error) {
  struct stat info {};
  if (path.empty() || path == "/" || ::lstat(path.c_str(), &info) == 0) {
    if (path.empty() || path == "/" || S_ISDIR(info.st_mode)) return true;
    return Fail(error, "the trash folder " + path + " is not a folder");
  }
  return OwnFolders(Parent(path), error) && OwnFolder(path, error);
}

// The trash of the file system whose top folder is topdir: $topdir/.Trash/$uid when the
// administrator made .Trash (a sticky folder, not a link), else $topdir/.Trash-$uid.
bool TopDirTrash(const std::string& topdir, std::string& trash, std::string* error) {
  const std::string base = topdir == "/" ? std::string() : topdir;
  const std::string uid = std::to_string(::getuid());
  struct stat info {};
  const std::string shared = base + "/.Trash";
  if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
    trash = shared + "/" + uid;
    if (OwnFolder(trash, nullptr)) return true;
  }
  trash = base + "/.Trash-" + uid;
  return OwnFolder(trash, error);
}

// Where a relative Path of a record in this trash is taken from: the top folder of the
// trash's file system ($topdir for $topdir/.Trash/$uid and $topdir/.Trash-$uid).
std::string TopOfTrash(const std::string& trash) {
  const std::string parent = Parent(trash);
  if (BaseName(trash).starts_with(".Trash-")) return parent;
  if (BaseName(parent) == ".Trash") return Parent(parent);
  return parent;
}

std::string DeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ValidUtf8Lead(const std::string& text, std::size_t cut) {
  return cut >= text.size() || (static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80;
}

}  // namespace

std::string TrashNameFor(const std::string& base, int number) {
  std::string suffix;
  if (number > 1) suffix.append(1, ' ').append(std::to_string(number));
  const std::size_t room = kNameMax - kInfoSuffix.size() - suffix.size();
  std::size_t cut = std::min(base.size(), room);
  while (cut > 0 && !ValidUtf8Lead(base, cut)) --cut;
  if (cut == 0) cut = std::min(base.size(), room);  // not UTF-8 after all: cut the bytes
  std::string name(base, 0, cut);
  name.append(suffix);
  return name;
}

std::string TrashRecordText(const std::string& recorded) {
  // Marked as ours, so that a record a killed move leaves behind can be told from another
  // program's (RemoveOrphanRecords).
  return "[Trash Info]\nPath=" + PercentEncoded(recorded) + "\nDeletionDate=" + DeletionDate() + "\n" +
         kOwnRecordLine + "\n";
}

namespace {

// Renames without replacing; on file systems without the flag, a link and an unlink do
// the same, and where neither works the rename is refused rather than risk replacing.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat there {};
  if (::lstat(to.c_str(), &there) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void SyncFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string ReadRecordText(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > 64 * 1024) break;  // no record is this long
  }
  ::close(fd);
  return text;
}

std::string PercentEncoded(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                       b == '-' || b == '_' || b == '.' || b == '~' || b == '/';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::optional<std::string> PercentDecoded(const std::string& text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hex(text[i + 1]);
    const int low = hex(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

void SetAfterTrashRecordForTests(std::function<void(const std::string& record)> hook) {
  g_afterRecord = std::move(hook);
}

std::string HomeTrashFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/Trash";
  return {};
}

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::vector<std::string> TrashFoldersFor(const std::string& path, const std::string& homeTrash) {
  std::vector<std::string> found;
  Place place, home;
  if (!PlaceOfNearest(path, place)) return found;
  auto add = [&found](const std::string& trash) {
    struct stat info {};
    if (::lstat(trash.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) found.push_back(trash);
  };
  if (!homeTrash.empty() && PlaceOfNearest(homeTrash, home) && home == place) add(homeTrash);
  const std::string topdir = TopDir(path, place);
  const std::string base = topdir == "/" ? std::string() : topdir;
  const std::string uid = std::to_string(::getuid());
  add(base + "/.Trash/" + uid);
  add(base + "/.Trash-" + uid);
  return found;
}

bool MoveToTrash(const std::string& givenPath, const std::string& homeTrash, TrashEntry* entry,
                 std::string* error) {
  std::string path = givenPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty() || path.front() != '/' || path == "/")
    return Fail(error, "the path " + givenPath + " is not a file's absolute path");
  const std::string shown = path;
  Place file;
  if (!PlaceOf(path, file, /*follow=*/false))
    return Fail(error, "the file " + shown + " could not be read (" + Cause(errno) + ")");

  // The trash on the file's own file system, so the move is a rename.
  std::string trash;
  std::string recorded = path;  // the Path= of the record
  Place home;
  if (!homeTrash.empty() && PlaceOfNearest(homeTrash, home) && home == file) {
    if (!OwnFolders(homeTrash, error)) return false;
    trash = homeTrash;
  } else {
    const std::string topdir = TopDir(Parent(path), file);
    if (!TopDirTrash(topdir, trash, error)) return false;
    // Relative to the top folder, so the record still holds when the disk is mounted elsewhere.
    recorded = topdir == "/" ? path.substr(1) : path.substr(topdir.size() + 1);
  }
  const std::string filesDir = trash + "/files";
  const std::string infoDir = trash + "/info";
  if (!OwnFolder(filesDir, error) || !OwnFolder(infoDir, error)) return false;
  Place trashPlace;
  if (!PlaceOf(filesDir, trashPlace) || !(trashPlace == file))
    return Fail(error, "the trash " + trash + " is on another file system than " + shown +
                           " (it would have to be copied)");

  const std::string record = TrashRecordText(recorded);
  const std::string base = BaseName(path);
  for (int number = 1; number <= kNameTries; ++number) {
    const std::string name = TrashNameFor(base, number);
    const std::string infoPath = infoDir + "/" + name + std::string(kInfoSuffix);
    const std::string filesPath = filesDir + "/" + name;
    // The record is created exclusively, which claims the name, and reaches the disk
    // before the file moves: a file in files/ always has a readable record. It stays locked
    // until the move is over, so that no clean-up takes it for one a killed move left.
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail(error, "the trash record could not be made in " + infoDir + " (" + Cause(errno) + ")");
    }
    ::flock(fd, LOCK_EX);
    if (!WriteAll(fd, record) || ::fsync(fd) != 0) {
      const int cause = errno;
      ::unlink(infoPath.c_str());
      ::close(fd);
      return Fail(error, "the trash record could not be written in " + infoDir + " (" + Cause(cause) + ")");
    }
    SyncFolder(infoDir);
    if (g_afterRecord) g_afterRecord(infoPath);
    if (RenameNoReplace(path, filesPath)) {
      ::close(fd);
      SyncFolder(filesDir);
      if (entry) *entry = TrashEntry{trash, name, path};
      return true;
    }
    const int cause = errno;
    ::unlink(infoPath.c_str());
    ::close(fd);
    if (cause == EEXIST) continue;  // files/ holds the name without a record: take another
    return Fail(error, "the file " + shown + " could not be moved into " + filesDir + " (" + Cause(cause) + ")");
  }
  return Fail(error, "no free name was found in " + filesDir);
}

std::optional<std::string> ReadTrashRecord(const std::string& trash, const std::string& name,
                                           std::string* error) {
  const std::string infoPath = trash + "/info/" + name + std::string(kInfoSuffix);
  const int fd = ::open(infoPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, "the trash record " + infoPath + " could not be read (" + Cause(errno) + ")");
    return std::nullopt;
  }
  const std::string text = ReadRecordText(fd);
  // The first line is the group header; Path is a key of that group.
  bool inGroup = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[Trash Info]";
      continue;
    }
    if (!inGroup || !line.starts_with("Path=")) continue;
    const std::optional<std::string> path = PercentDecoded(line.substr(5));
    if (!path || path->empty() || path->find('\0') != std::string::npos) break;
    if (path->front() == '/') return path;
    const std::string top = TopOfTrash(trash);
    return (top == "/" ? std::string() : top) + "/" + *path;
  }
  Fail(error, "the trash record " + infoPath + " names no path");
  return std::nullopt;
}

bool RestoreFromTrash(const TrashEntry& entry, std::string* error) {
  if (entry.Name.empty() || entry.Name.find('/') != std::string::npos || entry.Name == "." ||
      entry.Name == "..")
    return Fail(error, "the trash entry \"" + entry.Name + "\" is not a name in the trash");
  const std::optional<std::string> original = ReadTrashRecord(entry.Trash, entry.Name, error);
  if (!original) return false;
  if (*original != entry.Original)
    return Fail(error, "the trash record of " + entry.Name + " names " + *original + ", not " + entry.Original);
  const std::string filesPath = entry.Trash + "/files/" + entry.Name;
  if (!RenameNoReplace(filesPath, entry.Original)) {
    if (errno == EEXIST) return Fail(error, "something else now stands at " + entry.Original);
    return Fail(error, "the file could not be put back at " + entry.Original + " (" + Cause(errno) + ")");
  }
  SyncFolder(Parent(entry.Original));
  ::unlink((entry.Trash + "/info/" + entry.Name + std::string(kInfoSuffix)).c_str());
  return true;
}

}  // namespace orbelan
