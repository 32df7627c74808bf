#pragma once
// The figures of the list as a person reads them at a glance: sizes with three significant
// digits in KB, MB or GB, ages beyond two months in months and years. The exact forms
// (SizeText, AgeText) stay for the properties dialog, tooltips and the report's CSV.

#include <cstdint>
#include <string>

namespace orbelan {

class SavingTable;
class SubtreeTotals;
struct ResultRow;

// "0 bytes", "512 bytes", "1.00 KB", "12.3 KB", "629 MB", "1.23 GB", ... (1 KB = 1000 bytes,
// as the desktop's file manager counts). The decimal mark is the locale's. Negative sizes,
// which no folder has, keep their sign.
std::string ReadableSizeText(std::int64_t bytes);

// AgeText up to 60 days; then "2 months ago" ... "23 months ago", then "2 years ago" and on.
// A month is a twelfth of 365.25 days. " " without a file; future dates as AgeText.
std::string ReadableAgeText(double recent, double today);

// CellText with the readable forms in the Unzipped, Zipped, Most Recent and Saving columns.
std::string ReadableCellText(const ResultRow& row, int column, double today,
                             const SavingTable* savings = nullptr,
                             const SubtreeTotals* subtree = nullptr);

// The decimal mark ReadableSizeText uses, read from the C library's LC_NUMERIC locale on
// first use; setting it overrides that ("" means ".").
void SetDecimalMark(const std::string& mark);
void ResetDecimalMark();

}  // namespace orbelan
