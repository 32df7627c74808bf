#pragma once
// How one file is counted into a folder's record, and the figures derived from a record.

#include <cstdint>
#include <string_view>

namespace orbelan {

struct FolderCounts;
struct FolderRec;
struct ScanRules;

// Counts one file into rec. modified is a day number (days since 1899-12-30, local time).
// True when the file went into the Unzipped bytes (IsUnzippedFile).
bool TallyFile(FolderRec& rec, std::string_view fileName, std::int64_t size, double modified,
               const ScanRules& rules);

std::int64_t UnzippedBytes(const FolderCounts& rec);
int ZipPercent(const FolderCounts& rec);          // rounded, halves to even; 0 when SzFiles <= 0
std::int64_t ZipPriority(const FolderCounts& rec);
bool MeetsMinSize(const FolderCounts& rec, std::uint16_t minSize);  // SzFiles div 1024 > minSize

}  // namespace orbelan
