#include "platform/link_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

namespace orbelan {

namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";

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

// The device of path, or of its nearest existing ancestor.
std::optional<dev_t> DeviceOf(std::string path) {
  for (;;) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return info.st_dev;
    if (path == "/" || path == ".") return std::nullopt;
    path = Parent(path);
  }
}

// The highest folder above (and including) dir that lies on the device dir lies on.
std::string TopDir(const std::string& dir, dev_t device) {
  std::string top = dir;
  while (top != "/") {
    const std::string up = Parent(top);
    struct stat info {};
    if (::stat(up.c_str(), &info) != 0 || info.st_dev != device) break;
    top = up;
  }
  return top;
}

bool MakeDir(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  struct stat info {};
  return errno == EEXIST && ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeDirs(const std::string& path) {
  if (path.empty() || path == "/") return true;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  return MakeDirs(Parent(path)) && MakeDir(path);
}

// The trash of the file system whose top folder is topdir: $topdir/.Trash/$uid when the
// administrator made .Trash (a sticky folder, not a link), else $topdir/.Trash-$uid.
std::optional<std::string> TopDirTrash(const std::string& topdir) {
  const std::string base = topdir == "/" ? std::string() : topdir;
  const std::string uid = std::to_string(::getuid());
  struct stat info {};
  const std::string shared = base + "/.Trash";
  if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
    const std::string own = shared + "/" + uid;
    if (MakeDir(own)) return own;
  }
  const std::string own = base + "/.Trash-" + uid;
  if (MakeDir(own)) return own;
  return std::nullopt;
}

// Escaped as in a URI: every byte but the unreserved ones and "/" as %XX.
std::string Escaped(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
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
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool MoveLinkToTrash(const std::string& linkPath, const std::string& homeTrash) {
  if (linkPath.empty() || linkPath.front() != '/' || !IsSymbolicLink(linkPath)) return false;
  const std::string dir = Parent(linkPath);
  struct stat dirInfo {};
  if (::stat(dir.c_str(), &dirInfo) != 0) return false;

  // The trash on the link's own file system, so the move is a rename.
  std::string trash;
  std::string recorded = linkPath;  // the Path= of the info file
  const std::optional<dev_t> homeDevice = homeTrash.empty() ? std::nullopt : DeviceOf(homeTrash);
  if (homeDevice && *homeDevice == dirInfo.st_dev) {
    if (!MakeDirs(homeTrash)) return false;
    trash = homeTrash;
  } else {
    const std::string topdir = TopDir(dir, dirInfo.st_dev);
    const std::optional<std::string> own = TopDirTrash(topdir);
    if (!own) return false;
    trash = *own;
    // Relative to the top folder, so the trash still holds when the disk is mounted elsewhere.
    recorded = topdir == "/" ? linkPath.substr(1) : linkPath.substr(topdir.size() + 1);
  }
  if (!MakeDir(trash + "/files") || !MakeDir(trash + "/info")) return false;

  // A name of its own in the trash: the info file is created exclusively, which claims it.
  std::string base = BaseName(linkPath);
  const std::size_t room = kNameMax - kInfoSuffix.size() - 8;  // space for a " NNNNNNN" suffix
  if (base.size() > room) base.resize(room);
  const std::string info = "[Trash Info]\nPath=" + Escaped(recorded) +
                           "\nDeletionDate=" + DeletionDate() + "\n";
  for (int n = 1; n < 10000; ++n) {
    const std::string name = n == 1 ? base : base + " " + std::to_string(n);
    const std::string infoPath = trash + "/info/" + name + std::string(kInfoSuffix);
    const std::string filesPath = trash + "/files/" + name;
    struct stat taken {};
    if (::lstat(filesPath.c_str(), &taken) == 0) continue;
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool written = WriteAll(fd, info);
    const bool closed = ::close(fd) == 0;
    if (written && closed) {
      // Never over a name that appeared in files/ meanwhile.
      int moved = ::renameat2(AT_FDCWD, linkPath.c_str(), AT_FDCWD, filesPath.c_str(), RENAME_NOREPLACE);
      if (moved != 0 && errno == EINVAL)  // a file system without the flag
        moved = ::rename(linkPath.c_str(), filesPath.c_str());
      if (moved == 0) return true;
      const bool taken = errno == EEXIST;
      ::unlink(infoPath.c_str());
      if (taken) continue;
    } else {
      ::unlink(infoPath.c_str());
    }
    return false;
  }
  return false;
}

}  // namespace orbelan
