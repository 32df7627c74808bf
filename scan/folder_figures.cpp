#include "scan/folder_figures.h"

#include <limits>

#include "numbers/saturating_sum.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"

namespace orbelan {
namespace {

// num / den rounded to the nearest whole number, halves to even; den > 0. Exact, so
// that a true half is recognised even where floating point would land beside it.
template <typename Int>
Int RoundHalfEven(Int num, Int den) {
  Int q = num / den;
  Int r = num % den;
  if (r < 0) {  // floor division
    q -= 1;
    r += den;
  }
  // 0 <= r < den, so den - r cannot overflow where 2 * r might.
  if (r > den - r || (r == den - r && (q % 2) != 0)) q += 1;
  return q;
}

std::int64_t ClampToInt64(__int128 v) {
  constexpr __int128 lo = std::numeric_limits<std::int64_t>::min();
  constexpr __int128 hi = std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(v < lo ? lo : (v > hi ? hi : v));
}

}  // namespace

bool TallyFile(FolderRec& rec, std::string_view fileName, std::int64_t size, double modified,
               const ScanRules& rules) {
  const FileKind kind = KindOfFile(fileName, rules);
  if (kind == FileKind::Ignored) {
    ++rec.NIgno;
    AddSize(rec.SzIgno, size);
    return false;
  }
  ++rec.NFiles;
  AddSize(rec.SzFiles, size);
  if (modified > rec.Recent) rec.Recent = modified;
  if (kind == FileKind::Archive) {
    ++rec.NZips;
    AddSize(rec.SzZips, size);
    return false;
  }
  return true;
}

std::int64_t UnzippedBytes(const FolderCounts& rec) { return rec.SzFiles - rec.SzZips; }

int ZipPercent(const FolderCounts& rec) {
  if (rec.SzFiles <= 0) return 0;
  std::int64_t scaled = 0;
  __int128 p;
  if (!__builtin_mul_overflow(rec.SzZips, std::int64_t{100}, &scaled)) {
    p = RoundHalfEven<std::int64_t>(scaled, rec.SzFiles);  // the usual case, and much faster
  } else {
    p = RoundHalfEven<__int128>(static_cast<__int128>(rec.SzZips) * 100, rec.SzFiles);
  }
  constexpr __int128 lo = std::numeric_limits<int>::min();
  constexpr __int128 hi = std::numeric_limits<int>::max();
  return static_cast<int>(p < lo ? lo : (p > hi ? hi : p));
}

std::int64_t ZipPriority(const FolderCounts& rec) {
  const std::int64_t unzipped = UnzippedBytes(rec);
  if (unzipped == 0) return 0;
  const int p = ZipPercent(rec);
  const __int128 priority =
      static_cast<__int128>(RoundHalfEven<std::int64_t>(unzipped, 100000)) + (100 - p) / 2 + p / 2;
  return priority < 0 ? 0 : ClampToInt64(priority);
}

bool MeetsMinSize(const FolderCounts& rec, std::uint16_t minSize) {
  return rec.SzFiles / 1024 > static_cast<std::int64_t>(minSize);
}

}  // namespace orbelan
