#include "archive/folder_zipper.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "archive/folder_lock.h"
#include "archive/zipper_parts.h"
#include "platform/quoted_name.h"
#include "platform/system_folders.h"
#include "platform/trash.h"

namespace orbelan {
using namespace zipper_parts;
namespace {

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

// The folder open at dirFd is the one planned, not one moved or put in its place since.
std::optional<ZipResult> RefuseIfReplaced(const ZipPlan& plan, int dirFd) {
  struct stat opened {};
  if (plan.FolderInode != 0 &&
      (::fstat(dirFd, &opened) != 0 || static_cast<std::uint64_t>(opened.st_dev) != plan.FolderDevice ||
       static_cast<std::uint64_t>(opened.st_ino) != plan.FolderInode))
    return Refuse("The folder " + plan.Folder + " was moved or replaced since it was looked at." +
                  kNothingChanged);
  return std::nullopt;
}

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

ZipResult FolderZipper::Run(ZipPlan& plan) {
  Stage = static_cast<int>(ZipStage::Reading);
  Done = 0;
  Total = std::max<std::int64_t>(1, 2 * plan.Bytes);

  UniqueFd dir(OpenFolder(plan.Folder));
  if (dir.Get() < 0)
    return Refuse("The folder " + plan.Folder + " could not be opened (" + Errno(errno) + ").");
  if (std::optional<ZipResult> replaced = RefuseIfReplaced(plan, dir.Get())) return *replaced;
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

  ZipResult result = work.PlacedResult();
  TrashOriginals(work, result);
  if (plan.Subtree) RemoveEmptiedFolders(work, result);
  return result;
}

ZipResult FolderZipper::Work::PlacedResult() const {
  ZipResult result;
  result.ArchiveName = archiveName;
  result.WithMetadata = plan.WithMetadata;
  result.Unreadable = unreadable;
  result.UnreadableWhy = unreadableWhy;
  // Its blocks past the end were given back when it was written (WriteArchive).
  struct stat archiveStat {};
  if (::fstat(temp.Fd(), &archiveStat) == 0) {
    result.ArchiveBytes = archiveStat.st_size;
    result.ArchiveAllocated = static_cast<std::int64_t>(archiveStat.st_blocks) * 512;
  }
  result.Files = static_cast<std::int64_t>(plan.Members.size());
  for (const ZipMember& m : plan.Members) result.Bytes += m.Size;
  result.Subtree = plan.Subtree;
  result.Folders = plan.Folders;
  result.OtherFileSystems = plan.OtherFileSystems;
  return result;
}

}  // namespace orbelan
