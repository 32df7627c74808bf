#pragma once
// The rows of the results list: one per folder above the minimum size, each referring
// to its record, in the order of the current sort column.

#include <cstdint>
#include <string>
#include <vector>

#include "survey/result_row.h"

namespace orbelan {

class FolderList;
class SavingTable;
class SubtreeTotals;
struct FolderCounts;
struct FolderRec;

constexpr int kColumnCount = 7;  // Path, Unzipped, Zipped, %, Most Recent, Priority, Saving
constexpr int kSavingSortColumn = 7;

struct ResultRows {
  std::vector<ResultRow> Rows;  // in display order
  int GaugePercent = 0;         // overall share zipped of the listed folders, truncated
};

// Column 1..7 text of a row. today: local day number. Column 1 is the trimmed path in its
// real case; it sorts by that text lower-cased, so rows differing only in case stand
// together, in scan order. Column 7 is the estimated saving in
// the Unzipped column's format, empty without savings or until the row's estimate is known.
// With subtree totals the row shows its folder's subtree figures instead of its own, and
// the saving of the whole subtree (empty until one folder of it is estimated).
std::string CellText(const ResultRow& row, int column, double today,
                     const SavingTable* savings = nullptr, const SubtreeTotals* subtree = nullptr);

// The figures a row shows: its record's own, or its subtree's when subtree is given.
const FolderCounts& ShownFigures(const FolderRec& rec, const SubtreeTotals* subtree);
// The Saving column's figure of a row: its own estimate, or its subtree's sum once one folder
// of the subtree is estimated. False when there is none yet.
bool ShownSaving(const FolderRec& rec, const SavingTable* savings, const SubtreeTotals* subtree,
                 std::int64_t& saving);

// Builds the rows of the qualifying records and sorts them once by sortColumn
// (magnitude 1..7, negative for descending). Rows with equal keys stand in scan order;
// descending is that whole order reversed. Column 7 orders the rows whose estimate is known
// by it, and puts every row without one after them, in scan order (reversed when
// descending, so that with no estimates at all the column orders as the blank column it
// was). An empty list gives no rows and GaugePercent 0: the caller then leaves its gauge
// as it was.
// With subtree totals (built from folders), every row shows its subtree's figures and the
// minimum-size rule and the gauge apply to them.
ResultRows FillRows(const FolderList& folders, std::uint16_t minSize, int sortColumn, double today,
                    const SavingTable* savings = nullptr, const SubtreeTotals* subtree = nullptr);

// The comparison rules of the list, on texts: +1 when a belongs after b, -1 otherwise.
int CompareNumberText(const std::string& a, const std::string& b);
std::int64_t AgeKey(const std::string& ageText);
int CompareRows(const ResultRow& a, const ResultRow& b, int sortColumn, double today);

// The next SortColumn after a click on column n (1..7).
int NextSortColumn(int sortColumn, int clickedColumn);

}  // namespace orbelan
