#pragma once
// How much of a file system is in use, measured after its pending writes are on the disk:
// what statfs tells, and on btrfs what its data allocation tells in sysfs (blocks of file
// data alone, without metadata or the space statfs keeps in reserve).

#include <cstdint>
#include <optional>

namespace orbelan {

struct FsUsage {
  std::int64_t Used = 0;                // (f_blocks - f_bfree) * f_bsize
  std::optional<std::int64_t> DataUsed;  // /sys/fs/btrfs/<uuid>/allocation/data/bytes_used
};

// Commits the file system of fd (syncfs), then measures it.
FsUsage MeasureUsage(int fd);

// Free bytes for an unprivileged writer on the file system of fd; nullopt when unknown.
std::optional<std::int64_t> FreeBytes(int fd);

}  // namespace orbelan
