#pragma once
// Keeps a folder walk out of the kernel's pseudo file systems (proc, sysfs, devtmpfs,
// cgroup and the like), which stand in for the "system" folders a scan leaves out.
//
// The file system's magic number (fstatfs) decides. Asking it of every folder would cost
// a system call per folder, so the mount table, read once per walk, says where a file
// system can begin: only folders that are mount points are asked. Where the table cannot
// be used (no /proc, a start folder without a real path, a start inside a pseudo file
// system), every folder is asked.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

class PseudoFsDetector {
 public:
  // Prepares for a walk from the folder open at startFd.
  void Begin(int startFd);

  // Whether a mount point may lie strictly below the folder at relative (components
  // below the start joined by "/", no trailing "/"; empty for the start itself).
  bool MountsBelow(std::string_view relative) const;
  // Whether the folder at relative may be a mount point.
  bool MayBeMountPoint(std::string_view relative) const;

  // Whether the open folder is on a pseudo file system, by its magic number. devtmpfs
  // shares tmpfs's magic and is told apart by its device number.
  bool IsPseudo(int dirFd);

 private:
  std::string RealPathOf(std::string_view relative) const;

  bool askEveryFolder_ = true;
  std::string realStart_;                 // the start's real path, "" for "/"
  std::vector<std::string> mountPoints_;  // real paths strictly below the start, sorted
  std::vector<std::uint64_t> devtmpfsDevices_;
  bool tableRead_ = false;
  void ReadTable();
};

struct MountEntry {
  std::string Point;  // unescaped
  std::string Type;
  std::uint64_t Device = 0;
};

// The entries of a /proc/self/mountinfo text, mount points with their octal escapes
// (\040 for a blank and so on) decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

}  // namespace orbelan
