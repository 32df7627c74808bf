#pragma once
// From bytes saved to disk space given back: the files' allocated blocks now, less the
// blocks of the archive the zipper would write of them (its members' compressed data, the
// per-member headers and the end record, rounded up to the file system's block).

#include <cstdint>

#include "estimate/saving_figures.h"
#include "fsfacts/disk_use.h"

namespace orbelan {

// The bytes of a zip as the zipper writes it (libarchive's zip writer with data
// descriptors): per member a local header (30 bytes), its extended-timestamp and Unix
// owner fields, a data descriptor and a central header (46 bytes) with its own fields,
// 140 bytes in all plus the name twice; then the 22-byte end record. Members of 4 GiB or
// more add a few bytes of Zip64 fields, lost in their size.
inline constexpr std::int64_t kZipMemberBytes = 140;
inline constexpr std::int64_t kZipEndBytes = 22;
// Every archive ends with the zipper's manifest member (".orbelan-zip-manifest", 21 bytes
// of name): a header line, the folder, and a line per member with its size, CRC and name,
// deflated. Its deflated text takes about 80 bytes, 11 a member and 0.15 per byte of the
// names (fitted to the manifests of 1,349 real folders' archives, of 1 to 5,000 members:
// the CRCs hardly compress, the names' common parts do), within 64 bytes, 3 a member and
// 0.15 per name byte either way (ManifestSlack; none of those archives fell outside).
inline constexpr std::int64_t kManifestNameBytes = 21;
std::int64_t ManifestMemberBytes(std::int64_t members, std::int64_t nameBytes);
std::int64_t ManifestSlack(std::int64_t members, std::int64_t nameBytes);
std::int64_t ZipArchiveBytes(std::int64_t members, std::int64_t nameBytes, std::int64_t dataBytes);

// bytes rounded up to whole blocks of block bytes (4 KiB when unknown).
std::int64_t RoundUpToBlock(std::int64_t bytes, std::int64_t block);

// In a folder of at most this many allocated bytes (32 blocks of 4 KiB) one block of the
// archive is over 3% of what the folder holds, and deflating all of it the zipper's way
// costs a few milliseconds at most.
inline constexpr std::int64_t kFewBlocks = 128 << 10;
// Whether est, an estimate of a folder of few blocks with something to save, leaves it open
// how many blocks the archive takes: then the folder is worth deflating whole, exactly.
// libdeflate's whole figures are open across what zlib makes of them as a rule
// (kDoubtZlibLow-kDoubtZlibHigh of their deflated bytes: of 705 such folders of /usr/lib and
// /usr/share deflated again, 3% came below and 1% above, Perl's tables of numbers up to
// 1.21; the disk interval keeps zlib's whole band); a sampled or
// modelled one only where a block's edge lies within kDoubtShare of its interval or
// kDoubtBytes of its point, whichever is wider (never beyond the interval). Deflated exactly,
// a fifth of the modelled folders of few blocks on /usr/lib and /usr/share came out a block
// off their point, but a few hundred bytes off as a rule, whatever their interval: nearness
// to the edge in bytes singles them out a little better than a share of it. Half the
// interval deflated 71 MB of /usr/lib again (1.6 s of processor) for 96.1% of a foreign
// tree's 16 KiB-1 MiB folders within 3 points of the truth; these bounds deflate about
// 18 MB for 94.3% (92.3% with none); a tenth of the interval and 200 bytes, 22 MB for
// 94.6%; three tenths alone, 47 MB for 95.5%.
inline constexpr double kDoubtZlibLow = 0.995;
inline constexpr double kDoubtZlibHigh = 1.06;
inline constexpr double kDoubtShare = 0.08;
inline constexpr std::int64_t kDoubtBytes = 150;
bool ArchiveBlocksInDoubt(const DiskUse& use, const SavingEstimate& est);

// Fills the disk figures of est (Disk, DiskLow, DiskHigh, Allocated, Held) from the byte
// figures it holds, the folder's disk use and what est says of file-system compression.
// Zipping the folder alone never gives back less than nothing (it is refused); belowNothing
// lets the figures go below zero, for a folder's part in a larger zip.
void AddDiskFigures(const DiskUse& use, SavingEstimate& est, bool belowNothing = false);

}  // namespace orbelan
