#include "platform/pseudo_fs.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orbelan {
namespace {

bool IsPseudoMagic(unsigned long magic) {
  switch (magic) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case BINFMTFS_MAGIC:
    case NSFS_MAGIC:
    case 0x62656570UL:  // configfs
    case 0x65735543UL:  // fusectl
    case 0x19800202UL:  // mqueue
      return true;
    default:
      return false;
  }
}

std::string Unescape(std::string_view field) {
  const auto octal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

bool StartsWithFolder(std::string_view path, std::string_view folder) {
  // path lies strictly below folder ("" standing for the root "/")
  return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder &&
         path[folder.size()] == '/';
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;

    // id parent major:minor root mountpoint options [tags...] - fstype source superoptions
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
      std::size_t next = line.find(' ', pos);
      if (next == std::string_view::npos) next = line.size();
      if (next > pos) fields.push_back(line.substr(pos, next - pos));
      pos = next + 1;
    }
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash + 1 == fields.end()) continue;
    unsigned major = 0, minor = 0;
    const std::string device(fields[2]);
    if (std::sscanf(device.c_str(), "%u:%u", &major, &minor) != 2) continue;
    entries.push_back(MountEntry{Unescape(fields[4]), std::string(*(dash + 1)),
                                 static_cast<std::uint64_t>(makedev(major, minor))});
  }
  return entries;
}

void PseudoFsDetector::ReadTable() {
  if (tableRead_) return;
  tableRead_ = true;
  std::ifstream file("/proc/self/mountinfo");
  if (!file) return;
  std::stringstream text;
  text << file.rdbuf();
  for (const MountEntry& entry : ParseMountInfo(text.str())) {
    if (entry.Type == "devtmpfs") devtmpfsDevices_.push_back(entry.Device);
    mountPoints_.push_back(entry.Point);
  }
}

void PseudoFsDetector::Begin(int startFd) {
  askEveryFolder_ = true;
  tableRead_ = false;
  mountPoints_.clear();
  devtmpfsDevices_.clear();
  realStart_.clear();

  ReadTable();
  if (mountPoints_.empty() || IsPseudo(startFd)) return;

  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", startFd);
  std::string real(4096, '\0');
  for (;;) {
    const ssize_t n = readlink(link, real.data(), real.size());
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < real.size()) {
      real.resize(static_cast<std::size_t>(n));
      break;
    }
    real.resize(real.size() * 2);
  }
  // A folder removed meanwhile, or one outside this process's root, has no usable path.
  if (real.empty() || real.front() != '/' || real.find(" (deleted)") != std::string::npos) return;
  if (real == "/") real.clear();
  realStart_ = real;

  std::vector<std::string> below;
  for (std::string& point : mountPoints_) {
    if (StartsWithFolder(point, realStart_)) below.push_back(std::move(point));
  }
  std::sort(below.begin(), below.end());
  mountPoints_ = std::move(below);
  askEveryFolder_ = false;
}

std::string PseudoFsDetector::RealPathOf(std::string_view relative) const {
  std::string path = realStart_;
  if (!relative.empty()) {
    path.push_back('/');
    path.append(relative);
  }
  return path;
}

bool PseudoFsDetector::MountsBelow(std::string_view relative) const {
  if (askEveryFolder_) return true;
  const std::string folder = RealPathOf(relative);
  // The first mount point sorting after folder + "/" is the only candidate to check.
  const auto it = std::lower_bound(mountPoints_.begin(), mountPoints_.end(), folder + "/");
  return it != mountPoints_.end() && StartsWithFolder(*it, folder);
}

bool PseudoFsDetector::MayBeMountPoint(std::string_view relative) const {
  if (askEveryFolder_) return true;
  return std::binary_search(mountPoints_.begin(), mountPoints_.end(), RealPathOf(relative));
}

bool PseudoFsDetector::IsPseudo(int dirFd) {
  struct statfs fs;
  if (fstatfs(dirFd, &fs) != 0) return false;
  if (IsPseudoMagic(static_cast<unsigned long>(fs.f_type))) return true;
  if (static_cast<unsigned long>(fs.f_type) != TMPFS_MAGIC) return false;
  ReadTable();
  struct stat st;
  return fstat(dirFd, &st) == 0 &&
         std::find(devtmpfsDevices_.begin(), devtmpfsDevices_.end(),
                   static_cast<std::uint64_t>(st.st_dev)) != devtmpfsDevices_.end();
}

}  // namespace orbelan
