#pragma once
// How one file is classified and counted, and every figure derived from a record.

#include <cstdint>
#include <string>
#include <string_view>

namespace orbelan {

struct FolderCounts;
struct FolderRec;
struct ScanRules;

// Lower-cases the letters A to Z only.
std::string LowerAscii(std::string_view text);

bool IsIgnoredPath(std::string_view folderPath, const ScanRules& rules);
bool IsIgnoredFile(std::string_view fileName, const ScanRules& rules);
bool IsZipExt(std::string_view lowerExt, const ScanRules& rules);
// Whether a file by this name enters the folder's Unzipped bytes: counted (not ignored)
// and not an archive, exactly as TallyFile sorts it.
bool IsUnzippedFile(std::string_view fileName, const ScanRules& rules);
// Counts one file into rec. modified is a day number (days since 1899-12-30, local time).
// True when the file went into the Unzipped bytes (IsUnzippedFile).
bool TallyFile(FolderRec& rec, std::string_view fileName, std::int64_t size, double modified,
               const ScanRules& rules);

std::int64_t UnzippedBytes(const FolderCounts& rec);
int ZipPercent(const FolderCounts& rec);          // rounded, halves to even; 0 when SzFiles <= 0
std::string PercentText(const FolderCounts& rec);  // "37%", or " " when SzFiles <= 0
std::int64_t ZipPriority(const FolderCounts& rec);
bool MeetsMinSize(const FolderCounts& rec, std::uint16_t minSize);  // SzFiles div 1024 > minSize

// Whole calendar days from recent's date to today's (negative for a future date).
std::int64_t DaysAgo(double recent, double today);
// " ", "today", "yesterday" or "N days ago"; today is today's local day number.
std::string AgeText(double recent, double today);
std::string AgeText(double recent);  // against the current local date
// Today's local date as a day number (whole, no time of day).
double LocalToday();

// "%12.0n": grouped by three with the locale's thousands separator (',' when it has none),
// right-aligned in 12 characters. Width counts characters, not bytes, so that a multi-byte
// separator (U+202F in some locales) still lines the numbers up; a longer number is not cut.
std::string SizeText(std::int64_t bytes);
// The same grouping without the padding, for numbers inside sentences ("14,921").
std::string GroupedNumber(std::int64_t value);
// The separator SizeText uses. Read once from the C library's LC_NUMERIC locale on first
// use (the program sets the locale at start); setting it overrides that, "" means ','.
void SetThousandsSeparator(std::string_view separator);
// Forgets the separator, so that the next use reads the locale again.
void ResetThousandsSeparator();
const std::string& ThousandsSeparator();

}  // namespace orbelan
