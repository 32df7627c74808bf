#include "inplace/fs_usage.h"

#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace orbelan {
namespace {

// The file system's UUID as sysfs names its folder, from the btrfs ioctl any user may ask.
std::optional<std::string> BtrfsUuid(int fd) {
  btrfs_ioctl_fs_info_args info;
  std::memset(&info, 0, sizeof info);
  if (::ioctl(fd, BTRFS_IOC_FS_INFO, &info) != 0) return std::nullopt;
  char text[37];
  const unsigned char* u = info.fsid;
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0], u[1],
                u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
  return std::string(text);
}

}  // namespace

FsUsage MeasureUsage(int fd) {
  // Replaced extents are let go when the transaction that replaced them commits.
  ::syncfs(fd);
  FsUsage usage;
  struct statfs fs {};
  if (::fstatfs(fd, &fs) == 0)
    usage.Used = static_cast<std::int64_t>(fs.f_blocks - fs.f_bfree) * static_cast<std::int64_t>(fs.f_bsize);
  if (const std::optional<std::string> uuid = BtrfsUuid(fd)) {
    std::ifstream in("/sys/fs/btrfs/" + *uuid + "/allocation/data/bytes_used");
    long long bytes = -1;
    if (in >> bytes && bytes >= 0) usage.DataUsed = bytes;
  }
  return usage;
}

std::optional<std::int64_t> FreeBytes(int fd) {
  struct statvfs vfs {};
  if (::fstatvfs(fd, &vfs) != 0) return std::nullopt;
  return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

}  // namespace orbelan
