#include "inplace/inplace_compressor.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "inplace/btrfs_rewrite.h"
#include "inplace/compression_property.h"
#include "platform/read_lease.h"
#include "platform/dir_reader.h"

namespace orbelan {
namespace {

std::string Errno(int error) { return std::strerror(error); }

InplaceResult Refuse(std::string message) {
  InplaceResult result;
  result.Outcome = InplaceOutcome::Refused;
  result.Message = std::move(message);
  return result;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr int kOpenFile = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool Same(const struct stat& st, std::uint64_t inode, std::uint64_t device) {
  return static_cast<std::uint64_t>(st.st_ino) == inode && static_cast<std::uint64_t>(st.st_dev) == device;
}

// The folder planned as index i, opened below the top one without following a link and
// proved the same folder; -1 when it is not.
int OpenPlannedFolder(int topFd, const InplaceFolder& folder) {
  const int fd = folder.Name.empty() ? ::fcntl(topFd, F_DUPFD_CLOEXEC, 0) : OpenFolderBelow(topFd, folder.Name);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && Same(st, folder.Inode, folder.Device)) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

std::string FailureText(int error, InplaceMode mode) {
  switch (error) {
    case EPERM:
    case EACCES: return SkipCauseText(InplaceSkip::NotWritable);
    case ENOSPC: return "the file system is full";
    case EOPNOTSUPP:
      return mode == InplaceMode::Decompress ? "this kernel cannot rewrite files uncompressed in place"
                                              : "this kernel cannot rewrite files compressed in place";
    default: return "the rewrite failed (" + Errno(error) + ")";
  }
}

}  // namespace

InplaceCompressor::InplaceCompressor(InplaceOptions options) : options_(std::move(options)) {
  if (!options_.FreeSpace) options_.FreeSpace = [](int fd) { return FreeBytes(fd); };
  if (options_.RangeBytes <= 0) options_.RangeBytes = 16 << 20;
}

std::int64_t InplaceCompressor::SpaceNeeded(const InplacePlan& plan) {
  return plan.EncodedBytes + plan.EncodedBytes / 20 + (8 << 20);
}

InplaceResult InplaceCompressor::Open(const std::string& folderPath, InplaceMode mode, InplacePlan& plan, int& topFd) {
  plan = InplacePlan{};
  seen_.clear();
  plan.Mode = mode;
  plan.Level = options_.Level;
  plan.IncludeShared = options_.IncludeShared;
  plan.Folder = folderPath.ends_with('/') ? folderPath : folderPath + '/';
  Stage = static_cast<int>(InplaceStage::Listing);
  Done = 0;
  Total = 0;
  if (plan.Folder.front() != '/')
    return Refuse("The folder " + plan.Folder + " must be named by an absolute path. Nothing was changed.");
  DirReader reader;
  if (!reader.OpenPath(plan.Folder))
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + "). Nothing was changed.");
  struct stat st {};
  struct statfs fs {};
  struct statvfs vfs {};
  if (::fstat(reader.Fd(), &st) != 0 || ::fstatfs(reader.Fd(), &fs) != 0 || ::fstatvfs(reader.Fd(), &vfs) != 0)
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + "). Nothing was changed.");
  if (static_cast<unsigned long>(fs.f_type) != BTRFS_SUPER_MAGIC)
    return Refuse("The folder " + plan.Folder +
                  " is not on btrfs; only btrfs compresses files in place. Nothing was changed.");
  if (vfs.f_flag & ST_RDONLY)
    return Refuse("The folder " + plan.Folder + " is on a read-only mount. Nothing was changed.");
  plan.Folders.push_back({std::string(), static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_dev)});
  topFd = reader.Release();
  return InplaceResult{};
}

