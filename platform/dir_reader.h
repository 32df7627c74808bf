#pragma once
// Reading one folder's entries through a directory descriptor, with getdents64 into a
// buffer the reader keeps, and stating entries relative to that descriptor. Links are
// never followed below the folder a caller names. No allocation per entry.

#include <dirent.h>

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

enum class EntryKind : std::uint8_t { Directory, File, Symlink, Other, Gone };

struct DirEntry {
  const char* Name = "";         // NUL-terminated, inside the reader's buffer
  std::size_t NameLength = 0;
  unsigned char Type = 0;        // d_type as delivered (DT_UNKNOWN on some file systems)

  std::string_view NameView() const { return {Name, NameLength}; }
  bool Hidden() const { return Name[0] == '.'; }  // also true for "." and ".."
  // The file system says it is a folder; DT_UNKNOWN still needs a stat to tell.
  bool TypeIsDirectory() const { return Type == DT_DIR; }
};

// What a scan needs of one non-directory entry.
struct EntryStat {
  EntryKind Kind = EntryKind::Gone;
  std::int64_t Size = 0;      // bytes; a link's own size
  std::int64_t Modified = 0;  // last write, seconds since 1970 UTC
  std::int64_t Allocated = 0; // st_blocks * 512: what it takes on disk (holes take nothing)
  std::uint64_t Inode = 0;
  std::uint64_t Links = 1;
  std::int64_t BlockSize = 0; // the file system's preferred block (st_blksize)
  std::uint64_t Device = 0;
};

class DirReader {
 public:
  static constexpr std::size_t kDefaultBuffer = 32 * 1024;

  explicit DirReader(std::size_t bufferSize = kDefaultBuffer);
  ~DirReader();
  DirReader(const DirReader&) = delete;
  DirReader& operator=(const DirReader&) = delete;

  // Opens the folder a user named; links along the path, the last one included, are
  // followed. Works for paths longer than PATH_MAX. False (errno set) when it fails.
  bool OpenPath(std::string_view path);
  // Opens name inside the folder parentFd, never following a link.
  bool OpenChild(int parentFd, const char* name);
  // Opens relative (components separated by "/", no trailing "/") below baseFd without
  // following any link on the way; an empty relative reopens baseFd's folder.
  bool OpenBelow(int baseFd, std::string_view relative);
  // Reads the folder open at fd, which stays the caller's: Close leaves it open.
  void ReadFrom(int fd);
  // Reads the folder open at fd, which the reader now owns.
  void Take(int fd);
  void Close();
  // Gives up the folder's descriptor without closing it: the caller closes what it returns
  // (-1 when none is open, or the descriptor is not the reader's: ReadFrom).
  int Release();

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // The next entry, "." and ".." included; false at the end or when reading fails.
  bool Next(DirEntry& entry);
  // Next has returned false because the folder had no more entries, not because reading it
  // failed.
  bool ReadToEnd() const { return ended_ && !failed_; }

  // While the caller is busy elsewhere (a folder of a deep walk whose subfolder is being
  // walked): the entries read ahead and not yet delivered move to memory of their own size
  // and the read buffer is given back, so that a folder held open costs what it still has to
  // deliver. Next goes on where it stopped. Entries delivered before are no longer valid.
  void Park();
  // Gives the read buffer back, with any entries not yet delivered: for a reader that is
  // done. The next read makes a new one.
  void ReleaseBuffer();

  // The entry's kind, from d_type or, when the file system does not say, from fstatat.
  EntryKind KindOf(const DirEntry& entry) const;
  // fstatat relative to the folder, not following links; false when the entry is gone.
  bool Stat(const char* name, EntryStat& out) const;

 private:
  bool Adopt(int fd);

  int fd_ = -1;
  bool owned_ = true;
  std::string scratch_;  // NUL-terminated copy of a path, kept to avoid reallocating
  std::unique_ptr<char[]> buffer_;  // made on the first read
  std::size_t bufferSize_;
  std::unique_ptr<char[]> parked_;  // entries read ahead while parked
  std::size_t parkedSize_ = 0;
  std::size_t filled_ = 0;
  std::size_t pos_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

// Opens relative (components joined by "/", no trailing "/") below baseFd as a folder,
// following no link on the way; -1 with errno when it fails.
int OpenFolderBelow(int baseFd, std::string_view relative);

// Whether an open failed for want of descriptors (of the process or of the system), which
// closing others cures, rather than because the folder cannot be read.
inline bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// Raises the soft limit on open descriptors to the hard limit (one is held per level of
// a deep tree). Safe to call more than once.
void RaiseOpenFileLimit();

}  // namespace orbelan
