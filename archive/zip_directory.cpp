#include "archive/zip_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orbelan {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEntrySignature = 0x02014b50;
constexpr std::size_t kEndBytes = 22;
constexpr std::size_t kLocatorBytes = 20;
constexpr std::size_t kEntryBytes = 46;

std::uint64_t Le(const unsigned char* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

bool ReadAt(int fd, std::uint64_t offset, void* into, std::size_t size) {
  auto* p = static_cast<unsigned char*>(into);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::vector<std::string>> Unsound(std::string* error, const std::string& why) {
  if (error) *error = why;
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> CentralDirectoryNames(int fd, std::string* error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Unsound(error, std::strerror(errno));
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (fileSize < kEndBytes) return Unsound(error, "too short for a zip archive");
  // The end record is the last 22 bytes: the archives checked here carry no comment.
  unsigned char end[kEndBytes];
  const std::uint64_t endAt = fileSize - kEndBytes;
  if (!ReadAt(fd, endAt, end, sizeof end) || Le(end, 4) != kEndSignature || Le(end + 20, 2) != 0)
    return Unsound(error, "no end of central directory at the end of the archive");
  std::uint64_t count = Le(end + 10, 2);
  std::uint64_t size = Le(end + 12, 4);
  std::uint64_t offset = Le(end + 16, 4);
  if (count == 0xffff || size == 0xffffffff || offset == 0xffffffff) {
    unsigned char locator[kLocatorBytes];
    unsigned char end64[56];
    if (endAt < kLocatorBytes || !ReadAt(fd, endAt - kLocatorBytes, locator, sizeof locator) ||
        Le(locator, 4) != kZip64LocatorSignature)
      return Unsound(error, "no Zip64 end of central directory");
    const std::uint64_t end64At = Le(locator + 8, 8);
    if (end64At + sizeof end64 > fileSize || !ReadAt(fd, end64At, end64, sizeof end64) ||
        Le(end64, 4) != kZip64EndSignature)
      return Unsound(error, "no Zip64 end of central directory");
    count = Le(end64 + 32, 8);
    size = Le(end64 + 40, 8);
    offset = Le(end64 + 48, 8);
  }
  if (offset > fileSize || size > fileSize - offset || count > size / kEntryBytes)
    return Unsound(error, "a central directory outside the archive");
  std::vector<unsigned char> directory(static_cast<std::size_t>(size));
  if (size > 0 && !ReadAt(fd, offset, directory.data(), directory.size()))
    return Unsound(error, "the central directory could not be read");
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (directory.size() - at < kEntryBytes || Le(&directory[at], 4) != kEntrySignature)
      return Unsound(error, "a damaged central directory entry");
    const std::size_t nameLength = Le(&directory[at + 28], 2);
    const std::size_t rest = nameLength + Le(&directory[at + 30], 2) + Le(&directory[at + 32], 2);
    if (directory.size() - at - kEntryBytes < rest) return Unsound(error, "a damaged central directory entry");
    names.emplace_back(reinterpret_cast<const char*>(&directory[at + kEntryBytes]), nameLength);
    at += kEntryBytes + rest;
  }
  if (at != directory.size()) return Unsound(error, "bytes after the last central directory entry");
  return names;
}

}  // namespace orbelan