void InplaceCompressor::ListFolder(int dirFd, std::size_t folder, const InplaceNameFilter& wanted, InplacePlan& plan) {
  DirReader reader;
  reader.ReadFrom(dirFd);
  DirEntry entry;
  const std::size_t first = plan.Files.size();
  while (reader.Next(entry)) {
    const std::string_view name = entry.NameView();
    if (name == "." || name == ".." || entry.TypeIsDirectory()) continue;
    if (plan.Mode == InplaceMode::Compress && wanted && !wanted(name)) continue;
    // Stated before it is opened: a device or a pipe is never opened.
    struct stat st {};
    if (::fstatat(dirFd, entry.Name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
      continue;
    // A file with several names here is rewritten once, by the first.
    if (!seen_.insert({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}).second) continue;
    InplaceFile file;
    file.Name.assign(name);
    file.Folder = folder;
    file.Inode = static_cast<std::uint64_t>(st.st_ino);
    file.Device = static_cast<std::uint64_t>(st.st_dev);
    file.Size = static_cast<std::int64_t>(st.st_size);
    Fd fd(::openat(dirFd, entry.Name, kOpenFile));
    struct stat opened {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) != 0 || !Same(opened, file.Inode, file.Device)) {
      if (fd.Get() < 0 && errno == ELOOP) continue;  // a link now
      file.Skip = InplaceSkip::Unreadable;
      file.Detail = Errno(errno);
    } else {
      bool leased = false;
      file.Skip = ClassifyFile(fd.Get(), opened, plan.Folders[folder].Device, plan.Mode, plan.IncludeShared, true,
                               file.Extents, leased);
      if (leased) DropLease(fd.Get());
    }
    // Undo concerns only files with something compressed to give back.
    if (plan.Mode == InplaceMode::Decompress &&
        (file.Skip == InplaceSkip::NotCompressed || file.Skip == InplaceSkip::NoDataCow))
      continue;
    if (file.Skip == InplaceSkip::None) {
      ++plan.Eligible;
      plan.Bytes += file.Size;
      plan.SharedBytes += file.Extents.Shared;
      plan.EncodedBytes += file.Extents.Encoded;
    }
    plan.Files.push_back(std::move(file));
  }
  std::sort(plan.Files.begin() + static_cast<std::ptrdiff_t>(first), plan.Files.end(),
            [](const InplaceFile& a, const InplaceFile& b) { return a.Name < b.Name; });
}

InplaceResult InplaceCompressor::Finish(InplacePlan& plan, int topFd) {
  const bool compress = plan.Mode == InplaceMode::Compress;
  if (plan.Eligible == 0) {
    if (plan.Files.empty())
      return Refuse(compress ? "The folder " + plan.Folder + " has no files to compress. Nothing was changed."
                             : "Nothing in the folder " + plan.Folder + " is stored compressed. Nothing was changed.");
    return Refuse("None of the files in " + plan.Folder + " can be " + (compress ? "compressed" : "decompressed") +
                  " in place; each is named below with why. Nothing was changed.");
  }
  if (!compress) {
    plan.Free = options_.FreeSpace(topFd);
    if (plan.Free && *plan.Free < SpaceNeeded(plan))
      return Refuse("Decompressing needs the space back: up to " + std::to_string(SpaceNeeded(plan)) +
                    " bytes, and only " + std::to_string(*plan.Free) + " bytes are free. Nothing was changed.");
  }
  Total = plan.Bytes;
  return InplaceResult{};
}

InplaceResult InplaceCompressor::Plan(const std::string& folderPath, InplaceMode mode, const InplaceNameFilter& wanted,
                                      InplacePlan& plan) {
  int top = -1;
  if (InplaceResult opened = Open(folderPath, mode, plan, top); opened.Outcome != InplaceOutcome::Done) return opened;
  Fd topFd(top);
  ListFolder(topFd.Get(), 0, wanted, plan);
  return Finish(plan, topFd.Get());
}

InplaceResult InplaceCompressor::PlanSubtree(const std::string& folderPath, const std::vector<std::string>& subfolders,
                                             InplaceMode mode, const InplaceNameFilter& wanted, InplacePlan& plan) {
  int top = -1;
  if (InplaceResult opened = Open(folderPath, mode, plan, top); opened.Outcome != InplaceOutcome::Done) return opened;
  Fd topFd(top);
  plan.Subtree = true;
  ListFolder(topFd.Get(), 0, wanted, plan);
  for (const std::string& path : subfolders) {
    if (path.size() <= plan.Folder.size() + 1 || !path.starts_with(plan.Folder) || path.back() != '/') continue;
    const std::string name = path.substr(plan.Folder.size(), path.size() - plan.Folder.size() - 1);
    const bool underLeftOut =
        std::any_of(plan.OtherFileSystems.begin(), plan.OtherFileSystems.end(), [&](const std::string& out) {
          return name.size() > out.size() && name.starts_with(out) && name[out.size()] == '/';
        });
    if (underLeftOut) continue;
    // Opened without following a link on the way: gone or now a link, it is passed over.
    Fd below(OpenFolderBelow(topFd.Get(), name));
    struct stat st {};
    if (below.Get() < 0 || ::fstat(below.Get(), &st) != 0) continue;
    if (static_cast<std::uint64_t>(st.st_dev) != plan.Folders[0].Device) {
      plan.OtherFileSystems.push_back(name);  // a mount, or a btrfs subvolume of its own
      continue;
    }
    plan.Folders.push_back({name, static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_dev)});
    ListFolder(below.Get(), plan.Folders.size() - 1, wanted, plan);
  }
  return Finish(plan, topFd.Get());
}

