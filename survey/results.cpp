#include "survey/results.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"
#include "survey/figure_text.h"
#include "survey/path_order.h"
#include "survey/saving_table.h"
#include "survey/subtree_totals.h"

namespace orbelan {
namespace {

// The part of a path the Path column shows: blanks and control bytes (below 33) trimmed
// off both ends, in its real case (on a case-sensitive disk "Photos/" and "photos/" are two
// folders). Sorting compares this part lower-cased.
std::string_view TrimmedPath(std::string_view path) {
  auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) < 33; };
  std::size_t first = 0;
  std::size_t last = path.size();
  while (first < last && isTrimmed(path[first])) ++first;
  while (last > first && isTrimmed(path[last - 1])) --last;
  return path.substr(first, last - first);
}

std::string MakePathText(std::string_view path) { return std::string(TrimmedPath(path)); }
std::string PathSortText(std::string_view path) { return LowerAscii(TrimmedPath(path)); }

// The number by which a numeric column orders, equal in order to comparing its cell
// texts by CompareNumberText (sizes are never negative), and independent of how many
// bytes the thousands separator takes.
std::int64_t NumericKey(const FolderCounts& rec, int column, double today) {
  switch (column) {
    case 2: return UnzippedBytes(rec);
    case 3: return rec.SzZips;
    case 4: return rec.SzFiles > 0 ? ZipPercent(rec) : -1;  // the blank " " sorts before "0%"
    case 5: return rec.Recent > 0 ? std::llabs(DaysAgo(rec.Recent, today)) : 0;  // as AgeKey reads
    case 6: return ZipPriority(rec);
    default: return 0;
  }
}

// Path texts sort in unsigned byte order, a prefix first, equal texts in scan order.
// Sorting whole strings with compare() reads two scattered heap texts per comparison;
// instead the rows are sorted 8 bytes at a time (the bytes read big-endian into one
// number), and only runs that still tie are sorted again on their next 8 bytes. Each
// text is then read once per level, not once per comparison.
struct PathKey {
  std::uint64_t chunk;    // bytes at..at+7 of the text, zero-padded (names never hold NUL bytes)
  std::string_view text;  // the trimmed path, lower-cased as it is read
  std::size_t index;
};

std::uint64_t ChunkAt(std::string_view text, std::size_t at) {
  std::uint64_t chunk = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    const std::size_t i = at + k;
    unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    chunk = (chunk << 8) | c;
  }
  return chunk;
}

void SortByPathChunks(std::vector<PathKey>& keys) {
  struct Run {
    std::size_t first, last, at;
  };
  std::vector<Run> pending{{0, keys.size(), 0}};  // a stack: deep paths need no recursion
  while (!pending.empty()) {
    const Run run = pending.back();
    pending.pop_back();
    auto begin = keys.begin() + static_cast<std::ptrdiff_t>(run.first);
    auto end = keys.begin() + static_cast<std::ptrdiff_t>(run.last);
    for (auto k = begin; k != end; ++k) k->chunk = ChunkAt(k->text, run.at);
    std::sort(begin, end, [](const PathKey& a, const PathKey& b) {
      return a.chunk != b.chunk ? a.chunk < b.chunk : a.index < b.index;
    });
    // Runs of equal chunks tie so far; those whose texts go on are ordered by what follows.
    for (std::size_t i = run.first; i < run.last;) {
      std::size_t j = i + 1;
      bool goesOn = keys[i].text.size() > run.at + 8;
      while (j < run.last && keys[j].chunk == keys[i].chunk) {
        goesOn = goesOn || keys[j].text.size() > run.at + 8;
        ++j;
      }
      if (j - i > 1 && goesOn) pending.push_back({i, j, run.at + 8});
      i = j;
    }
  }
}

// The estimate a row sorts by in column 7, or nullptr when it has none.
const SavingEstimate* KnownSaving(const FolderRec& rec, const SavingTable* savings) {
  const SavingEstimate* estimate = savings ? savings->Find(rec) : nullptr;
  return estimate && estimate->Known ? estimate : nullptr;
}

