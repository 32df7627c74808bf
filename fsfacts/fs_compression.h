#pragma once
// File systems that compress what they store (btrfs mounted with compress= or
// compress-force=): their allocated blocks (st_blocks) count file bytes before compression,
// so the space a file really takes must be estimated, by compressing samples of it as the
// file system does: each extent of at most 128 KiB on its own, with the mount's codec and
// level, rounded up to the sector. On file systems whose st_blocks already tell compressed
// space (ZFS and others), nothing of this is needed.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbelan {

enum class FsCodec : std::uint8_t { None, Zstd, Zlib, Lzo };

struct FsCompression {
  FsCodec Codec = FsCodec::None;
  int Level = 0;  // as the mount names it (zstd and zlib; 0: the file system's default of 3)
  bool Compresses() const { return Codec != FsCodec::None; }
};

// The compression one mount's options ask for ("compress=zstd:3", "compress-force=lzo", ...).
FsCompression CompressionFromOptions(std::string_view fsType, std::string_view superOptions);

// The bytes a chunk of data takes on disk once the file system has compressed it: the
// codec's output rounded up to sector bytes, or the chunk itself when that is no smaller.
std::int64_t StoredChunkBytes(const FsCompression& compression, const unsigned char* data,
                              std::size_t size, std::int64_t sector = 4096);

}  // namespace orbelan