InplaceResult InplaceCompressor::Run(const InplacePlan& plan) {
  const bool compress = plan.Mode == InplaceMode::Compress;
  Stage = static_cast<int>(InplaceStage::Rewriting);
  Done = 0;
  Total = std::max<std::int64_t>(1, plan.Bytes);
  DirReader reader;
  struct stat st {};
  if (plan.Folders.empty() || !reader.OpenPath(plan.Folder) || ::fstat(reader.Fd(), &st) != 0 ||
      !Same(st, plan.Folders[0].Inode, plan.Folders[0].Device))
    return Refuse("The folder " + plan.Folder + " is gone or was replaced since it was listed. Nothing was changed.");
  Fd topFd(reader.Release());

  InplaceResult result;
  result.Before = MeasureUsage(topFd.Get());
  RewriteSupport support;
  const RewriteWay way{compress, plan.Level};
  // The files rewritten whole, by folder, to be looked at once they are on the disk.
  std::vector<const InplaceFile*> rewritten;

  std::size_t next = 0;  // files are listed folder by folder
  for (std::size_t f = 0; f < plan.Folders.size() && result.Outcome == InplaceOutcome::Done; ++f) {
    const std::size_t begin = next;
    while (next < plan.Files.size() && plan.Files[next].Folder == f) ++next;
    RewriteFolder(plan, f, begin, next, topFd.Get(), way, support, result, rewritten);
  }
  result.LevelRefused = support.LevelRefused;

  Stage = static_cast<int>(InplaceStage::Flushing);
  result.After = MeasureUsage(topFd.Get());
  CheckRewritten(plan, topFd.Get(), rewritten, result);
  return result;
}

// The planned folder f, files [begin, next): its compression property set or cleared, then
// each of its files rewritten, until a cancel.
void InplaceCompressor::RewriteFolder(const InplacePlan& plan, std::size_t f, std::size_t begin, std::size_t next,
                                      int topFd, const RewriteWay& way, RewriteSupport& support,
                                      InplaceResult& result, std::vector<const InplaceFile*>& rewritten) {
  const bool compress = plan.Mode == InplaceMode::Compress;
  Fd dir(OpenPlannedFolder(topFd, plan.Folders[f]));
  const std::string label = plan.Folder + plan.Folders[f].Name;
  if (dir.Get() < 0) {
    for (std::size_t i = begin; i < next; ++i) {
      if (plan.Files[i].Skip == InplaceSkip::None) Done += plan.Files[i].Size;
      result.Failed.emplace_back(plan.PathOf(plan.Files[i]), "its folder is gone or was replaced");
    }
    return;
  }
  const int propertyError =
      compress ? SetCompressionProperty(dir.Get(), plan.Level, result.Property) : ClearCompressionProperty(dir.Get());
  if (propertyError != 0) result.PropertyFailed.emplace_back(label, Errno(propertyError));

  for (std::size_t i = begin; i < next; ++i) {
    const InplaceFile& file = plan.Files[i];
    if (file.Skip != InplaceSkip::None) {
      result.Skipped.emplace_back(plan.PathOf(file), file.Skip == InplaceSkip::Unreadable && !file.Detail.empty()
                                                         ? std::string(SkipCauseText(file.Skip)) + " (" + file.Detail + ")"
                                                         : SkipCauseText(file.Skip));
      continue;
    }
    if (CancelRequested) {
      result.Outcome = InplaceOutcome::Cancelled;
      break;
    }
    RewriteFile(plan, f, file, dir.Get(), way, support, result, rewritten);
  }
}

