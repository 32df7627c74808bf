// Planning a zip: what goes in, and every check that can be made before anything is written.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "archive/folder_zipper.h"
#include "archive/member_links.h"
#include "archive/zipper_parts.h"
#include "fsfacts/folder_extents.h"
#include "fsfacts/mount_facts.h"
#include "numbers/saturating_sum.h"
#include "platform/dir_reader.h"
#include "platform/system_folders.h"
#include "platform/trash.h"
#include "platform/trash_orphans.h"
#include "scan/scan_rules.h"
#include "survey/figure_text.h"

namespace orbelan {
using namespace zipper_parts;
namespace {

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

// Refused before deflating what cannot pay: files mostly holes (sparse disk images) take
// few blocks however large they are, and their archive cannot be smaller than deflate's
// best, one byte for every 1,032. Where the file system compresses, the archive's disk
// use has no such floor.
std::optional<ZipResult> RefuseBelowDeflateFloor(const ZipPlan& plan) {
  if (plan.Compression.Compresses()) return std::nullopt;
  std::int64_t least = 22;  // the directory's end
  for (const ZipMember& m : plan.Members)
    least += m.Size / 1032 + 30 + 46 + 2 * static_cast<std::int64_t>(m.Name.size());  // data, two headers
  least -= least % plan.BlockBytes;  // whole blocks only: a short tail may live inline
  const std::int64_t most = plan.Allocated - least;
  if (most >= plan.BlockBytes && most * 100 >= plan.Allocated) return std::nullopt;
  return Refuse("Zipping " + plan.Folder + " would not give back enough disk space: its files take " +
                GroupedNumber(plan.Allocated) + " bytes on the disk for " + GroupedNumber(plan.Bytes) +
                " bytes of data, and however well they compress the archive would take at least " +
                GroupedNumber(least) + " bytes; at least 1% and one block (" + GroupedNumber(plan.BlockBytes) +
                " bytes) must come back." + kNothingChanged);
}

}  // namespace

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
  if (plan.SharesExtents && !MeasureSharing(plan, dirFd)) return Cancelled();
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
  if (std::optional<ZipResult> refused = RefuseBelowDeflateFloor(plan)) return *refused;

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

// What each member shares with other files or snapshots, where files may share extents;
// false when cancelled meanwhile.
bool FolderZipper::MeasureSharing(ZipPlan& plan, int dirFd) {
  // Inline data, whose sharing FIEMAP does not tell, by the estimate's rule.
  std::int64_t shared = 0, other = 0;
  std::vector<std::int64_t> inlined(plan.Members.size(), 0);
  MemberFolders folders(dirFd);
  for (std::size_t i = 0; i < plan.Members.size(); ++i) {
    if (CancelRequested) return false;
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
  return true;
}

}  // namespace orbelan
