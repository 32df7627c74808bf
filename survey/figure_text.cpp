#include "survey/figure_text.h"

#include <clocale>
#include <cmath>

#include "platform/day_number.h"
#include "scan/folder_figures.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

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

std::string PercentText(const FolderCounts& rec) {
  if (rec.SzFiles <= 0) return " ";
  return std::to_string(ZipPercent(rec)) + "%";
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