// One file of folder f, open at dirFd: rewritten range by range while it is still the file
// planned, still eligible, and (under a lease) not opened for writing.
void InplaceCompressor::RewriteFile(const InplacePlan& plan, std::size_t f, const InplaceFile& file, int dirFd,
                                    const RewriteWay& way, RewriteSupport& support, InplaceResult& result,
                                    std::vector<const InplaceFile*>& rewritten) {
  if (options_.BeforeRewrite) options_.BeforeRewrite(file);
  const std::int64_t doneBefore = Done;
  Fd fd(::openat(dirFd, file.Name.c_str(), kOpenFile));
  struct stat now {};
  ExtentCensus census;
  bool leased = false;
  InplaceSkip skip = InplaceSkip::Changed;
  if (fd.Get() >= 0 && ::fstat(fd.Get(), &now) == 0 && S_ISREG(now.st_mode) && Same(now, file.Inode, file.Device))
    skip = ClassifyFile(fd.Get(), now, plan.Folders[f].Device, plan.Mode, plan.IncludeShared, true, census, leased);
  if (skip != InplaceSkip::None) {
    result.Skipped.emplace_back(plan.PathOf(file), SkipCauseText(skip));
    Done = doneBefore + file.Size;
    return;
  }
  const std::int64_t size = static_cast<std::int64_t>(now.st_size);
  std::string failure;
  bool whole = true;
  for (std::int64_t from = 0; from < size; from += options_.RangeBytes) {
    if (CancelRequested) {
      result.Outcome = InplaceOutcome::Cancelled;
      whole = false;
      break;
    }
    if (leased && !LeaseStillHeld(fd.Get())) {
      failure = "another program opened it for writing while it was rewritten; it is whole, partly rewritten";
      break;
    }
    const std::int64_t length = std::min(options_.RangeBytes, size - from);
    if (const int error = RewriteRange(fd.Get(), static_cast<std::uint64_t>(from), static_cast<std::uint64_t>(length),
                                       way, support)) {
      failure = FailureText(error, plan.Mode);
      break;
    }
    Done = doneBefore + std::min(from + length, file.Size);
  }
  if (leased) DropLease(fd.Get());
  Done = doneBefore + file.Size;
  if (!failure.empty()) {
    result.Failed.emplace_back(plan.PathOf(file), failure);
  } else if (whole) {
    ++result.Rewritten;
    result.RewrittenBytes += size;
    rewritten.push_back(&file);
  }
}

// What the file system made of them, now that they are on the disk.
void InplaceCompressor::CheckRewritten(const InplacePlan& plan, int topFd,
                                       const std::vector<const InplaceFile*>& rewritten, InplaceResult& result) {
  const bool compress = plan.Mode == InplaceMode::Compress;
  Fd dir;
  std::size_t open = plan.Folders.size();
  for (const InplaceFile* file : rewritten) {
    if (file->Folder != open) {
      dir.Reset(OpenPlannedFolder(topFd, plan.Folders[file->Folder]));
      open = file->Folder;
    }
    Fd fd(dir.Get() < 0 ? -1 : ::openat(dir.Get(), file->Name.c_str(), kOpenFile));
    ExtentCensus census;
    if (fd.Get() < 0 || !TakeExtentCensus(fd.Get(), false, census)) continue;
    if (compress && census.Encoded == 0 && !census.InlineOnly()) {
      result.NotShrunk.push_back(plan.PathOf(*file));
    } else if (!compress && census.Encoded > 0) {
      result.Failed.emplace_back(plan.PathOf(*file), "part of it is still stored compressed after the rewrite");
      --result.Rewritten;
      result.RewrittenBytes -= file->Size;
    }
  }
}

}  // namespace orbelan
