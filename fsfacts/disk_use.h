#pragma once
// The disk space a folder's zippable files take, gathered while the scan counts them from
// the stat it makes anyway: allocated blocks rather than sizes (a 100-byte file holds a
// whole block, a sparse file's holes hold nothing), and which of it zipping would give back
// (a file with another name outside the folder keeps its blocks when this name goes).

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace orbelan {

// A file of the folder that also has names outside it: held when this folder alone goes,
// but given back when a subtree holding every one of its names is zipped.
struct HeldFile {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::uint64_t Links = 0;  // its names in all
  std::uint64_t Names = 0;  // of those, the ones in this folder
  std::int64_t Allocated = 0;
};

struct DiskUse {
  // Allocated bytes (st_blocks * 512) of the counted regular non-archive files, each inode
  // once.
  std::int64_t Allocated = 0;
  // Of Allocated, what inodes with names outside those files keep: never given back.
  std::int64_t Held = 0;
  std::int64_t Members = 0;    // those files, one per name: the members a zip would get
  std::int64_t NameBytes = 0;  // their names' bytes
  std::int64_t Bytes = 0;      // their sizes
  std::int64_t BlockSize = 0;  // the file system's block (st_blksize); 0 when none was seen
  std::uint64_t Device = 0;    // st_dev of the files: which mount, and so whether it compresses
  // The files Held stands for, by inode; none for most folders.
  std::shared_ptr<const std::vector<HeldFile>> HeldFiles;

  std::int64_t Freeable() const { return Allocated - Held; }
};

// One per counting thread, reused folder after folder.
class DiskTally {
 public:
  void Begin();
  // A regular file counted into the folder's unzipped bytes.
  void Add(std::string_view name, std::int64_t size, std::int64_t allocated, std::uint64_t inode,
           std::uint64_t links, std::int64_t blockSize, std::uint64_t device);
  DiskUse Finish();

 private:
  struct Linked {
    std::uint64_t inode;
    std::uint64_t links;
    std::int64_t allocated;
    std::uint64_t device;
  };
  DiskUse use_;
  std::vector<Linked> linked_;  // files with more than one name, until Finish
};

}  // namespace orbelan
