#include "archive/zip_undo.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "archive/folder_lock.h"
#include "archive/zip_directory.h"
#include "platform/open_beneath.h"
#include "platform/quoted_name.h"
#include "platform/trash.h"
#include "platform/trash_orphans.h"

namespace orbelan {
namespace {

constexpr std::int64_t kManifestMost = 256 << 20;
// Trash records removed in one go, once the folders their files went back to are on the
// disk: a kill leaves every file either back with a record to spare, or in the trash with
// the record that restores it, never without one.
constexpr std::size_t kRecordBatch = 256;
constexpr const char* kLinkOnTheWay = "a link now stands on the way to its place";

// A descriptor closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  bool Ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

struct FileId {
  dev_t Device = 0;
  ino_t Inode = 0;
  bool operator<(const FileId& other) const {
    return Device != other.Device ? Device < other.Device : Inode < other.Inode;
  }
  bool operator==(const FileId& other) const { return Device == other.Device && Inode == other.Inode; }
};

FileId IdOf(const struct stat& st) { return FileId{st.st_dev, st.st_ino}; }

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Cause(int error) { return std::strerror(error); }

// The folders on the way to a member's place ("a", "b" for "a/b/file") and its leaf.
std::vector<std::string> FoldersOnTheWay(const std::string& name, std::string& leaf) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', start)) {
    parts.push_back(name.substr(start, slash - start));
    start = slash + 1;
  }
  leaf = name.substr(start);
  return parts;
}

// A member name undo may write: relative, no empty, "." or ".." parts, no NUL. Subfolders
// only when the archive is of a subtree.
bool AcceptableName(const std::string& name, bool subtree) {
  if (name.empty() || name.front() == '/' || name.back() == '/' || name.find('\0') != std::string::npos)
    return false;
  if (!subtree && name.find('/') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return name != kManifestName;
}

// Whether a link stands between the folder and the member's place now. A folder missing on
// the way (the zip removed it; it is made again) or a file standing there (the member then
// stays) is no link.
bool LinkOnTheWay(int folderFd, const std::string& name) {
  std::string leaf;
  Fd held;
  int at = folderFd;
  for (const std::string& part : FoldersOnTheWay(name, leaf)) {
    struct stat st {};
    if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    if (!S_ISDIR(st.st_mode)) return false;
    Fd next(OpenBeneath(at, part, O_PATH | O_DIRECTORY));
    if (!next.Ok()) return errno == ELOOP || errno == ENOTDIR;
    held = std::move(next);
    at = held.Get();
  }
  return false;
}

// The CRC-32 and size of the file name in the folder open at dirFd, read without following
// a link, and its fstat; false when it is unreadable or no ordinary file.
bool ChecksumAt(int dirFd, const std::string& name, std::int64_t& size, std::uint32_t& crc, struct stat& st) {
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  size = 0;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[64 * 1024]);
  while (ok) {
    const ssize_t n = ::read(fd, buffer.get(), 64 * 1024);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    crc = static_cast<std::uint32_t>(::crc32(crc, buffer.get(), static_cast<uInt>(n)));
    size += n;
  }
  ::close(fd);
  return ok;
}

bool IsMember(int dirFd, const std::string& name, const ManifestMember& m, struct stat& st) {
  std::int64_t size = 0;
  std::uint32_t crc = 0;
  return ChecksumAt(dirFd, name, size, crc, st) && size == m.Size && crc == m.Crc;
}

// The trash entries whose records name a path under folder, by that path. Records of ours
// that a killed zip or undo left without their file go first: listed, they would look like
// files still to put back.
std::multimap<std::string, TrashEntry> EntriesUnder(const std::string& folder, const std::string& homeTrash) {
  std::multimap<std::string, TrashEntry> found;
  for (const std::string& trash : TrashFoldersFor(folder, homeTrash)) {
    RemoveOrphanRecords(trash);
    DIR* dir = ::opendir((trash + "/info").c_str());
    if (!dir) continue;
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      static const std::string suffix = ".trashinfo";
      if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
      name.resize(name.size() - suffix.size());
      const std::optional<std::string> original = ReadTrashRecord(trash, name, nullptr);
      if (original && original->starts_with(folder)) found.emplace(*original, TrashEntry{trash, name, *original});
    }
    ::closedir(dir);
  }
  return found;
}

