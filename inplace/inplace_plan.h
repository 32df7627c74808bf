#pragma once
// Compressing a btrfs folder's files in place, and undoing it: which files a run will
// rewrite, and why it leaves the others alone.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inplace/extent_census.h"

namespace orbelan {

enum class InplaceMode { Compress, Decompress };

// Why a file is left as it is.
enum class InplaceSkip : std::uint8_t {
  None,               // rewritten
  Shared,             // extents shared with other files or snapshots: rewriting stores them again
  NoDataCow,          // nodatacow (chattr +C): btrfs never compresses it
  NotWritable,        // the user may not write it, which rewriting needs
  OpenForWriting,     // another program has it open for writing
  OtherFileSystem,    // a mount on it
  AlreadyCompressed,  // every extent is stored compressed already
  InlineOnly,         // small enough to live in the metadata: no data blocks to give back
  NoData,             // holes and preallocated space only
  NotCompressed,      // (undo) nothing of it is stored compressed
  Changed,            // (run) no longer the file that was planned
  Unreadable,         // could not be opened or asked what it holds
};

// The cause as a clause: "its extents are shared with other files or snapshots".
const char* SkipCauseText(InplaceSkip skip);

// One folder whose files are planned: the top one (Name "") and, for a subtree, those below.
struct InplaceFolder {
  std::string Name;  // relative to the plan's folder, no trailing "/"
  std::uint64_t Inode = 0, Device = 0;
};

struct InplaceFile {
  std::string Name;          // the name's bytes as on disk, within its folder
  std::size_t Folder = 0;    // index in InplacePlan::Folders
  std::uint64_t Inode = 0, Device = 0;
  std::int64_t Size = 0;
  ExtentCensus Extents;
  InplaceSkip Skip = InplaceSkip::None;
  std::string Detail;  // Unreadable: what refused it
};

struct InplacePlan {
  InplaceMode Mode = InplaceMode::Compress;
  std::string Folder;  // real path, ending in "/"
  bool Subtree = false;
  std::vector<InplaceFolder> Folders;          // the top one first
  std::vector<std::string> OtherFileSystems;   // subfolders left out, relative names
  std::vector<InplaceFile> Files;              // to rewrite and skipped, folder by folder
  int Level = 3;
  bool IncludeShared = false;
  // Of the files to rewrite: how many, their sizes, the bytes they share (stored again when
  // rewritten: usage grows by up to this), and (undo) their bytes stored compressed.
  std::int64_t Eligible = 0, Bytes = 0, SharedBytes = 0, EncodedBytes = 0;
  std::optional<std::int64_t> Free;  // (undo) free bytes when planned, when known

  // "sub/name" for a file of a subfolder, relative to Folder.
  std::string PathOf(const InplaceFile& file) const;
};

// What keeps the regular file open at fd (stat st, in the folder on device folderDevice)
// from being rewritten in mode; None when nothing does. The census is taken on the way. A
// read lease is left held on fd (leased true) when one could be had and nothing keeps the file
// back.
InplaceSkip ClassifyFile(int fd, const struct stat& st, std::uint64_t folderDevice, InplaceMode mode,
                         bool includeShared, bool useLeases, ExtentCensus& census, bool& leased);

}  // namespace orbelan
