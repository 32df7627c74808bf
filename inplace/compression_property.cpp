#include "inplace/compression_property.h"

#include <sys/xattr.h>

#include <cerrno>

namespace orbelan {
namespace {

constexpr const char* kProperty = "btrfs.compression";

int Set(int dirFd, const std::string& value) {
  return ::fsetxattr(dirFd, kProperty, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

}  // namespace

int SetCompressionProperty(int dirFd, int level, std::string& value) {
  value = "zstd:" + std::to_string(level);
  const int error = Set(dirFd, value);
  if (error != EINVAL) return error;
  value = "zstd";  // kernels that take no level in the value
  return Set(dirFd, value);
}

int ClearCompressionProperty(int dirFd) {
  if (::fremovexattr(dirFd, kProperty) == 0 || errno == ENODATA) return 0;
  return errno;
}

}  // namespace orbelan
