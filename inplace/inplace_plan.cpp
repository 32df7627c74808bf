#include "inplace/inplace_plan.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/read_lease.h"

namespace orbelan {

const char* SkipCauseText(InplaceSkip skip) {
  switch (skip) {
    case InplaceSkip::None: return "rewritten";
    case InplaceSkip::Shared:
      return "its extents are shared with other files or snapshots; rewriting would store them again and grow usage";
    case InplaceSkip::NoDataCow: return "it is nodatacow (chattr +C), which btrfs never compresses";
    case InplaceSkip::NotWritable: return "you may not write to it, which rewriting it needs";
    case InplaceSkip::OpenForWriting: return "another program has it open for writing";
    case InplaceSkip::OtherFileSystem: return "it is on another file system";
    case InplaceSkip::AlreadyCompressed: return "it is stored compressed already";
    case InplaceSkip::InlineOnly: return "it is small enough to be kept in the metadata; it holds no data blocks";
    case InplaceSkip::NoData: return "it holds no data blocks (holes or preallocated space only)";
    case InplaceSkip::NotCompressed: return "none of it is stored compressed";
    case InplaceSkip::Changed: return "it changed or moved since it was listed";
    case InplaceSkip::Unreadable: return "it could not be opened or its extents read";
  }
  return "";
}

std::string InplacePlan::PathOf(const InplaceFile& file) const {
  const std::string& folder = Folders.at(file.Folder).Name;
  return folder.empty() ? file.Name : folder + '/' + file.Name;
}

InplaceSkip ClassifyFile(int fd, const struct stat& st, std::uint64_t folderDevice, InplaceMode mode,
                         bool includeShared, bool useLeases, ExtentCensus& census, bool& leased) {
  leased = false;
  census = ExtentCensus{};
  if (static_cast<std::uint64_t>(st.st_dev) != folderDevice) return InplaceSkip::OtherFileSystem;
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_NOCOW_FL)) return InplaceSkip::NoDataCow;
  // As the ioctl checks it: permission to write the file (root passes; an immutable file or
  // a read-only mount does not). Where the kernel cannot be asked, the rewrite will tell.
  if (::faccessat(fd, "", W_OK, AT_EMPTY_PATH | AT_EACCESS) != 0 && errno != EINVAL && errno != ENOSYS)
    return InplaceSkip::NotWritable;
  if (!TakeExtentCensus(fd, true, census)) return InplaceSkip::Unreadable;
  if (mode == InplaceMode::Compress) {
    if (census.Data == 0) return InplaceSkip::NoData;
    if (census.AllEncoded()) return InplaceSkip::AlreadyCompressed;
    if (census.InlineOnly()) return InplaceSkip::InlineOnly;
  } else if (census.Encoded == 0) {
    return InplaceSkip::NotCompressed;
  }
  if (census.Shared > 0 && !includeShared) return InplaceSkip::Shared;
  if (useLeases) {
    const LeaseState lease = TakeReadLease(fd);
    if (lease == LeaseState::Writers) return InplaceSkip::OpenForWriting;
    leased = lease == LeaseState::Held;
  }
  return InplaceSkip::None;
}

}  // namespace orbelan
