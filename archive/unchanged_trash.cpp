#include "archive/unchanged_trash.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace orbelan {
namespace {

// A lease break is announced with SIGIO, whose default action ends the process. The break
// itself is what is looked for (the lease is checked after the move), so the signal is
// ignored, unless the program has a handler of its own.
void IgnoreLeaseBreakSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      ::sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGIO, &ignore, nullptr);
    }
  });
}

bool SameAsRead(const ZipMember& m, const struct stat& st) {
  return S_ISREG(st.st_mode) && static_cast<std::int64_t>(st.st_size) == m.Size &&
         st.st_mtim.tv_sec == m.MtimeSec && st.st_mtim.tv_nsec == m.MtimeNsec &&
         st.st_ctim.tv_sec == m.CtimeSec && st.st_ctim.tv_nsec == m.CtimeNsec &&
         static_cast<std::uint64_t>(st.st_ino) == m.Inode &&
         static_cast<std::uint64_t>(st.st_dev) == m.Device;
}

// The file's bytes give the CRC the archive holds for it.
bool SameBytes(int fd, const ZipMember& m, unsigned char* buffer, std::size_t size) {
  std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  std::int64_t read = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    crc = static_cast<std::uint32_t>(::crc32(crc, buffer, static_cast<uInt>(n)));
    read += n;
    if (read > m.Size) return false;
  }
  return read == m.Size && crc == m.Crc;
}

}  // namespace

TrashCheck TrashIfUnchanged(int folderFd, const std::string& folder, const ZipMember& m,
                            bool useLeases, const TrashFunction& trash, unsigned char* buffer,
                            std::size_t bufferSize, TrashEntry& entry, std::string& why,
                            std::optional<struct timespec>* changedAt) {
  const int fd = ::openat(folderFd, m.Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return TrashCheck::Changed;  // gone or replaced by a link
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }  // releases the lease
  } closer{fd};

  bool leased = false;
  if (useLeases) {
    IgnoreLeaseBreakSignal();
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      leased = true;
    } else if (errno == EAGAIN) {
      return TrashCheck::Changed;  // open for writing, or mapped shared and writable
    }
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !SameAsRead(m, st)) return TrashCheck::Changed;
  if (!leased && !(SameBytes(fd, m, buffer, bufferSize) && ::fstat(fd, &st) == 0 && SameAsRead(m, st)))
    return TrashCheck::Changed;
  // The name must still lead to the file that was checked.
  struct stat named {};
  if (::fstatat(folderFd, m.Name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != st.st_ino ||
      named.st_dev != st.st_dev)
    return TrashCheck::Changed;

  if (!trash || !trash(folder + m.Name, &entry, &why)) {
    if (why.empty()) why = "the trash refused it";
    return TrashCheck::Refused;
  }
  // Taken before the lease is looked at: with the lease still held then, no writer came
  // between the check and this. Without a lease the bytes are read once more below.
  struct stat moved {};
  const bool movedSeen = ::fstat(fd, &moved) == 0;
  // Someone opened it for writing while it was moving: their write would land in the
  // trash, so it is put back where it was.
  if (leased && ::fcntl(fd, F_GETLEASE) != F_RDLCK) {
    std::string back;
    if (RestoreFromTrash(entry, &back)) return TrashCheck::Changed;
    why = "it was opened for writing while going to the trash and could not be put back (" + back + ")";
    return TrashCheck::Trashed;
  }
  // Renamed into the trash, its names are as many as before; a trash that deletes (as an
  // emptied one) took one away.
  if (changedAt && movedSeen && static_cast<std::int64_t>(moved.st_size) == m.Size &&
      moved.st_mtim.tv_sec == m.MtimeSec && moved.st_mtim.tv_nsec == m.MtimeNsec &&
      moved.st_ino == st.st_ino && moved.st_dev == st.st_dev &&
      (moved.st_nlink == st.st_nlink || moved.st_nlink + 1 == st.st_nlink)) {
    struct stat again {};
    if (leased || (SameBytes(fd, m, buffer, bufferSize) && ::fstat(fd, &again) == 0 &&
                   again.st_ctim.tv_sec == moved.st_ctim.tv_sec && again.st_ctim.tv_nsec == moved.st_ctim.tv_nsec))
      *changedAt = moved.st_ctim;
  }
  return TrashCheck::Trashed;
}

}  // namespace orbelan