// Puts the rows (made in scan order) in ascending order of column, equal rows in scan
// order, or that whole order reversed when descending. Keys are sorted apart from the
// rows so that the sort moves 16 bytes per step, and each row is moved once.
void SortRows(const FolderList& folders, std::vector<ResultRow>& rows, int column, bool descending,
              double today, const SavingTable* savings, const SubtreeTotals* subtree) {
  const std::size_t n = rows.size();
  std::vector<std::size_t> order;
  if (column == 1 && PathOrderFromTree(folders, rows, order)) {
    // A scan's records: ordered by their tree, no path put together.
  } else if (column == 1) {
    // Records hold no paths: put them together once, side by side in one buffer.
    std::size_t total = 0;
    for (const ResultRow& row : rows) total += row.Rec->PathLength();
    std::string paths;
    paths.reserve(total);  // never reallocated below, so the keys' views stay valid
    std::vector<PathKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = paths.size();
      rows[i].Rec->AppendPath(paths);
      keys[i] = {0, TrimmedPath(std::string_view(paths).substr(at)), i};
    }
    SortByPathChunks(keys);
    order.reserve(n);
    for (const PathKey& k : keys) order.push_back(k.index);
  } else if (column >= 2 && column <= 6) {
    struct Keyed {
      std::int64_t key;
      std::size_t index;
    };
    std::vector<Keyed> keys(n);
    for (std::size_t i = 0; i < n; ++i)
      keys[i] = {NumericKey(ShownFigures(*rows[i].Rec, subtree), column, today), i};
    std::sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
      return a.key != b.key ? a.key < b.key : a.index < b.index;
    });
    order.reserve(n);
    for (const Keyed& k : keys) order.push_back(k.index);
  } else {
    // Saving: the estimated rows by their estimate, then the others in scan order; each
    // part reverses on its own when descending, so rows without an estimate stay last.
    struct Keyed {
      std::int64_t key;
      std::size_t index;
    };
    std::vector<Keyed> known;
    std::vector<std::size_t> unknown;
    for (std::size_t i = 0; i < n; ++i) {
      std::int64_t saving = 0;
      if (ShownSaving(*rows[i].Rec, savings, subtree, saving))
        known.push_back({saving, i});
      else
        unknown.push_back(i);
    }
    std::sort(known.begin(), known.end(), [](const Keyed& a, const Keyed& b) {
      return a.key != b.key ? a.key < b.key : a.index < b.index;
    });
    order.reserve(n);
    for (const Keyed& k : known) order.push_back(k.index);
    order.insert(order.end(), unknown.begin(), unknown.end());
    if (descending) {
      std::reverse(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(known.size()));
      std::reverse(order.begin() + static_cast<std::ptrdiff_t>(known.size()), order.end());
    }
  }
  if (descending && column != 7) std::reverse(order.begin(), order.end());
  // Permute in place, one cycle at a time: a second vector of rows would be a large share
  // of the peak memory of a scan of many folders.
  std::vector<bool> placed(n, false);
  for (std::size_t start = 0; start < n; ++start) {
    if (placed[start]) continue;
    ResultRow held = std::move(rows[start]);
    std::size_t at = start;
    while (order[at] != start) {
      rows[at] = std::move(rows[order[at]]);
      placed[at] = true;
      at = order[at];
    }
    rows[at] = std::move(held);
    placed[at] = true;
  }
}

}  // namespace

// The saving column's figure of a row: its own estimate, or its subtree's sum once one
// folder of the subtree is estimated.
bool ShownSaving(const FolderRec& rec, const SavingTable* savings, const SubtreeTotals* subtree,
                 std::int64_t& saving) {
  if (subtree != nullptr) {
    const SavingSum* sum = subtree->SavingOf(rec);
    if (sum == nullptr || !sum->Any()) return false;
    saving = sum->Saving;
    return true;
  }
  const SavingEstimate* estimate = KnownSaving(rec, savings);
  if (estimate == nullptr) return false;
  saving = estimate->Disk;
  return true;
}

const FolderCounts& ShownFigures(const FolderRec& rec, const SubtreeTotals* subtree) {
  if (subtree != nullptr) {
    if (const SubtreeFigures* figures = subtree->Of(rec)) return *figures;
  }
  return rec;
}

std::string CellText(const ResultRow& row, int column, double today, const SavingTable* savings,
                     const SubtreeTotals* subtree) {
  if (column == 1) return MakePathText(row.Rec->Path());
  const FolderCounts& rec = ShownFigures(*row.Rec, subtree);
  switch (column) {
    case 2: return SizeText(UnzippedBytes(rec));
    case 3: return SizeText(rec.SzZips);
    case 4: return PercentText(rec);
    case 5: return AgeText(rec.Recent, today);
    case 6: return std::to_string(ZipPriority(rec));
    case 7: {
      std::int64_t saving = 0;
      return ShownSaving(*row.Rec, savings, subtree, saving) ? SizeText(saving) : std::string();
    }
    default: return std::string();
  }
}

