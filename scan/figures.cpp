#include "scan/figures.h"

#include <clocale>
#include <cmath>
#include <limits>

#include "numbers/saturating_sum.h"
#include "platform/day_number.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

constexpr char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether raw, lower-cased, equals entry byte for byte. Compares on the fly so that the
// per-file tests never allocate; a length mismatch rejects at once.
bool EqualsLowered(std::string_view raw, const std::string& entry) {
  if (raw.size() != entry.size()) return false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (LowerByte(raw[i]) != entry[i]) return false;
  }
  return true;
}

bool AnyEqualsLowered(std::string_view raw, const EntryList& list) {
  const int count = list.Count < kListCapacity ? list.Count : kListCapacity;
  for (int i = 0; i < count; ++i) {
    if (EqualsLowered(raw, list.Items[i])) return true;
  }
  return false;
}

// From the last "." to the end, dot included; empty when there is no dot.
std::string_view ExtensionOf(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : fileName.substr(dot);
}

// The underscore rule or a ZipExts entry; ext is taken in any case.
bool ZipExtAnyCase(std::string_view ext, const ScanRules& rules) {
  if (!ext.empty() && ext.back() == '_') return true;
  return AnyEqualsLowered(ext, rules.ZipExts);
}

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

struct SeparatorCache {
  std::string text;
  bool known = false;
};

SeparatorCache& Separator() {
  static SeparatorCache cache;
  return cache;
}

// Characters in a UTF-8 text: every byte that is not a continuation byte starts one.
std::size_t CharCount(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerByte(c);
  return out;
}

bool IsIgnoredPath(std::string_view folderPath, const ScanRules& rules) {
  return AnyEqualsLowered(folderPath, rules.IgnorePaths);
}

bool IsIgnoredFile(std::string_view fileName, const ScanRules& rules) {
  return AnyEqualsLowered(ExtensionOf(fileName), rules.IgnoreExts);
}

bool IsZipExt(std::string_view lowerExt, const ScanRules& rules) {
  if (!lowerExt.empty() && lowerExt.back() == '_') return true;
  const int count = rules.ZipExts.Count < kListCapacity ? rules.ZipExts.Count : kListCapacity;
  for (int i = 0; i < count; ++i) {
    if (lowerExt == rules.ZipExts.Items[i]) return true;
  }
  return false;
}

bool IsUnzippedFile(std::string_view fileName, const ScanRules& rules) {
  const std::string_view ext = ExtensionOf(fileName);
  return !AnyEqualsLowered(ext, rules.IgnoreExts) && !ZipExtAnyCase(ext, rules);
}

bool TallyFile(FolderRec& rec, std::string_view fileName, std::int64_t size, double modified,
               const ScanRules& rules) {
  const std::string_view ext = ExtensionOf(fileName);
  if (AnyEqualsLowered(ext, rules.IgnoreExts)) {
    ++rec.NIgno;
    AddSize(rec.SzIgno, size);
    return false;
  }
  ++rec.NFiles;
  AddSize(rec.SzFiles, size);
  if (modified > rec.Recent) rec.Recent = modified;
  if (ZipExtAnyCase(ext, rules)) {
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

std::string PercentText(const FolderCounts& rec) {
  if (rec.SzFiles <= 0) return " ";
  return std::to_string(ZipPercent(rec)) + "%";
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

std::int64_t DaysAgo(double recent, double today) {
  double days = std::floor(today) - std::floor(recent);
  // Day numbers of real files are far inside this; the clamp only keeps the cast defined.
  constexpr double kLimit = 1e15;
  if (std::isnan(days)) days = 0;
  if (days > kLimit) days = kLimit;
  if (days < -kLimit) days = -kLimit;
  return static_cast<std::int64_t>(days);
}

std::string AgeText(double recent, double today) {
  if (!(recent > 0)) return " ";
  const std::int64_t n = DaysAgo(recent, today);
  if (n == 0) return "today";
  if (n == 1) return "yesterday";
  return std::to_string(n) + " days ago";
}

double LocalToday() { return TodayDayNumber(); }

std::string AgeText(double recent) { return AgeText(recent, LocalToday()); }

std::string GroupedNumber(std::int64_t value) {
  std::string text = SizeText(value);
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

void SetThousandsSeparator(std::string_view separator) {
  SeparatorCache& cache = Separator();
  cache.text = separator.empty() ? std::string(",") : std::string(separator);
  cache.known = true;
}

void ResetThousandsSeparator() { Separator().known = false; }

const std::string& ThousandsSeparator() {
  SeparatorCache& cache = Separator();
  if (!cache.known) {
    const std::lconv* conv = std::localeconv();
    const char* sep = conv != nullptr ? conv->thousands_sep : nullptr;
    SetThousandsSeparator(sep != nullptr ? std::string_view(sep) : std::string_view{});
  }
  return cache.text;
}

std::string SizeText(std::int64_t bytes) {
  constexpr std::size_t kWidth = 12;
  const std::string& sep = ThousandsSeparator();
  const bool negative = bytes < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);

  char digits[20];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  const std::size_t groups = (count - 1) / 3;
  const std::size_t chars = (negative ? 1 : 0) + count + groups * CharCount(sep);
  const std::size_t pad = chars < kWidth ? kWidth - chars : 0;

  std::string out;
  out.reserve(pad + (negative ? 1 : 0) + count + groups * sep.size());
  out.append(pad, ' ');
  if (negative) out.push_back('-');
  for (std::size_t i = count; i-- > 0;) {
    out.push_back(digits[i]);
    if (i != 0 && i % 3 == 0) out += sep;
  }
  return out;
}

}  // namespace orbelan
