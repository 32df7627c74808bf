// What the estimate's ways of reading a folder share (estimate/saving_io.h).

#include "estimate/saving_io.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "numbers/random_bits.h"
#include "numbers/saturating_sum.h"
#include "platform/dir_reader.h"
#include "scan/file_draws.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"

namespace orbelan::saving {

std::int64_t AddSat(std::int64_t a, std::int64_t b) {
  AddSize(a, b);
  return a;
}

Workspace::Workspace() : fast(ZSTD_createCCtx()), zipper(new z_stream{}), lz4(LZ4_createStream()) {
  if (deflateInit2(zipper, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete zipper;
    zipper = nullptr;
  }
}

Workspace::~Workspace() {
  for (libdeflate_compressor* c : compressors) libdeflate_free_compressor(c);
  ZSTD_freeCCtx(fast);
  LZ4_freeStream(lz4);
  if (zipper != nullptr) deflateEnd(zipper);
  delete zipper;
}

std::int64_t Workspace::Compressed(const unsigned char* data, std::size_t size, int level) {
  level = std::clamp(level, 1, static_cast<int>(compressors.size()) - 1);
  libdeflate_compressor*& compressor = compressors[static_cast<std::size_t>(level)];
  if (compressor == nullptr) compressor = libdeflate_alloc_compressor(level);
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

std::int64_t Workspace::FastSizeAfter(const unsigned char* history, std::size_t historySize,
                                      const unsigned char* data, std::size_t size) {
  const auto whole = static_cast<std::int64_t>(size);
  if (lz4 == nullptr || size == 0 || size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return whole;
  // lz4 keeps at most 64 KiB of a dictionary.
  constexpr std::size_t kWindow = 64 << 10;
  if (historySize > kWindow) {
    history += historySize - kWindow;
    historySize = kWindow;
  }
  LZ4_resetStream_fast(lz4);
  if (historySize > 0)
    LZ4_loadDict(lz4, reinterpret_cast<const char*>(history), static_cast<int>(historySize));
  const int n = static_cast<int>(size);
  const auto bound = static_cast<std::size_t>(LZ4_compressBound(n));
  if (out.size() < bound) out.resize(bound);
  const int written = LZ4_compress_fast_continue(lz4, reinterpret_cast<const char*>(data),
                                                 reinterpret_cast<char*>(out.data()), n, static_cast<int>(bound), 1);
  return written <= 0 ? whole : written;
}

std::int64_t Workspace::ZipperSize(const unsigned char* data, std::size_t size) {
  const auto whole = static_cast<std::int64_t>(size);
  return std::min(ZipperSizeAfter(nullptr, 0, data, size), whole);
}

std::int64_t Workspace::ZipperSizeAfter(const unsigned char* history, std::size_t historySize,
                                        const unsigned char* data, std::size_t size) {
  if (zipper == nullptr || deflateReset(zipper) != Z_OK) return Compressed(data, size);
  // zlib keeps at most its 32 KiB window of a dictionary.
  constexpr std::size_t kWindow = 32 << 10;
  if (historySize > kWindow) {
    history += historySize - kWindow;
    historySize = kWindow;
  }
  if (historySize > 0 && deflateSetDictionary(zipper, history, static_cast<uInt>(historySize)) != Z_OK)
    return Compressed(data, size);
  // Only the length is wanted: the stream is written over the same buffer again and again.
  if (out.size() < (64 << 10)) out.resize(64 << 10);
  std::int64_t written = 0;
  zipper->next_in = const_cast<unsigned char*>(data);
  for (std::size_t left = size;;) {
    const uInt chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    zipper->avail_in = chunk;
    left -= chunk;
    int status;
    do {
      zipper->next_out = out.data();
      zipper->avail_out = static_cast<uInt>(out.size());
      status = deflate(zipper, left == 0 ? Z_FINISH : Z_NO_FLUSH);
      written += static_cast<std::int64_t>(out.size() - zipper->avail_out);
      if (status == Z_STREAM_ERROR) return Compressed(data, size);
    } while (zipper->avail_out == 0 || (left == 0 && status != Z_STREAM_END));
    if (left == 0) break;
  }
  return written;
}

Workspace& ThreadWorkspace() {
  thread_local Workspace workspace;
  return workspace;
}

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

int OpenForReading(int dirFd, const char* name, bool* noAtimeRefused) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  if (noAtimeRefused == nullptr || !*noAtimeRefused) {
    const int fd = openat(dirFd, name, kFlags | O_NOATIME);
    if (fd >= 0 || errno != EPERM) return fd;
    if (noAtimeRefused != nullptr) *noAtimeRefused = true;  // not the owner
  }
  return openat(dirFd, name, kFlags);
}

int OpenRegular(int dirFd, const char* name, struct stat& stOut, bool* noAtimeRefused) {
  const int fd = OpenForReading(dirFd, name, noAtimeRefused);
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

std::int64_t ReadOnce(int fd, unsigned char* buffer, std::int64_t size, std::int64_t offset) {
  for (;;) {
    const ssize_t n = pread(fd, buffer, static_cast<std::size_t>(size), offset);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool NextCountedEntry(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                      DirEntry& entry) {
  while (reader.Next(entry)) {
    if (Stopped(stop)) return false;
    if (!entry.Hidden() && !entry.TypeIsDirectory() && IsUnzippedFile(entry.NameView(), rules)) return true;
  }
  return false;
}

CountedEntries::CountedEntries(DirReader& reader, const ScanRules& rules, const FileDraws* draws)
    : reader_(reader), rules_(rules) {
  if (draws != nullptr && draws->HasNames) {
    names_ = &draws->ListedNames;
    keptOther_ = draws->ListedOtherBytes;
  }
}

bool CountedEntries::Next(const std::atomic<bool>* stop, DirEntry& entry) {
  if (names_ == nullptr) return NextCountedEntry(reader_, rules_, stop, entry);
  if (at_ >= names_->size() || Stopped(stop)) return false;
  entry.Name = names_->c_str() + at_;
  entry.NameLength = std::strlen(entry.Name);
  entry.Type = DT_REG;
  at_ += entry.NameLength + 1;
  return true;
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

void ListingOfScan(const FileDraws& draws, Listing& out) {
  out.names = draws.ListedNames;
  out.files.clear();
  out.files.reserve(draws.Listed.size());
  out.regularBytes = 0;
  out.otherBytes = draws.ListedOtherBytes;
  std::size_t at = 0;
  for (const FileDraws::ListedFile& f : draws.Listed) {
    out.files.push_back({at, f.Size, f.Allocated});
    out.regularBytes = AddSat(out.regularBytes, f.Size);
    at = out.names.find('\0', at) + 1;
  }
}

WholeFile CompressOpenFile(int fd, std::int64_t size, Workspace& ws, Deflater deflater) {
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
  const auto bytes = static_cast<std::size_t>(n);
  const std::int64_t deflated =
      deflater == Deflater::kZipper ? ws.ZipperSize(ws.in.data(), bytes) : ws.Compressed(ws.in.data(), bytes);
  result.saving = std::max<std::int64_t>(0, n - deflated);
  return result;
}

WholeFile CompressWhole(int dirFd, const char* name, std::int64_t size, Workspace& ws, Deflater deflater,
                        bool* noAtimeRefused) {
  struct stat st;
  Fd fd(OpenRegular(dirFd, name, st, noAtimeRefused));
  if (fd.get() < 0) {
    WholeFile none;
    none.missing = size;
    return none;
  }
  return CompressOpenFile(fd.get(), size, ws, deflater);
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
