#include "archive/zip_undo.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "archive/zip_directory.h"
#include "platform/trash.h"

namespace orbelan {
namespace {

constexpr std::int64_t kManifestMost = 256 << 20;

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
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

// No folder between folder and the member's place is a link. One may be missing (the zip
// removed it once empty; it is made again) or be a file now (the member then stays).
bool NoLinksOnTheWay(const std::string& folder, const std::string& name) {
  std::size_t slash = name.find('/');
  while (slash != std::string::npos) {
    struct stat st {};
    if (::lstat((folder + name.substr(0, slash)).c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISLNK(st.st_mode)) return false;
    if (!S_ISDIR(st.st_mode)) return true;  // a file stands on the way now: that member stays in the trash
    slash = name.find('/', slash + 1);
  }
  return true;
}

// Makes the missing folders on the way to the member's place, owner-writable until the
// files are back (made records each with the permissions to give it then). False when one
// cannot be made or something other than a folder stands there now.
bool MakeFoldersOnTheWay(const std::string& folder, const std::string& name,
                         const std::map<std::string, std::uint32_t>& modes,
                         std::vector<std::pair<std::string, std::uint32_t>>& made) {
  std::size_t slash = name.find('/');
  while (slash != std::string::npos) {
    const std::string part = name.substr(0, slash);
    const std::string path = folder + part;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      const auto known = modes.find(part);
      const std::uint32_t mode = known == modes.end() ? 0755 : known->second;
      if (::mkdir(path.c_str(), 0700) != 0 || ::lstat(path.c_str(), &st) != 0) return false;
      made.emplace_back(path, mode);
    }
    if (!S_ISDIR(st.st_mode)) return false;
    slash = name.find('/', slash + 1);
  }
  return true;
}

// The CRC-32 and size of a file, read without following a link; false when unreadable.
bool Checksum(const std::string& path, std::int64_t& size, std::uint32_t& crc) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
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

// The trash entries whose records name a path under folder, by that path.
std::multimap<std::string, TrashEntry> EntriesUnder(const std::string& folder, const std::string& homeTrash) {
  std::multimap<std::string, TrashEntry> found;
  for (const std::string& trash : TrashFoldersFor(folder, homeTrash)) {
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

std::optional<std::string> ReadLastMember(const std::string& archivePath, std::size_t index, std::string* error) {
  archive* a = ::archive_read_new();
  ::archive_read_support_format_zip_seekable(a);
  std::optional<std::string> text;
  if (::archive_read_open_filename(a, archivePath.c_str(), 64 * 1024) == ARCHIVE_OK) {
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

}  // namespace

std::optional<ZipManifest> ReadZipManifest(const std::string& archivePath, std::string* error) {
  const int fd = ::open(archivePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = archivePath + " could not be opened (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const std::optional<std::vector<std::string>> names = regular ? CentralDirectoryNames(fd, nullptr) : std::nullopt;
  ::close(fd);
  if (!names || names->empty() || names->back() != kManifestName) {
    if (error) *error = archivePath + " is not an archive Orbelan made";
    return std::nullopt;
  }
  const std::optional<std::string> text = ReadLastMember(archivePath, names->size() - 1, error);
  if (!text) return std::nullopt;
  return ParseManifest(*text, error);
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
    if (::lstat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (newest && (st.st_mtim.tv_sec < newestTime.tv_sec ||
                   (st.st_mtim.tv_sec == newestTime.tv_sec && st.st_mtim.tv_nsec <= newestTime.tv_nsec)))
      continue;
    if (!ReadZipManifest(folder + name, nullptr)) continue;
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
  if (archivePath.empty() || archivePath.front() != '/') return refuse("The archive must be named by its absolute path");
  std::string why;
  const std::optional<ZipManifest> manifest = ReadZipManifest(archivePath, &why);
  if (!manifest) return refuse("The zip cannot be undone: " + why);
  // The archive's own folder, whatever the manifest says it was.
  result.Folder = Parent(archivePath) + "/";
  if (result.Folder == "//") result.Folder = "/";
  const std::string& folder = result.Folder;
  struct stat st {};
  if (::lstat(Parent(archivePath).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return refuse("The folder of " + archivePath + " is not a folder");
  bool subtree = false;
  for (const ManifestMember& m : manifest->Members) subtree = subtree || m.Name.find('/') != std::string::npos;
  subtree = subtree || !manifest->Subfolders.empty();
  result.Subtree = subtree;
  std::map<std::string, std::uint32_t> modes;
  for (const ManifestFolder& f : manifest->Subfolders) {
    if (!AcceptableName(f.Name, true))
      return refuse("The zip cannot be undone: its manifest names a place outside " + folder + " (" + f.Name + ")");
    modes[f.Name] = f.Mode & 0777;  // no set-id bits from an untrusted manifest
  }
  std::vector<std::pair<std::string, std::uint32_t>> made;
  for (const ManifestMember& m : manifest->Members)
    if (!AcceptableName(m.Name, subtree) || !NoLinksOnTheWay(folder, m.Name))
      return refuse("The zip cannot be undone: its manifest names a place outside " + folder + " (" + m.Name + ")");
  result.Members = static_cast<std::int64_t>(manifest->Members.size());

  const std::multimap<std::string, TrashEntry> entries = EntriesUnder(folder, options.HomeTrash);
  std::map<std::pair<dev_t, ino_t>, std::int64_t> restoredFiles;  // names put back, by file
  for (const ManifestMember& m : manifest->Members) {
    const std::string place = folder + m.Name;
    // A file that never went (it was in use) and is still as zipped needs nothing. Asked
    // first: an older zip's trash may hold the same bytes under the same path, and taking
    // that entry would call the file that stayed a stranger in its own place.
    std::int64_t size = 0;
    std::uint32_t crc = 0;
    if (Checksum(place, size, crc) && size == m.Size && crc == m.Crc) {
      ++result.InPlace;
      continue;
    }
    // The entry in the trash whose record names this place and whose bytes are the member's.
    std::optional<TrashEntry> chosen;
    const auto [first, last] = entries.equal_range(place);
    for (auto it = first; it != last && !chosen; ++it) {
      const std::string inTrash = it->second.Trash + "/files/" + it->second.Name;
      if (Checksum(inTrash, size, crc) && size == m.Size && crc == m.Crc) chosen = it->second;
    }
    if (!chosen) {
      result.Missing.push_back(m.Name);
      continue;
    }
    if (::lstat(place.c_str(), &st) == 0 || !MakeFoldersOnTheWay(folder, m.Name, modes, made)) {
      result.Blocked.push_back(m.Name);
      continue;
    }
    if (!RestoreFromTrash(*chosen, &why)) {
      (errno == EEXIST ? result.Blocked : result.Missing).push_back(m.Name);
      continue;
    }
    ++result.Restored;
    if (::lstat(place.c_str(), &st) == 0 && st.st_nlink > 1) ++restoredFiles[{st.st_dev, st.st_ino}];
  }
  for (const auto& [file, names] : restoredFiles)
    if (names > 1) result.Relinked += names;
  if (!result.Missing.empty()) {
    std::map<std::pair<std::int64_t, std::uint32_t>, int> contents;
    for (const ManifestMember& m : manifest->Members)
      if (m.Size > 0) ++contents[{m.Size, m.Crc}];
    const std::set<std::string> missing(result.Missing.begin(), result.Missing.end());
    for (const ManifestMember& m : manifest->Members)
      if (m.Size > 0 && contents[{m.Size, m.Crc}] > 1 && missing.count(m.Name)) result.MissingLikeAnother = true;
  }
  // The folders made again get their own permissions once their files are in them, the
  // deepest first.
  for (auto it = made.rbegin(); it != made.rend(); ++it) ::chmod(it->first.c_str(), it->second);
  result.FoldersMade = static_cast<std::int64_t>(made.size());
  if (result.Restored == 0 && result.InPlace < result.Members) {
    result.Outcome = ZipOutcome::Refused;
    result.Message = "None of the archive's files could be put back";
    if (!result.Blocked.empty()) result.Message += ": other files now stand at their places";
    else result.Message += ": they are no longer in the trash";
    result.Message += ". Nothing was changed.";
    return result;
  }
  // The archive holds the only copy of anything that did not come back: it stays then.
  if (result.Blocked.empty() && result.Missing.empty()) {
    TrashEntry entry;
    result.ArchiveTrashed = options.Trash(archivePath, &entry, &result.ArchiveNotTrashedWhy);
  }
  return result;
}

}  // namespace orbelan
