#pragma once
// Real folder trees in a temporary folder for the scanner's tests, made and removed
// through descriptors so that paths longer than PATH_MAX are no obstacle.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orbelan::testing {

inline void RemoveBelow(int parentFd, const char* name) {
  const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    unlinkat(parentFd, name, 0);
    return;
  }
  if (DIR* dir = fdopendir(fd)) {
    while (dirent* e = readdir(dir)) {
      const std::string child = e->d_name;
      if (child == "." || child == "..") continue;
      if (unlinkat(fd, child.c_str(), 0) != 0) RemoveBelow(fd, child.c_str());
    }
    closedir(dir);
  } else {
    close(fd);
  }
  unlinkat(parentFd, name, AT_REMOVEDIR);
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything below it at the end.
// Trees of thousands of folders that test how the engine walks, not what a disk keeps, may
// live in memory (/dev/shm when it is there): on a disk that others write to at the same
// time, making and removing them waits seconds on the journal.
class TempTree {
 public:
  enum class Place { Disk, Memory };
  explicit TempTree(Place place = Place::Disk) {
    const char* base = std::getenv("TMPDIR");
    std::string folder = base && *base ? base : "/tmp";
    if (place == Place::Memory && access("/dev/shm", W_OK | X_OK) == 0) folder = "/dev/shm";
    std::string pattern = folder + "/orbelan-scan-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~TempTree() { RemoveBelow(AT_FDCWD, root_.c_str()); }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root without a trailing "/".
  const std::string& Root() const { return root_; }
  // The root as the scanner records it.
  std::string RootSlash() const { return root_ + "/"; }
  std::string PathOf(const std::string& relative) const { return root_ + "/" + relative; }

  void Dir(const std::string& relative) const {
    if (mkdir(PathOf(relative).c_str(), 0755) != 0) throw std::runtime_error("mkdir " + relative);
  }
  // A file of size bytes (sparse beyond the first byte) with the given modification time.
  void File(const std::string& relative, long long size = 0, long long mtime = -2) const {
    const int fd = open(PathOf(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("create " + relative);
    if (size > 0 && ftruncate(fd, size) != 0) {
      close(fd);
      throw std::runtime_error("ftruncate " + relative);
    }
    close(fd);
    if (mtime != -2) SetMtime(relative, mtime);
  }
  void Link(const std::string& target, const std::string& relative) const {
    if (symlink(target.c_str(), PathOf(relative).c_str()) != 0)
      throw std::runtime_error("symlink " + relative);
  }
  void SetMtime(const std::string& relative, long long mtime) const {
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    if (utimensat(AT_FDCWD, PathOf(relative).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
      throw std::runtime_error("utimensat " + relative);
  }
  void Remove(const std::string& relative) const { RemoveBelow(AT_FDCWD, PathOf(relative).c_str()); }

 private:
  std::string root_;
};

}  // namespace orbelan::testing
