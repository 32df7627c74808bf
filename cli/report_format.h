#pragma once
// Text forms of a finished scan for the orbelan-report command: an aligned table as the
// main window lists it, and CSV with every figure of each listed folder.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace orbelan {

class SubtreeTotals;
struct FolderCounts;
struct FolderRec;
struct ResultRows;
struct SavingEstimate;

// The CSV header line (without line end).
std::string CsvHeader();
// The fields the saving estimate adds after age: ",saving,saving_low,saving_high,sampled".
std::string CsvEstimateHeader();
// Those four fields of one folder, each starting with a comma; empty when not known.
std::string CsvEstimateFields(const SavingEstimate& estimate);
// "Estimated saving: N bytes (L to H)" over the listed folders, with how many of them
// have no estimate when some have none. No line end.
std::string EstimateTotalLine(const std::vector<SavingEstimate>& estimates);
// One CSV line (without line end) for a listed folder; today is the local day number.
std::string CsvLine(const FolderRec& rec, double today);
// The same path with other figures (its subtree's).
std::string CsvLine(const FolderRec& rec, const FolderCounts& figures, double today);
// A field quoted when it holds a comma, a quote, a line break or surrounding blanks.
std::string CsvField(std::string_view text);
// A day number with six decimals, independent of the locale; "0" for no file.
std::string DayNumberText(double dayNumber);

// The table: the six headers, one line per row, then the overall share zipped. A path
// too wide for its column stands alone, its figures on the line below. Written line by
// line: the cells are made twice (once to measure) rather than held for every row.
void WriteTable(std::ostream& out, const ResultRows& rows, double today);
// The same with a seventh column, "Saving", from estimates[i] for rows.Rows[i] (blank
// where not known), and the estimated total as the last line.
void WriteTable(std::ostream& out, const ResultRows& rows, double today,
                const std::vector<SavingEstimate>& estimates);
// What a table may show besides the six columns.
struct TableExtras {
  const std::vector<SavingEstimate>* estimates = nullptr;  // per row: adds the Saving column
  const SubtreeTotals* subtree = nullptr;                   // rows show their subtree figures
  // What the total line adds up; the rows' estimates when not given.
  const std::vector<SavingEstimate>* total = nullptr;
};
void WriteTable(std::ostream& out, const ResultRows& rows, double today, const TableExtras& extras);
// Control bytes shown as "?", so that a name cannot move the terminal's cursor.
std::string TerminalSafe(std::string_view text);

}  // namespace orbelan
