#pragma once
// The exact forms of a record's figures as the list, the properties dialog and the report
// print them: percentages, ages in days, sizes and counts grouped by thousands.

#include <cstdint>
#include <string>
#include <string_view>

namespace orbelan {

struct FolderCounts;

std::string PercentText(const FolderCounts& rec);  // "37%", or " " when SzFiles <= 0

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
// The separator SizeText uses: the one setting of these forms, for the whole process. Read
// once from the C library's LC_NUMERIC locale on first use (the program sets the locale at
// start); setting it overrides that, "" means ','.
void SetThousandsSeparator(std::string_view separator);
// Forgets the separator, so that the next use reads the locale again.
void ResetThousandsSeparator();
const std::string& ThousandsSeparator();

}  // namespace orbelan
