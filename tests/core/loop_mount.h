#pragma once
// A file-system image on a loop device for tests of what file systems do with their blocks
// (compression, shared extents). Needs root and the file system's tools; tests skip with
// Why() otherwise.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace orbelan::testing {

// An image of type ("btrfs", "xfs") mounted through a loop device with the given options;
// Ready() false (with Why()) when that cannot be had here. Unmounts and frees the loop
// device even on failure.
class LoopMount {
 public:
  LoopMount(const std::string& type, const std::string& options) {
    if (geteuid() != 0) {
      why_ = "needs root to mount a loop device";
      return;
    }
    if (std::system(("command -v mkfs." + type + " >/dev/null 2>&1").c_str()) != 0) {
      why_ = "mkfs." + type + " is not installed (" + (type == "xfs" ? "xfsprogs" : type + "-progs") + ")";
      return;
    }
    char dir[] = "/tmp/orbelan-loop-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
      why_ = "no temporary folder";
      return;
    }
    base_ = dir;
    image_ = base_ + "/image";
    mount_ = base_ + "/mnt";
    mkdir(mount_.c_str(), 0755);
    // XFS takes no image under 300 MB.
    const std::string make = "truncate -s " + std::string(type == "xfs" ? "320M " : "200M ") + image_ + " && mkfs." +
                             type + " -q -f " + image_ + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
      why_ = "mkfs." + type + " failed";
      return;
    }
    const std::string mount = "mount -o loop," + options + " " + image_ + " " + mount_ + " 2>/dev/null";
    if (std::system(mount.c_str()) != 0) {
      why_ = "the loop mount failed (no loop devices or no " + type + " in this kernel)";
      return;
    }
    mounted_ = true;
  }
  ~LoopMount() {
    if (mounted_) {
      // umount -d frees the loop device as well.
      if (std::system(("umount -d " + mount_).c_str()) != 0) umount2(mount_.c_str(), MNT_DETACH);
    }
    if (!base_.empty()) {
      unlink(image_.c_str());
      rmdir(mount_.c_str());
      rmdir(base_.c_str());
    }
  }
  bool Ready() const { return mounted_; }
  const std::string& Why() const { return why_; }
  const std::string& Root() const { return mount_; }

 private:
  std::string base_, image_, mount_, why_;
  bool mounted_ = false;
};

class BtrfsMount : public LoopMount {
 public:
  explicit BtrfsMount(const std::string& options) : LoopMount("btrfs", options) {}
};

// Writes data to path and syncs it, so that its extents are on the disk when asked for.
inline void WriteFile(const std::string& path, const std::string& data) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ASSERT_EQ(fsync(fd), 0);
  close(fd);
}

// What compsize says the folder's files take on disk, or -1 without compsize.
inline std::int64_t CompsizeDiskBytes(const std::string& folder) {
  if (std::system("command -v compsize >/dev/null 2>&1") != 0) return -1;
  FILE* p = popen(("compsize -b " + folder + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return -1;
  char line[512];
  long long disk = -1;
  while (fgets(line, sizeof line, p) != nullptr) {
    long long d = 0, u = 0, r = 0;
    unsigned pct = 0;
    if (std::sscanf(line, "TOTAL %u%% %lld %lld %lld", &pct, &d, &u, &r) == 4) disk = d;
  }
  pclose(p);
  return disk;
}

}  // namespace orbelan::testing
