#pragma once
// Internal to the folder zipper: what its stages (plan, write, verify, trash, remove
// folders) share, each stage in a file of its own. Included only by archive/'s zipper
// files; nothing outside archive/ may rely on it.

#include <archive.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/folder_zipper.h"
#include "platform/dir_reader.h"
#include "platform/trash_at.h"

namespace orbelan {
namespace zipper_parts {

// Small enough that a cancel is seen within a few milliseconds even on a busy machine.
constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kNameMax = 255;
const std::string kNothingChanged = " Nothing was changed.";

// What the member's file looked like when it was listed or read: the trash check compares
// against it, and the archive keeps its time and permissions.
inline void TakeStat(ZipMember& m, const struct stat& st) {
  m.Size = static_cast<std::int64_t>(st.st_size);
  m.MtimeSec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  m.MtimeNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  m.CtimeSec = static_cast<std::int64_t>(st.st_ctim.tv_sec);
  m.CtimeNsec = static_cast<std::int64_t>(st.st_ctim.tv_nsec);
  m.Allocated = static_cast<std::int64_t>(st.st_blocks) * 512;
  m.Links = static_cast<std::uint64_t>(st.st_nlink);
  m.Inode = static_cast<std::uint64_t>(st.st_ino);
  m.Device = static_cast<std::uint64_t>(st.st_dev);
  m.Mode = static_cast<std::uint32_t>(st.st_mode & 07777);
  m.Uid = static_cast<std::uint32_t>(st.st_uid);
  m.Gid = static_cast<std::uint32_t>(st.st_gid);
}

// Whether st shows the member's file with the size, times and inode TakeStat kept. The
// change time moves with every write, even one whose modification time was put back.
// The device is left to the caller: only the trash check needs it.
inline bool StillAsTaken(const ZipMember& m, const struct stat& st) {
  return static_cast<std::int64_t>(st.st_size) == m.Size && st.st_mtim.tv_sec == m.MtimeSec &&
         st.st_mtim.tv_nsec == m.MtimeNsec && st.st_ctim.tv_sec == m.CtimeSec &&
         st.st_ctim.tv_nsec == m.CtimeNsec && static_cast<std::uint64_t>(st.st_ino) == m.Inode;
}

inline std::string Errno(int error) { return std::strerror(error); }

inline ZipResult Refuse(std::string message) {
  ZipResult r;
  r.Outcome = ZipOutcome::Refused;
  r.Message = std::move(message);
  return r;
}

inline ZipResult Fail(std::string message) {
  ZipResult r;
  r.Outcome = ZipOutcome::Failed;
  r.Message = std::move(message);
  return r;
}

inline ZipResult Cancelled() {
  ZipResult r;
  r.Outcome = ZipOutcome::Cancelled;
  return r;
}

// A descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The folder as a descriptor; paths longer than PATH_MAX are opened component by component.
inline int OpenFolder(const std::string& path) {
  DirReader reader;
  if (!reader.OpenPath(path)) return -1;
  return ::fcntl(reader.Fd(), F_DUPFD_CLOEXEC, 0);
}

// Switches the calling thread's locale while it lives. The zip writer marks a non-ASCII
// name as UTF-8 exactly when the locale's character set is UTF-8, and the reader turns
// marked names into that character set: per-thread locales let each name be marked as it
// really is without touching the rest of the program.
class ThreadLocales {
 public:
  ThreadLocales()
      : utf8_(::newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))),
        plain_(::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))),
        saved_(::uselocale(static_cast<locale_t>(nullptr))) {}
  ~ThreadLocales() {
    ::uselocale(saved_);
    if (utf8_) ::freelocale(utf8_);
    if (plain_) ::freelocale(plain_);
  }
  ThreadLocales(const ThreadLocales&) = delete;
  ThreadLocales& operator=(const ThreadLocales&) = delete;
  bool Usable() const { return utf8_ != nullptr && plain_ != nullptr; }
  void UseUtf8(bool utf8) { ::uselocale(utf8 ? utf8_ : plain_); }

 private:
  locale_t utf8_;
  locale_t plain_;
  locale_t saved_;
};

// The mark in a temporary archive's name: ".<archive name>.orbelan-<8 hex digits>.part".
constexpr std::string_view kTempMark = ".orbelan-";
constexpr std::string_view kTempSuffix = ".part";

