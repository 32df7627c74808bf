#include "fsfacts/fs_compression.h"

#include <lzo/lzo1x.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <vector>

namespace orbelan {
namespace {

int LevelAfterColon(std::string_view value) {
  const std::size_t colon = value.find(':');
  if (colon == std::string_view::npos) return 0;
  int level = 0;
  for (char c : value.substr(colon + 1)) {
    if (c < '0' || c > '9') return 0;
    level = std::min(level * 10 + (c - '0'), 99);
  }
  return level;
}

std::int64_t RoundUp(std::int64_t n, std::int64_t sector) { return (n + sector - 1) / sector * sector; }

}  // namespace

FsCompression CompressionFromOptions(std::string_view fsType, std::string_view superOptions) {
  FsCompression result;
  if (fsType != "btrfs") return result;  // the others' st_blocks already tell compressed space
  std::size_t at = 0;
  while (at <= superOptions.size()) {
    const std::size_t end = std::min(superOptions.find(',', at), superOptions.size());
    const std::string_view option = superOptions.substr(at, end - at);
    at = end + 1;
    std::string_view value;
    if (option.rfind("compress=", 0) == 0) value = option.substr(9);
    else if (option.rfind("compress-force=", 0) == 0) value = option.substr(15);
    else continue;
    const std::string_view codec = value.substr(0, value.find(':'));
    if (codec == "zstd") result.Codec = FsCodec::Zstd;
    else if (codec == "zlib") result.Codec = FsCodec::Zlib;
    else if (codec == "lzo") result.Codec = FsCodec::Lzo;
    else result.Codec = FsCodec::None;  // "no", or a codec unknown to us: taken as stored plain
    result.Level = LevelAfterColon(value);
  }
  return result;
}

std::int64_t StoredChunkBytes(const FsCompression& c, const unsigned char* data, std::size_t size,
                              std::int64_t sector) {
  const auto plain = static_cast<std::int64_t>(size);
  if (size == 0) return 0;
  std::int64_t packed = plain;
  thread_local std::vector<unsigned char> out;
  switch (c.Codec) {
    case FsCodec::None:
      return RoundUp(plain, sector);
    case FsCodec::Zstd: {
      out.resize(ZSTD_compressBound(size));
      const std::size_t n = ZSTD_compress(out.data(), out.size(), data, size, c.Level > 0 ? c.Level : 3);
      if (!ZSTD_isError(n)) packed = static_cast<std::int64_t>(n);
      break;
    }
    case FsCodec::Zlib: {
      uLongf n = compressBound(static_cast<uLong>(size));
      out.resize(n);
      if (compress2(out.data(), &n, data, static_cast<uLong>(size), c.Level > 0 ? c.Level : 3) == Z_OK)
        packed = static_cast<std::int64_t>(n);
      break;
    }
    case FsCodec::Lzo: {
      // Page by page, each segment behind a 4-byte length, the whole behind another 4.
      static const bool ready = lzo_init() == LZO_E_OK;
      if (!ready) break;
      thread_local std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
      out.resize(4096 + 4096 / 16 + 64 + 3);
      std::int64_t total = 4;
      for (std::size_t page = 0; page < size; page += 4096) {
        lzo_uint n = 0;
        const std::size_t len = std::min<std::size_t>(4096, size - page);
        lzo1x_1_compress(data + page, len, out.data(), &n, work.data());
        // A segment's header never straddles a sector: the rest of the sector is skipped.
        if (total % sector > sector - 4) total = RoundUp(total, sector);
        total += 4 + static_cast<std::int64_t>(n);
      }
      packed = total;
      break;
    }
  }
  const std::int64_t stored = RoundUp(packed, sector);
  return stored < RoundUp(plain, sector) ? stored : RoundUp(plain, sector);
}

}  // namespace orbelan
