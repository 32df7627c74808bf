#include "archive/folder_zipper.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <unordered_map>

#include "archive/member_links.h"
#include "archive/trash_stage.h"
#include "archive/zip_directory.h"
#include "archive/zip_manifest.h"
#include "fsfacts/folder_extents.h"
#include "fsfacts/mount_facts.h"
#include "archive/folder_lock.h"
#include "platform/dir_reader.h"
#include "platform/quoted_name.h"
#include "platform/open_writers.h"
#include "platform/start_path.h"
#include "platform/system_folders.h"
#include "platform/trash_at.h"
#include "platform/trash_orphans.h"
#include "numbers/saturating_sum.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"
#include "scan/scanner.h"

namespace orbelan {
namespace {

// Small enough that a cancel is seen within a few milliseconds even on a busy machine.
constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kNameMax = 255;
const std::string kNothingChanged = " Nothing was changed.";

// What the member's file looked like when it was listed or read: the trash check compares
// against it, and the archive keeps its time and permissions.
void TakeStat(ZipMember& m, const struct stat& st) {
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
bool StillAsTaken(const ZipMember& m, const struct stat& st) {
  return static_cast<std::int64_t>(st.st_size) == m.Size && st.st_mtim.tv_sec == m.MtimeSec &&
         st.st_mtim.tv_nsec == m.MtimeNsec && st.st_ctim.tv_sec == m.CtimeSec &&
         st.st_ctim.tv_nsec == m.CtimeNsec && static_cast<std::uint64_t>(st.st_ino) == m.Inode;
}

std::string Errno(int error) { return std::strerror(error); }

ZipResult Refuse(std::string message) {
  ZipResult r;
  r.Outcome = ZipOutcome::Refused;
  r.Message = std::move(message);
  return r;
}

ZipResult Fail(std::string message) {
  ZipResult r;
  r.Outcome = ZipOutcome::Failed;
  r.Message = std::move(message);
  return r;
}

ZipResult Cancelled() {
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
int OpenFolder(const std::string& path) {
  DirReader reader;
  if (!reader.OpenPath(path)) return -1;
  return ::fcntl(reader.Fd(), F_DUPFD_CLOEXEC, 0);
}

// The real path of the folder open at fd, ending in "/", when the kernel names it and that
// name leads to the same folder; nullopt otherwise (then the path given stands).
std::optional<std::string> RealFolderPath(int fd, const struct stat& self) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string real(4096, '\0');
  const ssize_t n = ::readlink(link.c_str(), real.data(), real.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= real.size() || real[0] != '/') return std::nullopt;
  real.resize(static_cast<std::size_t>(n));
  struct stat named {};
  if (::stat(real.c_str(), &named) != 0 || named.st_dev != self.st_dev || named.st_ino != self.st_ino)
    return std::nullopt;  // gone meanwhile, or " (deleted)", or outside this process's view
  if (real.back() != '/') real.push_back('/');
  return real;
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

// The archive's bytes go straight to the temporary file, counted, so that the size of
// each member's data is known as soon as the writer has finished it.
struct CountingSink {
  int fd;
  std::int64_t written;
  int error;
  // A failed write is kept in error and the rest of the output dropped, but the writer is
  // told it succeeded: a writer that saw the failure would give up its deflate stream
  // without ending it, and each failed zip would leak it. Callers check error.
  static la_ssize_t Write(archive*, void* self, const void* data, std::size_t size) {
    auto* sink = static_cast<CountingSink*>(self);
    if (sink->error != 0) return static_cast<la_ssize_t>(size);
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
      const ssize_t n = ::write(sink->fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        sink->error = n < 0 ? errno : EIO;
        return static_cast<la_ssize_t>(size);
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    sink->written += static_cast<std::int64_t>(size);
    return static_cast<la_ssize_t>(size);
  }
};

// What the zip writer puts after a deflated member's data: the data descriptor (signature,
// CRC and two sizes), with 64-bit sizes for members it writes as Zip64.
std::int64_t DataDescriptorBytes(std::int64_t size, bool stored) {
  return size > (stored ? 0xffffffffLL : 0xf0000000LL) ? 24 : 16;
}

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

std::string FolderName(const std::string& folderPath) {
  std::string path = folderPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Gives the temporary archive its final name without replacing anything that has it.
bool PlaceWithoutReplacing(int dirFd, const std::string& from, const std::string& to) {
  if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0) {
    ::unlinkat(dirFd, from.c_str(), 0);
    return true;
  }
  if (errno == EEXIST) return false;
  // A file system without hard links: claim the name with an empty file of our own, then
  // move the archive over that file only.
  const int claim = ::openat(dirFd, to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (claim < 0) return false;
  ::close(claim);
  if (::renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0) return true;
  const int error = errno;
  ::unlinkat(dirFd, to.c_str(), 0);
  errno = error;
  return false;
}

// The mark in a temporary archive's name: ".<archive name>.orbelan-<8 hex digits>.part".
constexpr std::string_view kTempMark = ".orbelan-";
constexpr std::string_view kTempSuffix = ".part";

// Whether the file carries extended attributes or ACLs. The zip writer keeps only bytes,
// times and permissions: such a file would lose them once the trash is emptied, so it is
// left where it is. The SELinux label is not counted: every file has one, and the system
// gives it again.
bool CarriesMetadata(const std::string& path) {
  char names[4096];
  const ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
  if (size < 0) return errno == ERANGE;  // more names than fit: it has some
  for (ssize_t at = 0; at < size;) {
    const std::string_view attribute(names + at);
    if (attribute != "security.selinux") return true;
    at += static_cast<ssize_t>(attribute.size()) + 1;
  }
  return false;
}

bool IsTemporaryArchiveName(std::string_view name) {
  if (name.size() < 1 + kTempMark.size() + 8 + kTempSuffix.size() || name.front() != '.' ||
      !name.ends_with(kTempSuffix))
    return false;
  const std::string_view tail = name.substr(name.size() - kTempSuffix.size() - 8 - kTempMark.size(),
                                            kTempMark.size() + 8);
  if (!tail.starts_with(kTempMark)) return false;
  for (const char c : tail.substr(kTempMark.size()))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

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

// Moves to the trash a temporary archive that no run holds any more (killed, or ended by a
// crash), and only one that is surely ours: unlocked, our user's, with no other name, and
// empty or starting as a zip does (what a killed run leaves: it is linked before its first
// byte, and the second write starts from empty). Anything else with such a name is left
// alone. The trash, not unlink: should it be someone's file after all, it can come back.
bool TrashIfAbandoned(int dirFd, const std::string& name, FolderTrash& trash) {
  UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat held {}, named {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid() ||
      held.st_nlink != 1)
    return false;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;  // a run is writing it
  if (held.st_size > 0) {
    char start[4];
    if (::pread(fd.Get(), start, sizeof start, 0) != static_cast<ssize_t>(sizeof start) ||
        std::memcmp(start, "PK\x03\x04", sizeof start) != 0)
      return false;
  }
  // Still the file that was locked, not one that took its name meanwhile.
  if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != held.st_ino ||
      named.st_dev != held.st_dev)
    return false;
  // Through the folder's descriptor, as the originals go; what arrived must be what was
  // checked, else it goes back.
  TrashClaim claim;
  if (!trash.Claim(name, claim, nullptr)) return false;
  if (!trash.MakeDurable({claim}, nullptr) || trash.MoveIn(dirFd, name, claim) != 0) {
    trash.Drop(claim);
    return false;
  }
  if (trash.Holds(claim, static_cast<std::uint64_t>(held.st_dev), static_cast<std::uint64_t>(held.st_ino))) {
    trash.Keep(claim);
    return true;
  }
  if (trash.MoveBack(claim, dirFd, name) == 0) trash.Drop(claim);
  else trash.Keep(claim);  // a stranger that cannot go back keeps its record, so it can be restored
  return false;
}

struct ArchiveWriter {
  archive* a = ::archive_write_new();
  ~ArchiveWriter() {
    if (a) ::archive_write_free(a);
  }
};

struct ArchiveReader {
  archive* a = ::archive_read_new();
  ~ArchiveReader() {
    if (a) ::archive_read_free(a);
  }
};

struct Entry {
  archive_entry* e = ::archive_entry_new();
  ~Entry() {
    if (e) ::archive_entry_free(e);
  }
};

// The library's own words, or the system's when a call of the system failed underneath.
std::string LibError(archive* a) {
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

}  // namespace

bool IsValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    std::size_t len;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string ArchiveNameFor(const std::string& folderPath, const std::string& date, int number) {
  std::string suffix(1, '-');
  suffix += date;
  if (number > 1) {
    suffix += '-';
    suffix += std::to_string(number);
  }
  suffix += ".zip";
  std::string name = FolderName(folderPath);
  if (name.size() + suffix.size() > kNameMax) {
    const bool utf8 = IsValidUtf8(name);
    std::size_t cut = kNameMax - suffix.size();
    if (utf8)
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name + suffix;
}

FolderZipper::FolderZipper(ZipOptions options) : options_(std::move(options)) {
  if (options_.Date.empty()) options_.Date = TodayText();
  if (!options_.FreeSpace) {
    options_.FreeSpace = [](int fd) -> std::optional<std::int64_t> {
      struct statvfs info {};
      if (::fstatvfs(fd, &info) != 0) return std::nullopt;
      return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
    };
  }
  if (!options_.HomeTrash) options_.HomeTrash = HomeTrashFolder();
  if (options_.DpkgInfo.empty()) options_.DpkgInfo = kDpkgInfoFolder;
  if (!options_.HomeFolder) {
    const char* home = std::getenv("HOME");
    options_.HomeFolder = home ? std::string(home) : std::string();
  }
}

std::int64_t FolderZipper::SpaceNeeded(const ZipPlan& plan) {
  // Every member stored: its bytes, its local and central headers with their time, owner
  // and Zip64 fields, the name twice and the data descriptor; then the directory's end.
  std::int64_t need = plan.Bytes + 200;
  for (const ZipMember& m : plan.Members) need += 200 + 2 * static_cast<std::int64_t>(m.Name.size());
  // A margin, so the disk is not left full to the last byte.
  return need + (1 << 20) + plan.Bytes / 100;
}

std::optional<ZipResult> FolderZipper::RefuseWithoutSpace(const ZipPlan& plan, int dirFd) const {
  const std::optional<std::int64_t> free = options_.FreeSpace(dirFd);
  if (!free) return std::nullopt;  // unknown: the write itself will tell
  const std::int64_t need = SpaceNeeded(plan);
  if (*free >= need) return std::nullopt;
  return Refuse("There is not enough free space in " + plan.Folder + " for the archive: " +
                GroupedNumber(need) + " bytes may be needed, " + GroupedNumber(*free) + " bytes are free.");
}

// The checks every plan starts with: a real, absolute folder that is neither a file
// system's root nor the home folder. Open in reader on success.
ZipResult FolderZipper::OpenForPlan(const std::string& folderPath, ZipPlan& plan, DirReader& reader,
                                    bool subtree) {
  plan = ZipPlan{};
  plan.Folder = folderPath.ends_with('/') ? folderPath : folderPath + '/';
  plan.GivenFolder = plan.Folder;
  Stage = static_cast<int>(ZipStage::Listing);
  Done = 0;
  Total = 0;

  // The archive is named after the folder's last component: it must be a real name.
  if (plan.Folder.front() != '/' || plan.Folder.find("/./") != std::string::npos ||
      plan.Folder.find("/../") != std::string::npos)
    return Refuse("The folder " + plan.Folder + " must be named by an absolute path without \".\" or \"..\".");
  if (!reader.OpenPath(plan.Folder))
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + ").");
  const int dirFd = reader.Fd();

  struct stat self {}, parent {};
  if (::fstat(dirFd, &self) != 0 || ::fstatat(dirFd, "..", &parent, 0) != 0)
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + ").");
  // A link is a way in, not the folder's name: the archive's record, the trash and every
  // check below go by where the folder really is.
  if (std::optional<std::string> real = RealFolderPath(dirFd, self)) plan.Folder = std::move(*real);
  plan.FolderDevice = static_cast<std::uint64_t>(self.st_dev);
  plan.FolderInode = static_cast<std::uint64_t>(self.st_ino);
  if (parent.st_dev != self.st_dev || parent.st_ino == self.st_ino)
    return Refuse("The folder " + plan.Folder +
                  " is the root of a file system; Orbelan does not zip a whole file system's top folder.");
  struct stat home {};
  if (!options_.HomeFolder->empty() && ::stat(options_.HomeFolder->c_str(), &home) == 0 &&
      home.st_dev == self.st_dev && home.st_ino == self.st_ino)
    return Refuse("The folder " + plan.Folder +
                  " is your home folder; Orbelan does not zip the home folder itself.");
  // A subtree takes files from every folder below: a package's file anywhere there counts.
  if (std::optional<std::string> why = SystemFolderReason(plan.Folder, options_.DpkgInfo, subtree))
    return Refuse("The folder " + plan.Folder + " belongs to the system (" + *why +
                  "); Orbelan does not zip system folders." + kNothingChanged);
  return ZipResult{};
}

// A regular file found for the plan: a member, or left out when it carries metadata.
static void AddToPlan(ZipPlan& plan, std::string_view name, const struct stat& st) {
  if (CarriesMetadata(plan.Folder + std::string(name))) {
    plan.WithMetadata.emplace_back(name);
    return;
  }
  ZipMember m;
  m.Name.assign(name);
  TakeStat(m, st);
  plan.Bytes += m.Size;
  plan.Members.push_back(std::move(m));
}

void FolderZipper::ListOwnFiles(DirReader& reader, const std::string& prefix, const ScanRules& rules,
                                ZipPlan& plan) {
  const int dirFd = reader.Fd();
  DirEntry entry;
  struct stat st {};
  while (reader.Next(entry)) {
    if (entry.Hidden()) {
      // Temporary archives live in the top folder only.
      if (prefix.empty() && IsTemporaryArchiveName(entry.NameView())) plan.Temporaries.emplace_back(entry.Name);
      continue;
    }
    if (entry.TypeIsDirectory()) continue;
    // The name first: ignored files and archives cost no system call.
    const std::string_view name = entry.NameView();
    if (!IsUnzippedFile(name, rules)) continue;  // ignored or already an archive
    if (::fstatat(dirFd, entry.Name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;  // gone, a folder, a link, a pipe, a device
    AddToPlan(plan, prefix.empty() ? name : std::string_view(prefix + std::string(name)), st);
  }
}

ZipResult FolderZipper::Plan(const std::string& folderPath, const ScanRules& rules,
                             ZipPlan& plan) {
  DirReader reader;
  if (ZipResult opened = OpenForPlan(folderPath, plan, reader); opened.Outcome != ZipOutcome::Done)
    return opened;
  ListOwnFiles(reader, std::string(), rules, plan);
  return FinishPlan(plan, reader.Fd());
}

ZipResult FolderZipper::PlanSubtree(const std::string& folderPath, const std::vector<std::string>& subfolders,
                                    const ScanRules& rules, ZipPlan& plan) {
  DirReader reader;
  if (ZipResult opened = OpenForPlan(folderPath, plan, reader, true); opened.Outcome != ZipOutcome::Done)
    return opened;
  plan.Subtree = true;
  const int topFd = reader.Fd();
  struct stat top {};
  if (::fstat(topFd, &top) != 0)
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + ").");
  ListOwnFiles(reader, std::string(), rules, plan);
  plan.Folders = plan.Members.empty() ? 0 : 1;  // the folders with files to zip

  DirReader below;
  for (const std::string& path : subfolders) {
    // Named through the link the folder was given by, when the scan started there.
    const std::string& prefix = path.starts_with(plan.Folder) ? plan.Folder : plan.GivenFolder;
    if (path.size() <= prefix.size() + 1 || !path.starts_with(prefix) || path.back() != '/') continue;
    const std::string name = path.substr(prefix.size(), path.size() - prefix.size() - 1);
    // Below a folder left out on another file system: left out with it.
    const bool underLeftOut = std::any_of(plan.OtherFileSystems.begin(), plan.OtherFileSystems.end(),
                                          [&](const std::string& out) {
                                            return name.size() > out.size() && name.starts_with(out) &&
                                                   name[out.size()] == '/';
                                          });
    if (underLeftOut) continue;
    // Opened without following a link on the way: gone or now a link, it is passed over.
    if (!below.OpenBelow(topFd, name)) continue;
    struct stat st {};
    if (::fstat(below.Fd(), &st) != 0) continue;
    if (st.st_dev != top.st_dev) {
      // Its files could not move to the trash by a rename, nor the folder be told empty.
      plan.OtherFileSystems.push_back(name);
      continue;
    }
    plan.Subfolders.push_back({name, static_cast<std::uint32_t>(st.st_mode & 07777),
                               static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_dev)});
    const std::size_t before = plan.Members.size();
    ListOwnFiles(below, name + '/', rules, plan);
    if (plan.Members.size() > before) ++plan.Folders;
  }
  below.Close();
  std::sort(plan.Subfolders.begin(), plan.Subfolders.end(),
            [](const ZipSubfolder& a, const ZipSubfolder& b) { return a.Name < b.Name; });
  std::sort(plan.OtherFileSystems.begin(), plan.OtherFileSystems.end());
  return FinishPlan(plan, topFd);
}

ZipResult FolderZipper::PlanFiles(const std::string& folderPath, const std::vector<std::string>& names,
                                  ZipPlan& plan) {
  DirReader reader;
  if (ZipResult opened = OpenForPlan(folderPath, plan, reader, true); opened.Outcome != ZipOutcome::Done)
    return opened;
  const int dirFd = reader.Fd();
  DirEntry entry;
  while (reader.Next(entry))
    if (entry.Hidden() && IsTemporaryArchiveName(entry.NameView())) plan.Temporaries.emplace_back(entry.Name);
  for (const std::string& name : names) {
    // Relative, without "." or ".." parts, and through real folders only (no links).
    bool sound = !name.empty() && name.front() != '/' && name.back() != '/';
    struct stat st {};
    for (std::size_t start = 0; sound && start <= name.size();) {
      std::size_t end = name.find('/', start);
      if (end == std::string::npos) end = name.size();
      const std::string part = name.substr(start, end - start);
      sound = !part.empty() && part != "." && part != ".." &&
              ::fstatat(dirFd, name.substr(0, end).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
              (end == name.size() ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode));
      start = end + 1;
    }
    if (!sound)
      return Refuse("The file " + plan.Folder + name + " is not an ordinary file below the folder." +
                    kNothingChanged);
    AddToPlan(plan, name, st);
  }
  return FinishPlan(plan, dirFd);
}

// The checks every plan ends with: files to zip, a folder that can be written, room for
// the archive, disk space to gain; then the archive's name.
ZipResult FolderZipper::FinishPlan(ZipPlan& plan, int dirFd) {
  // A run killed while a file was on its way to the trash left its record behind.
  for (const std::string& trash : TrashFoldersFor(plan.Folder, *options_.HomeTrash))
    plan.StaleRecords += RemoveOrphanRecords(trash);
  std::sort(plan.Members.begin(), plan.Members.end(),
            [](const ZipMember& a, const ZipMember& b) { return a.Name < b.Name; });
  std::sort(plan.WithMetadata.begin(), plan.WithMetadata.end());
  // Where files may share extents (reflinked copies, snapshots), what each shares stays
  // when it goes. A figure only: the run asks again of the file it reads.
  struct stat folder {};
  if (::fstat(dirFd, &folder) == 0) {
    const MountFacts mount = MountFactsOfFolder(static_cast<std::uint64_t>(folder.st_dev), plan.Folder);
    plan.SharesExtents = mount.SharesExtents;
    plan.Compression = mount.Compression;
  }
  if (plan.SharesExtents) {
    // Inline data, whose sharing FIEMAP does not tell, by the estimate's rule.
    std::int64_t shared = 0, other = 0;
    std::vector<std::int64_t> inlined(plan.Members.size(), 0);
    MemberFolders folders(dirFd);
    for (std::size_t i = 0; i < plan.Members.size(); ++i) {
      if (CancelRequested) return Cancelled();
      ZipMember& m = plan.Members[i];
      UniqueFd file(folders.OpenFile(m.Name));
      if (file.Get() < 0) continue;
      const FileSharing sharing = SharingOfFile(file.Get(), m.Size);
      m.Shared = sharing.Shared;
      inlined[i] = sharing.Inline;
      AddSize(shared, sharing.Shared);
      AddSize(other, std::max<std::int64_t>(m.Allocated - sharing.Shared - sharing.Inline, 0));
    }
    plan.InlineShared = InlineTakenAsShared(shared, other);
    if (plan.InlineShared)
      for (std::size_t i = 0; i < plan.Members.size(); ++i)
        if (inlined[i] > 0) plan.Members[i].Shared = plan.Members[i].Allocated;
  }
  // Hard links are settled once every member is known: a file's names may lie anywhere in it.
  const LinkTally links = TallyLinks(plan.Members);
  plan.Allocated = links.Allocated;
  plan.SharedBlocks = links.Shared;
  plan.HardLinked = links.Elsewhere;
  plan.LinkedTogether = links.Together;
  if (plan.Members.empty())
    return Refuse(plan.Subtree
                      ? "The folder " + plan.Folder +
                            " and the folders below it have no files to zip: hidden and ignored files and "
                            "folders, archives and symbolic links are left as they are."
                      : "The folder " + plan.Folder +
                            " has no files to zip: hidden and ignored files, archives, symbolic links and subfolders are left as they are.");
  if (::faccessat(dirFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
    return Refuse("The folder " + plan.Folder + " cannot be written to (" + Errno(errno) +
                  "), so the archive cannot be made there.");
  if (std::optional<ZipResult> refused = RefuseWithoutSpace(plan, dirFd)) return *refused;
  struct statvfs volume {};
  if (::fstatvfs(dirFd, &volume) == 0 && volume.f_frsize > 0)
    plan.BlockBytes = static_cast<std::int64_t>(volume.f_frsize);
  if (plan.Allocated < plan.BlockBytes)
    return Refuse("Zipping " + plan.Folder + " would not give back any disk space: its files take " +
                  GroupedNumber(plan.Allocated) + " bytes on the disk" +
                  (plan.HardLinked > 0 ? " (" + std::to_string(plan.HardLinked) +
                                             " with hard links outside these files free nothing)"
                                       : std::string()) +
                  (plan.SharedBlocks > 0 ? " (not counting " + GroupedNumber(plan.SharedBlocks) +
                                               " bytes that other files or snapshots share)"
                                         : std::string()) +
                  ", less than one block." + kNothingChanged);
  // Refused before deflating what cannot pay: files mostly holes (sparse disk images) take
  // few blocks however large they are, and their archive cannot be smaller than deflate's
  // best, one byte for every 1,032. Where the file system compresses, the archive's disk
  // use has no such floor.
  if (!plan.Compression.Compresses()) {
    std::int64_t least = 22;  // the directory's end
    for (const ZipMember& m : plan.Members)
      least += m.Size / 1032 + 30 + 46 + 2 * static_cast<std::int64_t>(m.Name.size());  // data, two headers
    least -= least % plan.BlockBytes;  // whole blocks only: a short tail may live inline
    const std::int64_t most = plan.Allocated - least;
    if (most < plan.BlockBytes || most * 100 < plan.Allocated)
      return Refuse("Zipping " + plan.Folder + " would not give back enough disk space: its files take " +
                    GroupedNumber(plan.Allocated) + " bytes on the disk for " + GroupedNumber(plan.Bytes) +
                    " bytes of data, and however well they compress the archive would take at least " +
                    GroupedNumber(least) + " bytes; at least 1% and one block (" + GroupedNumber(plan.BlockBytes) +
                    " bytes) must come back." + kNothingChanged);
  }

  struct stat st {};
  for (int number = 1; number < 1000; ++number) {
    plan.ArchiveName = ArchiveNameFor(plan.Folder, options_.Date, number);
    if (::fstatat(dirFd, plan.ArchiveName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
      break;
  }
  ZipResult ok;
  ok.Files = static_cast<std::int64_t>(plan.Members.size());
  ok.Bytes = plan.Bytes;
  ok.ArchiveName = plan.ArchiveName;
  return ok;
}

struct FolderZipper::Work {
  Work(ZipPlan& p, int fd) : plan(p), dirFd(fd), temp(fd), folders(fd), buffer(new unsigned char[kBlock]) {}
  ZipPlan& plan;
  int dirFd;
  TempArchive temp;
  MemberFolders folders;
  FolderTrash trash;                  // prepared before anything is written
  std::set<std::string> trashedFrom;  // a subtree's folders that gave a file to the trash
  std::unique_ptr<unsigned char[]> buffer;
  ThreadLocales locales;
  std::string manifest;     // the manifest member's bytes, as written
  std::string archiveName;  // once placed
  std::vector<std::string> unreadable, unreadableWhy;  // left out of the archive (see ZipResult)
};

std::int64_t FolderZipper::TrashAbandonedTemporaries(const ZipPlan& plan, int folderFd, FolderTrash& trash) {
  std::int64_t trashed = 0;
  for (const std::string& name : plan.Temporaries) trashed += TrashIfAbandoned(folderFd, name, trash) ? 1 : 0;
  return trashed;
}

ZipResult FolderZipper::Run(ZipPlan& plan) {
  Stage = static_cast<int>(ZipStage::Reading);
  Done = 0;
  Total = std::max<std::int64_t>(1, 2 * plan.Bytes);

  UniqueFd dir(OpenFolder(plan.Folder));
  if (dir.Get() < 0)
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + ").");
  struct stat opened {};
  if (plan.FolderInode != 0 &&
      (::fstat(dir.Get(), &opened) != 0 || static_cast<std::uint64_t>(opened.st_dev) != plan.FolderDevice ||
       static_cast<std::uint64_t>(opened.st_ino) != plan.FolderInode))
    return Refuse("The folder " + plan.Folder + " was moved or replaced since it was looked at." +
                  kNothingChanged);
  // One run at a time in a folder, zip or undo: held until this run ends.
  std::string busy;
  const std::optional<FolderLock> lock = FolderLock::Take(dir.Get(), &busy);
  if (!lock) return Refuse("The folder " + QuotedName(plan.Folder) + " " + busy + "." + kNothingChanged);
  if (std::optional<ZipResult> refused = RefuseWithoutSpace(plan, dir.Get())) return *refused;
  Work work(plan, dir.Get());
  if (!work.locales.Usable())
    return Fail("The C.UTF-8 locale is missing; names could not be written faithfully.");
  if (ZipResult usable = PrepareTrash(plan, work.dirFd, work.trash); usable.Outcome != ZipOutcome::Done) return usable;
  // The user said yes: now leftovers of earlier runs may go.
  TrashAbandonedTemporaries(plan, work.dirFd, work.trash);
  if (!work.temp.Create(plan.ArchiveName))
    return Refuse("The folder " + plan.Folder + " cannot be written to (" + Errno(errno) + ").");

  if (options_.AtStage) options_.AtStage(ZipStage::Reading);
  ZipResult step = WriteArchive(work);
  if (step.Outcome == ZipOutcome::Done && plan.Members.empty())
    step = Refuse("No file of " + plan.Folder + " could be read (" + work.unreadable.front() + ": " +
                  work.unreadableWhy.front() + ")." + kNothingChanged);
  if (step.Outcome == ZipOutcome::Done) step = VerifyArchive(work);
  if (step.Outcome == ZipOutcome::Done) step = RefuseWithoutGain(work);
  if (step.Outcome == ZipOutcome::Done && CancelRequested) step = Cancelled();
  if (step.Outcome == ZipOutcome::Done) step = PlaceArchive(work);
  if (step.Outcome != ZipOutcome::Done) return step;  // the temporary archive goes with work

  ZipResult result;
  result.ArchiveName = work.archiveName;
  result.WithMetadata = plan.WithMetadata;
  result.Unreadable = work.unreadable;
  result.UnreadableWhy = work.unreadableWhy;
  // Its blocks past the end were given back when it was written (WriteArchive).
  struct stat archiveStat {};
  if (::fstat(work.temp.Fd(), &archiveStat) == 0) {
    result.ArchiveBytes = archiveStat.st_size;
    result.ArchiveAllocated = static_cast<std::int64_t>(archiveStat.st_blocks) * 512;
  }
  result.Files = static_cast<std::int64_t>(plan.Members.size());
  for (const ZipMember& m : plan.Members) result.Bytes += m.Size;
  result.Subtree = plan.Subtree;
  result.Folders = plan.Folders;
  result.OtherFileSystems = plan.OtherFileSystems;
  TrashOriginals(work, result);
  if (plan.Subtree) RemoveEmptiedFolders(work, result);
  return result;
}

// Every member is first deflated (empty ones stored). The writer is unbuffered and its
// output counted, so each member's compressed size is known as it is written; if any did
// not shrink, the archive is written once more with those members stored. Most folders
// worth zipping compress throughout and are read and deflated only once.
ZipResult FolderZipper::WriteArchive(Work& work) {
  ZipPlan& plan = work.plan;
  const int out = work.temp.Fd();
  unsigned char* buffer = work.buffer.get();
  for (ZipMember& m : plan.Members) m.Stored = m.Size == 0;
  // Whether each member was read once already: read again, it must be what was read.
  std::vector<char> taken(plan.Members.size(), 0);
  for (int pass = 1;; ++pass) {
    if (pass > 1) {
      if (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
        return Fail("The archive could not be written (" + Errno(errno) + ")." + kNothingChanged);
      Total += plan.Bytes;
    }
    CountingSink sink{out, 0, 0};
    ArchiveWriter writer;
    archive* a = writer.a;
    if (!a || ::archive_write_set_format_zip(a) != ARCHIVE_OK ||
        ::archive_write_set_bytes_per_block(a, 0) != ARCHIVE_OK ||
        ::archive_write_open(a, &sink, nullptr, &CountingSink::Write, nullptr) != ARCHIVE_OK)
      return Fail("The archive could not be started: " + LibError(a) + "." + kNothingChanged);
    // The sink's own error (ENOSPC, EIO) is the real cause when a write fails.
    auto writeError = [&] {
      return Fail("The archive could not be written: " +
                  (sink.error != 0 ? Errno(sink.error) : LibError(a)) + "." + kNothingChanged);
    };
    // A file that cannot be opened or read stays where it is, out of the archive, named
    // with the cause; the others are zipped.
    auto leaveOut = [&](std::size_t i, std::string why) {
      work.unreadable.push_back(plan.Members[i].Name);
      work.unreadableWhy.push_back(std::move(why));
      plan.Bytes -= plan.Members[i].Size;
      plan.Members.erase(plan.Members.begin() + static_cast<std::ptrdiff_t>(i));
      taken.erase(taken.begin() + static_cast<std::ptrdiff_t>(i));
    };

    bool rewrite = false;
    bool restart = false;  // a read failed with part of the file written: written again without it
    for (std::size_t i = 0; i < plan.Members.size() && !restart;) {
      ZipMember& m = plan.Members[i];
      if (CancelRequested) return Cancelled();
      if (options_.BeforeRead) options_.BeforeRead(m);
      const std::string shown = plan.Folder + m.Name;
      UniqueFd file(work.folders.OpenFile(m.Name));
      if (file.Get() < 0) {
        leaveOut(i, Errno(errno));
        continue;
      }
      struct stat before {};
      if (::fstat(file.Get(), &before) != 0 || !S_ISREG(before.st_mode)) {
        leaveOut(i, "it is no longer an ordinary file");
        continue;
      }
      const bool readBefore = taken[i] != 0;
      if (!readBefore) {
        // From here on the file is taken as it is now; the trash checks against this.
        TakeStat(m, before);
        if (plan.SharesExtents || plan.Compression.Compresses()) {
          const FileSharing sharing = SharingOfFile(file.Get(), m.Size, plan.Compression);
          m.Shared = plan.InlineShared && sharing.Inline > 0 ? m.Allocated : sharing.Shared;
          m.FsSaved = sharing.FsSaved;  // nothing of it counts where all is shared
        }
        m.Stored = m.Size == 0;
      } else if (!StillAsTaken(m, before)) {
        return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);
      }

      // The zip writer's "compression" option can only be set before the archive opens;
      // these two calls are its way of choosing between entries.
      if ((m.Stored ? ::archive_write_zip_set_compression_store(a)
                    : ::archive_write_zip_set_compression_deflate(a)) != ARCHIVE_OK)
        return writeError();
      Entry entry;
      ::archive_entry_copy_pathname(entry.e, m.Name.c_str());
      ::archive_entry_set_filetype(entry.e, AE_IFREG);
      ::archive_entry_set_perm(entry.e, static_cast<mode_t>(m.Mode));
      ::archive_entry_set_size(entry.e, m.Size);
      ::archive_entry_set_mtime(entry.e, static_cast<time_t>(m.MtimeSec), static_cast<long>(m.MtimeNsec));
      ::archive_entry_set_uid(entry.e, m.Uid);
      ::archive_entry_set_gid(entry.e, m.Gid);
      work.locales.UseUtf8(IsValidUtf8(m.Name));
      if (::archive_write_header(a, entry.e) != ARCHIVE_OK || sink.error != 0) return writeError();
      const std::int64_t dataStart = sink.written;

      std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
      std::int64_t copied = 0;
      for (;;) {
        if (CancelRequested) return Cancelled();
        const ssize_t n = ::pread(file.Get(), buffer, kBlock, copied);
        if (n < 0) {
          leaveOut(i, Errno(errno));
          restart = true;
          break;
        }
        if (n == 0) break;
        if (copied + n > m.Size)
          return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);
        crc = static_cast<std::uint32_t>(::crc32(crc, buffer, static_cast<uInt>(n)));
        if (::archive_write_data(a, buffer, static_cast<std::size_t>(n)) != n || sink.error != 0) return writeError();
        copied += n;
        Done += n;
      }
      if (restart) break;
      if (::archive_write_finish_entry(a) != ARCHIVE_OK || sink.error != 0) return writeError();
      struct stat after {};
      // m holds what before showed (taken from it, or checked against it); the inode
      // cannot differ through the same descriptor.
      if (copied != m.Size || ::fstat(file.Get(), &after) != 0 || !StillAsTaken(m, after) ||
          (readBefore && crc != m.Crc))
        return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);
      m.Crc = crc;
      m.Packed = sink.written - dataStart - DataDescriptorBytes(m.Size, m.Stored);
      if (!readBefore && !m.Stored && m.Packed >= m.Size) {
        m.Stored = true;  // deflate did not shrink it
        rewrite = true;
      }
      taken[i] = 1;
      ++i;
    }
    if (restart) continue;
    // The manifest last: what undo will check the originals against.
    ZipManifest manifest;
    manifest.Folder = plan.Folder;
    for (const ZipSubfolder& f : plan.Subfolders) manifest.Subfolders.push_back({f.Name, f.Mode});
    for (const ZipMember& m : plan.Members) manifest.Members.push_back({m.Name, m.Size, m.Crc});
    work.manifest = ManifestText(manifest);
    Entry entry;
    ::archive_entry_copy_pathname(entry.e, kManifestName);
    ::archive_entry_set_filetype(entry.e, AE_IFREG);
    ::archive_entry_set_perm(entry.e, 0644);
    ::archive_entry_set_size(entry.e, static_cast<la_int64_t>(work.manifest.size()));
    ::archive_entry_set_mtime(entry.e, std::time(nullptr), 0);
    work.locales.UseUtf8(false);
    if (::archive_write_zip_set_compression_deflate(a) != ARCHIVE_OK ||
        ::archive_write_header(a, entry.e) != ARCHIVE_OK ||
        ::archive_write_data(a, work.manifest.data(), work.manifest.size()) !=
            static_cast<la_ssize_t>(work.manifest.size()) ||
        ::archive_write_finish_entry(a) != ARCHIVE_OK)
      return writeError();
    if (::archive_write_close(a) != ARCHIVE_OK || sink.error != 0) return writeError();
    if (!rewrite) break;
  }
  // Blocks the file system reserved past the end while the archive grew (XFS does so
  // generously) are given back, so that its disk use is what it keeps.
  const off_t end = ::lseek(out, 0, SEEK_CUR);
  if (end < 0 || ::ftruncate(out, end) != 0)
    return Fail("The archive could not be written (" + Errno(errno) + ")." + kNothingChanged);
  if (::fsync(out) != 0)
    return Fail("The archive could not be written to disk (" + Errno(errno) + ")." + kNothingChanged);
  return ZipResult{};
}

// The archive is read back from the disk: its directory must name every member by its
// file's exact bytes, in the order written, and the library must give back each member's
// size and CRC as they were read from the file.
ZipResult FolderZipper::VerifyArchive(Work& work) {
  Stage = static_cast<int>(ZipStage::Verifying);
  if (options_.AtStage) options_.AtStage(ZipStage::Verifying);
  const ZipPlan& plan = work.plan;
  const std::string mismatch = "The archive read back does not match the files";
  UniqueFd back(::openat(work.dirFd, work.temp.Name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (back.Get() < 0)
    return Fail("The archive could not be read back (" + Errno(errno) + ")." + kNothingChanged);

  std::string why;
  const std::optional<std::vector<std::string>> names = CentralDirectoryNames(back.Get(), &why);
  if (!names) return Fail(mismatch + " (" + why + ")." + kNothingChanged);
  if (names->size() != plan.Members.size() + 1 || names->back() != kManifestName)
    return Fail(mismatch + " (it holds " + std::to_string(names->size()) + " members, not " +
                std::to_string(plan.Members.size() + 1) + ")." + kNothingChanged);
  for (std::size_t i = 0; i < plan.Members.size(); ++i)
    if ((*names)[i] != plan.Members[i].Name)
      return Fail(mismatch + " (the name of " + plan.Members[i].Name + ")." + kNothingChanged);

  // The library may spell names differently (slashes for backslashes, composed accents);
  // the names are proved above, so members are matched by their order here.
  work.locales.UseUtf8(true);
  ArchiveReader reader;
  archive* r = reader.a;
  if (!r || ::archive_read_support_format_zip(r) != ARCHIVE_OK ||
      ::archive_read_open_fd(r, back.Get(), 64 * 1024) != ARCHIVE_OK)
    return Fail("The archive could not be read back: " + LibError(r) + "." + kNothingChanged);
  archive_entry* e = nullptr;
  std::size_t index = 0;
  int rc;
  while ((rc = ::archive_read_next_header(r, &e)) == ARCHIVE_OK) {
    if (index == plan.Members.size()) {  // the manifest
      std::string text;
      la_ssize_t n;
      while ((n = ::archive_read_data(r, work.buffer.get(), kBlock)) > 0 && text.size() <= work.manifest.size())
        text.append(reinterpret_cast<const char*>(work.buffer.get()), static_cast<std::size_t>(n));
      if (n < 0 || text != work.manifest)
        return Fail(mismatch + " (its manifest)." + kNothingChanged);
      ++index;
      continue;
    }
    if (index > plan.Members.size())
      return Fail(mismatch + " (a member that was not written)." + kNothingChanged);
    const ZipMember& m = plan.Members[index++];
    if (!::archive_entry_size_is_set(e) || ::archive_entry_size(e) != m.Size)
      return Fail(mismatch + " (the size of " + m.Name + ")." + kNothingChanged);
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
    std::int64_t size = 0;
    for (;;) {
      if (CancelRequested) return Cancelled();
      const la_ssize_t n = ::archive_read_data(r, work.buffer.get(), kBlock);
      if (n < 0) return Fail(mismatch + " (" + m.Name + ": " + LibError(r) + ")." + kNothingChanged);
      if (n == 0) break;
      crc = static_cast<std::uint32_t>(::crc32(crc, work.buffer.get(), static_cast<uInt>(n)));
      size += n;
      Done += n;
    }
    if (size != m.Size || crc != m.Crc)
      return Fail(mismatch + " (the contents of " + m.Name + ")." + kNothingChanged);
  }
  if (rc != ARCHIVE_EOF)
    return Fail("The archive could not be read back: " + LibError(r) + "." + kNothingChanged);
  if (index != plan.Members.size() + 1) return Fail(mismatch + " (a member is missing)." + kNothingChanged);
  return ZipResult{};
}

// Zipping that gives back less than 1% of the files' disk space, or less than one block,
// is not worth the risk of the originals going to the trash: refused, nothing kept.
ZipResult FolderZipper::RefuseWithoutGain(Work& work) {
  const ZipPlan& plan = work.plan;
  struct stat st {};  // nothing reserved past its end by now (WriteArchive)
  if (::fstat(work.temp.Fd(), &st) != 0)
    return Fail("The archive could not be read back (" + Errno(errno) + ")." + kNothingChanged);
  const std::int64_t archive = static_cast<std::int64_t>(st.st_blocks) * 512;
  const LinkTally links = TallyLinks(plan.Members);  // as the files were read
  const std::int64_t held = links.Allocated;
  const std::int64_t gain = held - archive;
  if (gain >= plan.BlockBytes && gain * 100 >= held) return ZipResult{};
  std::string text = "Zipping " + plan.Folder + " would not give back enough disk space: its files take " +
                     GroupedNumber(held) + " bytes";
  if (links.FsSaved > 0) text += " as the file system stores them compressed";
  if (links.Elsewhere > 0)
    text += " (not counting " + std::to_string(links.Elsewhere) +
            " with hard links outside these files, which free nothing)";
  if (links.Shared > 0)
    text += " (not counting " + GroupedNumber(links.Shared) +
            " bytes that other files or snapshots share, which stay in use)";
  text += ", the archive would take " + GroupedNumber(archive) +
          " bytes; at least 1% and one block (" + GroupedNumber(plan.BlockBytes) +
          " bytes) must come back." + kNothingChanged;
  return Refuse(text);
}

// The first free name, never replacing a file.
ZipResult FolderZipper::PlaceArchive(Work& work) {
  const ZipPlan& plan = work.plan;
  for (int number = 1;; ++number) {
    const std::string name = ArchiveNameFor(plan.Folder, options_.Date, number);
    if (PlaceWithoutReplacing(work.dirFd, work.temp.Name(), name)) {
      work.temp.Placed();
      work.archiveName = name;
      ::fsync(work.dirFd);
      return ZipResult{};
    }
    if (errno != EEXIST || number >= 1000)
      return Fail("The archive could not be given its name in " + plan.Folder + " (" + Errno(errno) +
                  ")." + kNothingChanged);
  }
}

// Where the originals cannot go (no trash to be had, or files whose idleness nothing can
// prove), nothing is written: the run would only add an archive.
ZipResult FolderZipper::PrepareTrash(const ZipPlan& plan, int folderFd, FolderTrash& trash) const {
  if (const std::optional<std::string> kind = SharedFileSystemKind(folderFd))
    return Refuse("The folder " + plan.Folder + " is on a " + *kind +
                  " file system, where nothing on this computer can tell whether another computer or program is "
                  "writing a file, so no original could go to the trash." + kNothingChanged);
  std::string why;
  if (!trash.Prepare(folderFd, *options_.HomeTrash, &why))
    return Refuse("The originals of " + plan.Folder + " could not go to the trash: " + why + "." + kNothingChanged);
  return ZipResult{};
}

ZipResult FolderZipper::CheckTrash(const ZipPlan& plan, int folderFd) const {
  FolderTrash trash;
  return PrepareTrash(plan, folderFd, trash);
}

void FolderZipper::TrashOriginals(Work& work, ZipResult& result) {
  Stage = static_cast<int>(ZipStage::Trashing);
  Done = 0;
  Total = static_cast<std::int64_t>(work.plan.Members.size());
  if (options_.AtStage) options_.AtStage(ZipStage::Trashing);
  if (options_.BeforeTrash) options_.BeforeTrash();
  TrashStage stage{work.plan, work.dirFd, work.trash, options_, CancelRequested, Done, work.buffer.get(), kBlock,
                   {}, {}};
  stage.Run(result);
  work.trashedFrom = std::move(stage.TrashedFrom);
  // Blocks come back only for the files whose every name went.
  const LinkTally links = TallyLinks(stage.Trashed);
  result.TrashedHeld = links.Elsewhere;
  result.TrashedShared = links.Shared;
  result.FreedEstimated = links.FsSaved > 0;
  result.Freed = links.Allocated - result.ArchiveAllocated;
}

// A subfolder whose files all went and that holds nothing else (no hidden or ignored file,
// no folder of its own) is removed, deepest first, so that its parent may be left empty in
// turn; undo makes it again from the manifest. The kernel's rmdir refuses a folder with
// anything in it, so nothing but an empty folder can go.
void FolderZipper::RemoveEmptiedFolders(Work& work, ZipResult& result) {
  std::set<std::string>& emptied = work.trashedFrom;
  // Sorted by name, a folder stands after its parent: backwards, children come first.
  for (auto it = work.plan.Subfolders.rbegin(); it != work.plan.Subfolders.rend(); ++it) {
    const ZipSubfolder& f = *it;
    if (!emptied.count(f.Name)) continue;
    const std::size_t slash = f.Name.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : f.Name.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? f.Name : f.Name.substr(slash + 1);
    UniqueFd parentFd(parent.empty() ? ::fcntl(work.dirFd, F_DUPFD_CLOEXEC, 0) : OpenFolderBelow(work.dirFd, parent));
    struct stat st {};
    if (parentFd.Get() < 0 || ::fstatat(parentFd.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode) || static_cast<std::uint64_t>(st.st_ino) != f.Inode ||
        static_cast<std::uint64_t>(st.st_dev) != f.Device)
      continue;  // not the folder that was planned
    if (::unlinkat(parentFd.Get(), leaf.c_str(), AT_REMOVEDIR) != 0) continue;  // not empty
    ++result.FoldersRemoved;
    if (!parent.empty()) emptied.insert(parent);
  }
  if (result.FoldersRemoved > 0) ::fsync(work.dirFd);
}

std::vector<std::string> RecordedSubfolders(const std::string& folderPath, const ScanRules& rules) {
  FolderList folders;
  SilentScanObserver quiet;
  Scanner scanner(folders, rules, quiet);
  scanner.FindFolders(AbsoluteFolderPath(folderPath));
  std::vector<std::string> paths;
  for (std::int64_t i = 1; i < folders.Count(); ++i) paths.push_back(folders[i].Path());
  return paths;
}

}  // namespace orbelan
