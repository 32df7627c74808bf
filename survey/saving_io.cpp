// What the estimate's ways of reading a folder share (survey/saving_io.h).

#include "survey/saving_io.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <zstd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/dir_reader.h"
#include "survey/figures.h"
#include "survey/folder_list.h"
#include "survey/random_bits.h"

namespace orbelan::saving {

std::int64_t AddSat(std::int64_t a, std::int64_t b) {
  AddSize(a, b);
  return a;
}

Workspace::Workspace() : compressor(libdeflate_alloc_compressor(6)), fast(ZSTD_createCCtx()) {}

Workspace::~Workspace() {
  libdeflate_free_compressor(compressor);
  ZSTD_freeCCtx(fast);
}

std::int64_t Workspace::Compressed(const unsigned char* data, std::size_t size) {
  if (compressor == nullptr) return static_cast<std::int64_t>(size);
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
  if (out.size() < bound) out.resize(bound);
  const std::size_t n = libdeflate_deflate_compress(compressor, data, size, out.data(), out.size());
  return n == 0 ? static_cast<std::int64_t>(size) : static_cast<std::int64_t>(n);
}

std::int64_t Workspace::FastSize(const unsigned char* data, std::size_t size) {
  if (fast == nullptr) return static_cast<std::int64_t>(size);
  const std::size_t bound = ZSTD_compressBound(size);
  if (out.size() < bound) out.resize(bound);
  const std::size_t n = ZSTD_compressCCtx(fast, out.data(), out.size(), data, size, -1);
  return ZSTD_isError(n) ? static_cast<std::int64_t>(size) : static_cast<std::int64_t>(n);
}

Workspace& ThreadWorkspace() {
  thread_local Workspace workspace;
  return workspace;
}

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

int OpenRegular(int dirFd, const char* name, struct stat& stOut) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  int fd = openat(dirFd, name, kFlags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = openat(dirFd, name, kFlags);  // not the owner
  if (fd < 0) return -1;
  if (fstat(fd, &stOut) != 0 || !S_ISREG(stOut.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

std::int64_t ReadAt(int fd, unsigned char* buffer, std::int64_t size, std::int64_t offset) {
  std::int64_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, buffer + done, static_cast<std::size_t>(size - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool NextCountedEntry(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                      DirEntry& entry) {
  while (reader.Next(entry)) {
    if (Stopped(stop)) return false;
    if (!entry.Hidden() && !entry.TypeIsDirectory() && IsUnzippedFile(entry.NameView(), rules)) return true;
  }
  return false;
}

bool ListFolder(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                Listing& out) {
  DirEntry entry;
  EntryStat stat;
  while (NextCountedEntry(reader, rules, stop, entry)) {
    if (!reader.Stat(entry.Name, stat) || stat.Kind == EntryKind::Directory) continue;
    const std::int64_t size = std::max<std::int64_t>(stat.Size, 0);
    if (stat.Kind != EntryKind::File) {
      out.otherBytes = AddSat(out.otherBytes, size);
      continue;
    }
    out.files.push_back({out.names.size(), size, stat.Allocated});
    out.names.append(entry.Name, entry.NameLength);
    out.names.push_back('\0');
    out.regularBytes = AddSat(out.regularBytes, size);
  }
  return !Stopped(stop);
}

WholeFile CompressOpenFile(int fd, std::int64_t size, Workspace& ws) {
  WholeFile result;
  result.missing = size;
  if (size == 0) {
    result.readable = true;
    return result;
  }
  if (ws.in.size() < static_cast<std::size_t>(size)) ws.in.resize(static_cast<std::size_t>(size));
  const std::int64_t n = ReadAt(fd, ws.in.data(), size, 0);
  if (n <= 0) return result;
  result.readable = true;
  result.read = n;
  result.missing = size - n;
  result.saving = std::max<std::int64_t>(0, n - ws.Compressed(ws.in.data(), static_cast<std::size_t>(n)));
  return result;
}

WholeFile CompressWhole(int dirFd, const char* name, std::int64_t size, Workspace& ws) {
  struct stat st;
  Fd fd(OpenRegular(dirFd, name, st));
  if (fd.get() < 0) {
    WholeFile none;
    none.missing = size;
    return none;
  }
  return CompressOpenFile(fd.get(), size, ws);
}

SavingEstimate FinishOthers(SavingEstimate est, const Listing& listing) {
  est.Bytes = AddSat(listing.regularBytes, listing.otherBytes);
  return est;
}

std::uint64_t FolderSeed(std::uint64_t seed, const Listing& listing) {
  std::uint64_t h = FnvStart(seed);
  auto mix = [&h](std::uint64_t v) { h = FnvAdd(h, v); };
  for (char c : listing.names) mix(static_cast<unsigned char>(c));
  for (const FileEntry& f : listing.files) mix(static_cast<std::uint64_t>(f.size));
  return h;
}

}  // namespace orbelan::saving