// The archive while it has its temporary name; removed unless it was given its final one.
// It is locked (flock) for as long as this run lives, also when the run is killed: the
// lock goes with the process, and a later plan takes away only files nobody holds.
class TempArchive {
 public:
  explicit TempArchive(int dirFd) : dirFd_(dirFd) {}
  ~TempArchive() {
    if (!name_.empty() && !placed_) ::unlinkat(dirFd_, name_.c_str(), 0);
    fd_.Reset();
  }
  bool Create(const std::string& finalName) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    // Without a name first where the file system allows: locked before anyone can see it.
    UniqueFd unnamed(::openat(dirFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (unnamed.Get() >= 0 && ::flock(unnamed.Get(), LOCK_EX) != 0) unnamed.Reset();
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "%.*s%08llx%.*s", static_cast<int>(kTempMark.size()),
                    kTempMark.data(), static_cast<unsigned long long>(random() & 0xffffffffULL),
                    static_cast<int>(kTempSuffix.size()), kTempSuffix.data());
      std::string name(1, '.');
      name.append(finalName, 0, kNameMax - 1 - std::strlen(suffix));
      name.append(suffix);
      if (unnamed.Get() >= 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(unnamed.Get());
        if (::linkat(AT_FDCWD, self.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          fd_.Reset(::fcntl(unnamed.Get(), F_DUPFD_CLOEXEC, 0));
          name_ = std::move(name);
          return fd_.Get() >= 0;
        }
        if (errno == EEXIST) continue;
        unnamed.Reset();  // no /proc: the named way below
      }
      const int fd = ::openat(dirFd_, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_.Reset(fd);
        name_ = std::move(name);
        ::flock(fd, LOCK_EX);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int Fd() const { return fd_.Get(); }
  const std::string& Name() const { return name_; }
  void Placed() { placed_ = true; }

 private:
  int dirFd_;
  UniqueFd fd_;
  std::string name_;
  bool placed_ = false;
};

// The library's own words, or the system's when a call of the system failed underneath.
inline std::string LibError(archive* a) {
  const char* text = a ? ::archive_error_string(a) : nullptr;
  if (text && *text) return text;
  const int error = a ? ::archive_errno(a) : ENOMEM;
  return error > 0 ? std::strerror(error) : "the archive library gave no reason";
}

// The folder holding a member of a subtree's plan, opened below the plan's folder without
// following a link on the way (a folder swapped for a link after the plan leads nowhere);
// kept open for the next member, which is most often in the same folder.
class MemberFolders {
 public:
  explicit MemberFolders(int topFd) : top_(topFd) {}
  // The descriptor (-1, errno set, when it cannot be opened) and the member's own name.
  int Of(const std::string& name, std::string& leaf) {
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
      leaf = name;
      return top_;
    }
    leaf = name.substr(slash + 1);
    const std::string_view folder(name.data(), slash);
    if (fd_.Get() < 0 || folder != open_) {
      fd_.Reset(OpenFolderBelow(top_, folder));
      open_.assign(folder);
    }
    return fd_.Get();
  }
  // The member's file opened for reading, never through a link (-1, errno set, when it
  // cannot be).
  int OpenFile(const std::string& name) {
    std::string leaf;
    const int at = Of(name, leaf);
    return at < 0 ? -1 : ::openat(at, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }

 private:
  int top_;
  UniqueFd fd_;
  std::string open_;
};

}  // namespace zipper_parts

// One run's folder, temporary archive and buffer, handed from stage to stage.
struct FolderZipper::Work {
  Work(ZipPlan& p, int fd) : plan(p), dirFd(fd), temp(fd), folders(fd), buffer(new unsigned char[zipper_parts::kBlock]) {}
  ZipPlan& plan;
  int dirFd;
  zipper_parts::TempArchive temp;
  zipper_parts::MemberFolders folders;
  FolderTrash trash;                  // prepared before anything is written
  std::set<std::string> trashedFrom;  // a subtree's folders that gave a file to the trash
  std::unique_ptr<unsigned char[]> buffer;
  zipper_parts::ThreadLocales locales;
  std::string manifest;     // the manifest member's bytes, as written
  std::string archiveName;  // once placed
  std::vector<std::string> unreadable, unreadableWhy;  // left out of the archive (see ZipResult)
  // What the run did, once the archive has its name: the trash stage adds to it.
  ZipResult PlacedResult() const;
};

}  // namespace orbelan