ResultRows FillRows(const FolderList& folders, std::uint16_t minSize, int sortColumn, double today,
                    const SavingTable* savings, const SubtreeTotals* subtree) {
  ResultRows result;
  if (folders.Empty()) return result;

  // Reserve exactly: on trees of many folders the rows are a large share of peak memory.
  std::size_t qualifying = 0;
  // Subtree figures are looked up by the record's place in the list, which is its index
  // in the totals as well.
  const bool bySubtree = subtree != nullptr && subtree->Size() == folders.Count();
  auto figuresAt = [&](std::int64_t i) -> const FolderCounts& {
    if (bySubtree) return subtree->Figures(i);
    return folders[i];
  };
  const std::int64_t count = folders.Count();
  for (std::int64_t i = 0; i < count; ++i) qualifying += MeetsMinSize(figuresAt(i), minSize) ? 1 : 0;
  result.Rows.reserve(qualifying);
  __int128 sumSizes = 0;  // many folders near the 64-bit limit still add up exactly
  __int128 sumZips = 0;
  // Subtrees nest: a listed folder inside another listed one is already in its sums, so
  // the gauge adds up only the outermost listed subtrees.
  std::vector<bool> insideListed(bySubtree ? static_cast<std::size_t>(count) : 0, false);
  for (std::int64_t i = 0; i < count; ++i) {
    const FolderCounts& figures = figuresAt(i);
    const bool listed = MeetsMinSize(figures, minSize);
    bool counted = listed;
    if (bySubtree) {
      const std::int64_t parent = subtree->Parent(i);
      const bool inside = parent != SubtreeTotals::kNone &&
                          (insideListed[static_cast<std::size_t>(parent)] ||
                           MeetsMinSize(subtree->Figures(parent), minSize));
      insideListed[static_cast<std::size_t>(i)] = inside;
      counted = listed && !inside;
    }
    if (!listed) continue;
    if (counted) {
      sumSizes += figures.SzFiles;
      sumZips += figures.SzZips;
    }
    result.Rows.push_back(ResultRow{&folders[i]});
  }
  if (sumSizes > 0) {
    // Integer arithmetic: in floating point 29 of 100 would truncate to 28.
    const __int128 percent = sumZips * 100 / sumSizes;
    result.GaugePercent = static_cast<int>(std::clamp<__int128>(percent, 0, 100));
  }

  const int column = sortColumn < 0 ? -sortColumn : sortColumn;
  SortRows(folders, result.Rows, column, sortColumn < 0, today, savings, subtree);
  return result;
}

int CompareNumberText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() > b.size() ? 1 : -1;
  return a.compare(b) > 0 ? 1 : -1;  // compares as unsigned bytes
}

std::int64_t AgeKey(const std::string& ageText) {
  if (ageText == "today") return 0;
  if (ageText == "yesterday") return 1;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t key = 0;
  for (char c : ageText) {
    if (c < '0' || c > '9') continue;
    const int digit = c - '0';
    key = key > (kMax - digit) / 10 ? kMax : key * 10 + digit;  // saturates on absurd texts
  }
  return key;
}

int CompareRows(const ResultRow& a, const ResultRow& b, int sortColumn, double today) {
  const int column = sortColumn < 0 ? -sortColumn : sortColumn;
  bool after = false;
  switch (column) {
    case 1:
      after = PathSortText(a.Rec->Path()).compare(PathSortText(b.Rec->Path())) > 0;
      break;
    case 2:
    case 3:
    case 4:
    case 6:
      after = CompareNumberText(CellText(a, column, today), CellText(b, column, today)) > 0;
      break;
    case 5:
      after = AgeKey(CellText(a, 5, today)) > AgeKey(CellText(b, 5, today));
      break;
    default:
      break;
  }
  const int result = after ? 1 : -1;
  return sortColumn < 0 ? -result : result;
}

int NextSortColumn(int sortColumn, int clickedColumn) {
  return clickedColumn == sortColumn ? -sortColumn : clickedColumn;
}

}  // namespace orbelan