// The folder that holds name beneath the folder open at folderFd, opened without links.
Fd OpenFolderHolding(int folderFd, const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return Fd(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
  return Fd(OpenBeneath(folderFd, name.substr(0, slash), O_PATH | O_DIRECTORY));
}

// A trash's files/ and info/ folders, held open for the moves out of it.
struct TrashFolders {
  Fd Files;
  Fd Info;
};

// A folder undo made again: its name, the permissions to give it once its files are back,
// and which folder it is, so that only that folder gets them.
struct MadeFolder {
  std::string Name;
  std::uint32_t Mode = 0755;
  FileId Id;
};

// Opens the folder of a member's place beneath the archive's folder, one folder at a time
// and through no link, making the folders the zip removed (owner-writable until their
// files are back; each is added to made). On failure returns no descriptor and either sets
// taken (a file stands on the way: the place is taken) or says why.
Fd OpenFolderOfPlace(int folderFd, const std::string& name, const std::map<std::string, std::uint32_t>& modes,
                     std::vector<MadeFolder>& made, bool& taken, std::string& why) {
  std::string leaf;
  const std::vector<std::string> parts = FoldersOnTheWay(name, leaf);
  if (parts.empty()) return OpenFolderHolding(folderFd, name);
  Fd held;
  int at = folderFd;
  std::string sofar;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    sofar += (i > 0 ? "/" : "") + part;
    bool madeNow = false;
    struct stat st {};
    if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || ::mkdirat(at, part.c_str(), 0700) != 0) {
        why = "its folder could not be made again (" + Cause(errno) + ")";
        return Fd();
      }
      madeNow = true;
    }
    // The last folder is opened for reading too, so that it can be flushed to the disk.
    const bool last = i + 1 == parts.size();
    Fd next(OpenBeneath(at, part, last ? O_RDONLY | O_DIRECTORY : O_PATH | O_DIRECTORY));
    if (!next.Ok() && last && errno == EACCES) next = Fd(OpenBeneath(at, part, O_PATH | O_DIRECTORY));
    if (!next.Ok()) {
      const int error = errno;
      if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        why = kLinkOnTheWay;
      else if (error == ENOTDIR)
        taken = true;
      else
        why = "its folder could not be opened (" + Cause(error) + ")";
      return Fd();
    }
    if (madeNow && ::fstat(next.Get(), &st) == 0) {
      const auto known = modes.find(sofar);
      made.push_back(MadeFolder{sofar, known == modes.end() ? 0755u : known->second, IdOf(st)});
    }
    held = std::move(next);
    at = held.Get();
  }
  return held;
}

// Moves name out of the trash's files/ into the place's folder, never over anything:
// renameat2 with RENAME_NOREPLACE, else (a file system without it) a hard link and an
// unlink, which refuse to replace just the same. 0, or the error.
int MoveBack(int filesFd, const std::string& name, int placeFd, const std::string& leaf) {
  if (::renameat2(filesFd, name.c_str(), placeFd, leaf.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(filesFd, name.c_str(), placeFd, leaf.c_str(), 0) != 0) return errno;
  if (::unlinkat(filesFd, name.c_str(), 0) != 0) {
    const int error = errno;
    ::unlinkat(placeFd, leaf.c_str(), 0);
    return error;
  }
  return 0;
}

std::optional<std::string> ReadLastMember(int fd, std::size_t index, std::string* error) {
  archive* a = ::archive_read_new();
  ::archive_read_support_format_zip_seekable(a);
  std::optional<std::string> text;
  if (::lseek(fd, 0, SEEK_SET) == 0 && ::archive_read_open_fd(a, fd, 64 * 1024) == ARCHIVE_OK) {
    archive_entry* e = nullptr;
    // A warning is a name the locale cannot spell; only the manifest's bytes matter here.
    for (std::size_t i = 0; ::archive_read_next_header(a, &e) >= ARCHIVE_WARN; ++i) {
      if (i != index) continue;
      if (::archive_entry_size(e) > kManifestMost) break;
      std::string bytes;
      char buffer[16384];
      la_ssize_t n;
      while ((n = ::archive_read_data(a, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) text = std::move(bytes);
      break;
    }
  }
  if (!text && error) *error = "its manifest could not be read";
  ::archive_read_free(a);
  return text;
}

// The manifest of the archive open at fd (shown: its path, for the reasons).
std::optional<ZipManifest> ReadManifestAt(int fd, const std::string& shown, std::string* error) {
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const std::optional<std::vector<std::string>> names = regular ? CentralDirectoryNames(fd, nullptr) : std::nullopt;
  if (!names || names->empty() || names->back() != kManifestName) {
    if (error) *error = QuotedName(shown) + " is not an archive Orbelan made";
    return std::nullopt;
  }
  const std::optional<std::string> text = ReadLastMember(fd, names->size() - 1, error);
  if (!text) return std::nullopt;
  return ParseManifest(*text, error);
}

// The real path of the folder open at fd, named path by the caller: nullopt when the name
// no longer leads to that folder.
std::optional<std::string> RealFolder(int fd, const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string text = real;
  std::free(real);
  struct stat named {}, held {};
  if (::stat(text.c_str(), &named) != 0 || ::fstat(fd, &held) != 0 || !(IdOf(named) == IdOf(held)))
    return std::nullopt;
  return text == "/" ? text : text + "/";
}


// Another path to this very folder (it was zipped through a link): the trash records
// may name places by that path. Another folder: the archive was moved since it was made,
// and the records name the old folder. Only places in the archive's own folder are ever
// written; files recorded for the old one are named. Returns the other path to this folder,
// or sets madeIn to the old folder.
std::string AliasOrMadeIn(int folderFd, const std::string& folder, const std::string& zippedIn, std::string& madeIn) {
  std::string alias;
  if (zippedIn != folder) {
    struct stat there {}, here {};
    if (::stat(zippedIn.c_str(), &there) == 0 && ::fstat(folderFd, &here) == 0 && IdOf(there) == IdOf(here))
      alias = zippedIn;
    else
      madeIn = zippedIn;
  }
  return alias;
}

// Whether the zip took in subfolders' files: then member names may hold slashes.
bool IsSubtree(const ZipManifest& manifest) {
  bool subtree = false;
  for (const ManifestMember& m : manifest.Members) subtree = subtree || m.Name.find('/') != std::string::npos;
  return subtree || !manifest.Subfolders.empty();
}

// Gathers the permissions of the folders the zip removed into modes, by name. The first
// name in the manifest that leads outside the folder, if any.
std::optional<std::string> PlaceOutside(int folderFd, const ZipManifest& manifest, bool subtree,
                                        std::map<std::string, std::uint32_t>& modes) {
  for (const ManifestFolder& f : manifest.Subfolders) {
    if (!AcceptableName(f.Name, true)) return f.Name;
    modes[f.Name] = f.Mode & 0777;  // no set-id bits from an untrusted manifest
  }
  for (const ManifestMember& m : manifest.Members)
    if (!AcceptableName(m.Name, subtree) || LinkOnTheWay(folderFd, m.Name)) return m.Name;
  return std::nullopt;
}

// Puts an archive's members back from the trash one at a time, into the archive's folder
// held at folderFd, and counts in result what became of each.
class MemberRestorer {
 public:
  MemberRestorer(int folderFd, const std::string& folder, const std::string& alias,
                 const std::map<std::string, std::uint32_t>& modes, std::multimap<std::string, TrashEntry>& entries,
                 std::multimap<std::string, TrashEntry>& elsewhere, const UndoOptions& options,
                 std::vector<MadeFolder>& made, UndoResult& result)
      : folderFd_(folderFd), folder_(folder), alias_(alias), modes_(modes), entries_(entries),
        elsewhere_(elsewhere), options_(options), made_(made), result_(result) {}

  void Restore(const ManifestMember& m);

  void Flush() {
    for (const Fd& place : placesToFlush_) ::fsync(place.Get());
    placesToFlush_.clear();
    placesHeld_.clear();
    std::set<int> infos;
    for (const auto& [infoFd, record] : records_) {
      ::unlinkat(infoFd, record.c_str(), 0);
      infos.insert(infoFd);
    }
    for (const int info : infos) ::fsync(info);
    records_.clear();
  }

  // Files put back under more than one name: each such name counts.
  std::int64_t Relinked() const {
    std::int64_t relinked = 0;
    for (const auto& [file, names] : restoredFiles_)
      if (names > 1) relinked += names;
    return relinked;
  }

 private:
  TrashFolders& FoldersOf(const std::string& trash) {
    auto it = trashes_.find(trash);
    if (it == trashes_.end()) {
      TrashFolders opened;
      opened.Files = Fd(::open((trash + "/files").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      opened.Info = Fd(::open((trash + "/info").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      it = trashes_.emplace(trash, std::move(opened)).first;
    }
    return it->second;
  }

  // The trash entry among [first, last) that holds the member's bytes, and which file it is.
  template <typename It>
  std::optional<TrashEntry> Holding(It first, It last, const ManifestMember& m, FileId& id) {
    for (auto it = first; it != last; ++it) {
      const TrashFolders& trash = FoldersOf(it->second.Trash);
      struct stat seen {};
      if (trash.Files.Ok() && trash.Info.Ok() && IsMember(trash.Files.Get(), it->second.Name, m, seen)) {
        id = IdOf(seen);
        return it->second;
      }
    }
    return std::nullopt;
  }

  void NotRestored(const std::string& name, const std::string& cause) {
    result_.NotRestored.push_back(name);
    result_.NotRestoredWhy.push_back(cause);
  }

  void MoveBackChecked(const ManifestMember& m, const std::string& leaf, const TrashEntry& chosen,
                       const FileId& checked, const Fd& place);

  const int folderFd_;
  const std::string& folder_;
  const std::string& alias_;
  const std::map<std::string, std::uint32_t>& modes_;
  std::multimap<std::string, TrashEntry>& entries_;
  std::multimap<std::string, TrashEntry>& elsewhere_;
  const UndoOptions& options_;
  std::vector<MadeFolder>& made_;
  UndoResult& result_;
  std::map<std::string, TrashFolders> trashes_;
  // Records of the files back, removed once the folders they went to are on the disk.
  std::vector<std::pair<int, std::string>> records_;
  std::vector<Fd> placesToFlush_;
  std::set<FileId> placesHeld_;
  std::map<FileId, std::int64_t> restoredFiles_;  // names put back, by file
};

void MemberRestorer::Restore(const ManifestMember& m) {
  struct stat st {};
  std::string leaf;
  FoldersOnTheWay(m.Name, leaf);
  // A file that never went (it was in use) and is still as zipped needs nothing. Asked
  // first: an older zip's trash may hold the same bytes under the same path, and taking
  // that entry would call the file that stayed a stranger in its own place.
  {
    const Fd at = OpenFolderHolding(folderFd_, m.Name);
    if (at.Ok() && IsMember(at.Get(), leaf, m, st)) {
      ++result_.InPlace;
      return;
    }
  }
  // The entry in the trash whose record names this place and whose bytes are the member's.
  FileId checked;
  const auto [first, last] = entries_.equal_range(folder_ + m.Name);
  std::optional<TrashEntry> chosen = Holding(first, last, m, checked);
  if (!chosen && !alias_.empty()) {
    const auto [aliasFirst, aliasLast] = entries_.equal_range(alias_ + m.Name);
    chosen = Holding(aliasFirst, aliasLast, m, checked);
  }
  if (!chosen) {
    const auto [otherFirst, otherLast] = elsewhere_.equal_range(result_.MadeIn + m.Name);
    FileId unused;
    (Holding(otherFirst, otherLast, m, unused) ? result_.RecordedElsewhere : result_.Missing).push_back(m.Name);
    return;
  }
  if (options_.BeforePlace) options_.BeforePlace(m.Name);
  bool taken = false;
  std::string why;
  const Fd place = OpenFolderOfPlace(folderFd_, m.Name, modes_, made_, taken, why);
  if (!place.Ok()) {
    if (taken) result_.Blocked.push_back(m.Name);
    else NotRestored(m.Name, why);
    return;
  }
  if (::fstatat(place.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    result_.Blocked.push_back(m.Name);
    return;
  }
  MoveBackChecked(m, leaf, *chosen, checked, place);
}

// Moves the chosen entry to the member's place, open at place and found free, and keeps
// it there only when it is the file whose bytes were checked.
void MemberRestorer::MoveBackChecked(const ManifestMember& m, const std::string& leaf, const TrashEntry& chosen,
                                     const FileId& checked, const Fd& place) {
  struct stat st {};
  const TrashFolders& trash = FoldersOf(chosen.Trash);
  // The record is read again: it must still name this very place.
  const std::optional<std::string> recorded = ReadTrashRecord(chosen.Trash, chosen.Name, nullptr);
  if (recorded != chosen.Original) {
    result_.Missing.push_back(m.Name);
    return;
  }
  if (const int error = MoveBack(trash.Files.Get(), chosen.Name, place.Get(), leaf); error != 0) {
    if (error == EEXIST) result_.Blocked.push_back(m.Name);
    else if (error == ENOENT) result_.Missing.push_back(m.Name);  // it left the trash meanwhile
    else NotRestored(m.Name, Cause(error));
    return;
  }
  // What arrived must be the file whose bytes were checked; anything else goes back.
  if (::fstatat(place.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !(IdOf(st) == checked)) {
    const bool returned = MoveBack(place.Get(), leaf, trash.Files.Get(), chosen.Name) == 0;
    NotRestored(m.Name, returned ? "it was replaced in the trash while being put back; the trash keeps it"
                                 : "it was replaced in the trash while being put back, and the file that came "
                                   "in its stead stands at its place");
    return;
  }
  ++result_.Restored;
  if (st.st_nlink > 1) ++restoredFiles_[checked];
  records_.emplace_back(trash.Info.Get(), chosen.Name + ".trashinfo");
  struct stat placeSt {};
  if (::fstat(place.Get(), &placeSt) == 0 && placesHeld_.insert(IdOf(placeSt)).second)
    placesToFlush_.push_back(Fd(::fcntl(place.Get(), F_DUPFD_CLOEXEC, 0)));
  if (records_.size() >= kRecordBatch) Flush();
}

// Whether some missing member has the same size and checksum as another member: its
// bytes may have been put back at that other place.
bool MissingLikeAnother(const ZipManifest& manifest, const std::vector<std::string>& missingNames) {
  std::map<std::pair<std::int64_t, std::uint32_t>, int> contents;
  for (const ManifestMember& m : manifest.Members)
    if (m.Size > 0) ++contents[{m.Size, m.Crc}];
  const std::set<std::string> missing(missingNames.begin(), missingNames.end());
  bool like = false;
  for (const ManifestMember& m : manifest.Members)
    if (m.Size > 0 && contents[{m.Size, m.Crc}] > 1 && missing.count(m.Name)) like = true;
  return like;
}

// The folders made again get their own permissions once their files are in them, the
// deepest first; when no file came back (noneBack) they go again, so that nothing was changed.
void SettleMadeFolders(int folderFd, const std::vector<MadeFolder>& made, bool noneBack) {
  struct stat st {};
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    const Fd parent = OpenFolderHolding(folderFd, it->Name);
    const std::string base = it->Name.substr(it->Name.rfind('/') + 1);
    const Fd self(parent.Ok() ? OpenBeneath(parent.Get(), base, O_RDONLY | O_DIRECTORY) : -1);
    if (!self.Ok() || ::fstat(self.Get(), &st) != 0 || !(IdOf(st) == it->Id)) continue;
    if (noneBack) ::unlinkat(parent.Get(), base.c_str(), AT_REMOVEDIR);
    else ::fchmod(self.Get(), it->Mode);
  }
}

// Trashes the archive by its path, only while that path still leads to the archive that was read.
void TrashArchive(const std::string& path, const FileId& archiveId, const UndoOptions& options,
                  UndoResult& result) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !(IdOf(st) == archiveId)) {
    result.ArchiveNotTrashedWhy = "it was moved or replaced while the files were being put back";
  } else {
    TrashEntry entry;
    result.ArchiveTrashed = options.Trash(path, &entry, &result.ArchiveNotTrashedWhy);
  }
}

}  // namespace

std::optional<ZipManifest> ReadZipManifest(const std::string& archivePath, std::string* error) {
  const int fd = ::open(archivePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = QuotedName(archivePath) + " could not be opened (" + Cause(errno) + ")";
    return std::nullopt;
  }
  std::optional<ZipManifest> manifest = ReadManifestAt(fd, archivePath, error);
  ::close(fd);
  return manifest;
}

std::optional<std::string> FindUndoableArchive(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> newest;
  struct timespec newestTime {};
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 5 || name.front() == '.' || !name.ends_with(".zip")) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (newest && (st.st_mtim.tv_sec < newestTime.tv_sec ||
                   (st.st_mtim.tv_sec == newestTime.tv_sec && st.st_mtim.tv_nsec <= newestTime.tv_nsec)))
      continue;
    const int fd = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    const bool ours = ReadManifestAt(fd, folder + name, nullptr).has_value();
    ::close(fd);
    if (!ours) continue;
    newest = name;
    newestTime = st.st_mtim;
  }
  ::closedir(dir);
  return newest;
}

UndoResult UndoZip(const std::string& archivePath, UndoOptions options) {
  UndoResult result;
  if (options.HomeTrash.empty()) options.HomeTrash = HomeTrashFolder();
  if (!options.Trash)
    options.Trash = [home = options.HomeTrash](const std::string& path, TrashEntry* entry, std::string* error) {
      return MoveToTrash(path, home, entry, error);
    };
  auto refuse = [&result](const std::string& why) {
    result.Outcome = ZipOutcome::Refused;
    result.Message = why + ". Nothing was changed.";
    return result;
  };
  if (archivePath.empty() || archivePath.front() != '/')
    return refuse("The archive must be named by its absolute path");
  const std::string archiveName = archivePath.substr(archivePath.rfind('/') + 1);
  if (archiveName.empty() || archiveName == "." || archiveName == "..")
    return refuse("The zip cannot be undone: " + QuotedName(archivePath) + " names no archive");
  // The folder as the user named it, links on the way to it included: that folder is where
  // the archive lies. From here on it is reached only through this descriptor.
  const Fd folderFd(::open(Parent(archivePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folderFd.Ok())
    return refuse("The folder of " + QuotedName(archivePath) + " could not be opened (" + Cause(errno) + ")");
  const std::optional<std::string> real = RealFolder(folderFd.Get(), Parent(archivePath));
  if (!real) return refuse("The folder of " + QuotedName(archivePath) + " changed while it was being opened");
  result.Folder = *real;
  const std::string& folder = result.Folder;
  std::string why;
  const std::optional<FolderLock> lock = FolderLock::Take(folderFd.Get(), &why);
  if (!lock) return refuse("The zip cannot be undone now: " + QuotedName(folder) + " " + why);

  const Fd archiveFd(::openat(folderFd.Get(), archiveName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!archiveFd.Ok())
    return refuse("The zip cannot be undone: " + QuotedName(archivePath) + " could not be opened (" + Cause(errno) +
                  ")");
  struct stat st {};
  if (::fstat(archiveFd.Get(), &st) != 0) return refuse("The zip cannot be undone: " + Cause(errno));
  const FileId archiveId = IdOf(st);
  const std::optional<ZipManifest> manifest = ReadManifestAt(archiveFd.Get(), archivePath, &why);
  if (!manifest) return refuse("The zip cannot be undone: " + why);
  const std::string alias = AliasOrMadeIn(folderFd.Get(), folder, manifest->Folder, result.MadeIn);

  const bool subtree = IsSubtree(*manifest);
  result.Subtree = subtree;
  std::map<std::string, std::uint32_t> modes;
  if (const std::optional<std::string> outside = PlaceOutside(folderFd.Get(), *manifest, subtree, modes))
    return refuse("The zip cannot be undone: its manifest names a place outside " + QuotedName(folder) + " (" +
                  QuotedName(*outside) + ")");
  result.Members = static_cast<std::int64_t>(manifest->Members.size());

  std::multimap<std::string, TrashEntry> entries = EntriesUnder(folder, options.HomeTrash);
  if (!alias.empty()) entries.merge(EntriesUnder(alias, options.HomeTrash));
  std::multimap<std::string, TrashEntry> elsewhere;
  if (!result.MadeIn.empty()) elsewhere = EntriesUnder(result.MadeIn, options.HomeTrash);

  std::vector<MadeFolder> made;
  MemberRestorer restorer(folderFd.Get(), folder, alias, modes, entries, elsewhere, options, made, result);
  for (const ManifestMember& m : manifest->Members) restorer.Restore(m);
  restorer.Flush();
  result.Relinked += restorer.Relinked();
  if (!result.Missing.empty() && MissingLikeAnother(*manifest, result.Missing)) result.MissingLikeAnother = true;
  const bool noneBack = result.Restored == 0 && result.InPlace < result.Members;
  SettleMadeFolders(folderFd.Get(), made, noneBack);
  result.FoldersMade = noneBack ? 0 : static_cast<std::int64_t>(made.size());
  if (noneBack) {
    result.Outcome = ZipOutcome::Refused;
    result.Message = "None of the archive's files could be put back. Nothing was changed.";
    return result;
  }
  // The archive holds the only copy of anything that did not come back: it stays then.
  if (result.Blocked.empty() && result.Missing.empty() && result.NotRestored.empty() &&
      result.RecordedElsewhere.empty())
    TrashArchive(folder + archiveName, archiveId, options, result);
  return result;
}

}  // namespace orbelan
