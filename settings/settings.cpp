#include "settings/settings.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <limits>
#include <string>

#include "platform/ini_profile.h"
#include "platform/system_paths.h"

namespace orbelan {

namespace {

constexpr std::string_view kSection = "MAIN";
constexpr std::uint16_t kMinSizeDefault = 100;
constexpr std::uint16_t kCountDefault = 0;
constexpr std::uint16_t kEstimateDefault = 1;

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A settings number: leading blanks, an optional sign, then decimal digits, or hex digits
// after "$" or after "0x"/"0X" (the latter only when the text is longer than two characters).
// Anything else, an empty text or trailing characters give fallback. The value is held in
// 16 bits, so the low 16 bits of the number are kept (70000 -> 4464, -1 -> 65535).
// A number too large for 64 bits counts as not a number rather than wrapping silently.
std::uint16_t ReadNumber(std::string_view text, std::uint16_t fallback) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (text.size() > 2 && i + 1 < text.size() && text[i] == '0' &&
             (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return fallback;

  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return fallback;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return fallback;
    magnitude = magnitude * base + static_cast<unsigned>(digit);
  }
  if (base == 10) {
    // Decimal numbers are signed 64-bit: up to 2^63 - 1, down to -2^63.
    const std::uint64_t limit = std::uint64_t{1} << 63;
    if (negative ? magnitude > limit : magnitude >= limit) return fallback;
  }
  // Unsigned arithmetic wraps by definition, so negation and truncation are exact.
  std::uint64_t value = negative ? (std::uint64_t{0} - magnitude) : magnitude;
  return static_cast<std::uint16_t>(value & 0xFFFFu);
}

// A line of the file holds one value: an entry with a line break (a folder name may hold
// one) is written up to the break, so it cannot add keys or sections of its own.
std::string_view OneLine(std::string_view value) {
  return value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
}

void LoadList(const IniFile& file, std::string_view countKey, std::string_view prefix,
              EntryList& list) {
  std::uint16_t count = ReadNumber(file.GetString(kSection, countKey), kCountDefault);
  if (count > kListCapacity) count = kListCapacity;  // the table holds no more
  list.Clear();
  for (int n = 1; n <= count; ++n) {
    // A missing key reads as empty and still counts.
    list.Items[n - 1] = file.GetString(kSection, std::string(prefix) + std::to_string(n));
  }
  for (int n = count; n < kListCapacity; ++n) list.Items[n].clear();
  list.Count = count;
}

}  // namespace

void Settings::SetProgramDir(std::string_view programPath) {
  std::size_t slash = programPath.rfind('/');
  // A bare program name carries no folder: it stands for the folder we run in.
  std::string folder = slash == std::string_view::npos
                           ? CurrentFolder()
                           : std::string(programPath.substr(0, slash + 1));
  // Linux names are case-sensitive, so the folder keeps its real case.
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  ProgramDir = folder;
  FileName = SettingsFolderFor(ProgramDir) + std::string(kSettingsFileName);
}

namespace {

constexpr std::string_view kWindowSection = "WINDOW";

// A signed whole number of the window section, or nullopt when the text is not one.
std::optional<int> ReadInt(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || text.empty()) return std::nullopt;
  return value;
}

WindowPlace LoadWindowPlace(const IniFile& file) {
  WindowPlace place;
  const auto left = ReadInt(file.GetString(kWindowSection, "Left"));
  const auto top = ReadInt(file.GetString(kWindowSection, "Top"));
  const auto width = ReadInt(file.GetString(kWindowSection, "Width"));
  const auto height = ReadInt(file.GetString(kWindowSection, "Height"));
  if (!left || !top || !width || !height || *width <= 0 || *height <= 0) return place;
  place.Known = true;
  place.Left = *left;
  place.Top = *top;
  place.Width = *width;
  place.Height = *height;
  place.Maximized = ReadInt(file.GetString(kWindowSection, "Maximized")).value_or(0) != 0;
  for (std::size_t c = 0; c < place.Columns.size(); ++c) {
    const auto width = ReadInt(file.GetString(kWindowSection, "Column" + std::to_string(c + 1)));
    place.Columns[c] = width && *width > 0 ? *width : 0;
  }
  return place;
}

}  // namespace

void Settings::LoadSettings() {
  IniFile file(FileName);
  if (!file.Exists()) {
    SetDefaults();
    return;
  }
  MinSize = ReadNumber(file.GetString(kSection, "minSize"), kMinSizeDefault);
  LoadList(file, "NumZips", "Zip", ZipExts);
  LoadList(file, "NumPaths", "Path", IgnorePaths);
  LoadList(file, "NumFav", "Fav", Favorites);
  LoadList(file, "NumExt", "Ext", IgnoreExts);
  EstimateSavings = ReadNumber(file.GetString(kSection, "EstimateSavings"), kEstimateDefault) != 0;
  Window = LoadWindowPlace(file);
  View = ViewChoices{};
  View.Tree = ReadInt(file.GetString(kWindowSection, "Tree")).value_or(0) != 0;
  View.SubtreeRows = ReadInt(file.GetString(kWindowSection, "SubtreeTotals")).value_or(0) != 0;
  View.HideSmallSavings = ReadInt(file.GetString(kWindowSection, "HideSmallSavings")).value_or(0) != 0;
  if (const auto below = ReadInt(file.GetString(kWindowSection, "HideSavingBelowKB")); below && *below >= 0)
    View.HideSavingBelowKB = *below;
  ReadableFigures = ReadInt(file.GetString(kWindowSection, "ReadableFigures")).value_or(0) != 0;
}

IniWrites Settings::Writes() const {
  IniWrites writes;
  auto write = [&writes](std::string_view section, std::string key, std::string_view value) {
    writes.push_back({std::string(section), std::move(key), std::string(OneLine(value))});
  };
  auto writeList = [&](const char* countKey, const char* prefix, const EntryList& list) {
    write(kSection, countKey, std::to_string(list.Count));
    for (int n = 1; n <= list.Count; ++n) {
      write(kSection, prefix + std::to_string(n), list.Items[n - 1]);
    }
  };
  write(kSection, "minSize", std::to_string(MinSize));
  writeList("NumZips", "Zip", ZipExts);
  writeList("NumPaths", "Path", IgnorePaths);
  writeList("NumFav", "Fav", Favorites);
  writeList("NumExt", "Ext", IgnoreExts);
  write(kSection, "EstimateSavings", EstimateSavings ? "1" : "0");
  if (Window.Known) {
    write(kWindowSection, "Left", std::to_string(Window.Left));
    write(kWindowSection, "Top", std::to_string(Window.Top));
    write(kWindowSection, "Width", std::to_string(Window.Width));
    write(kWindowSection, "Height", std::to_string(Window.Height));
    write(kWindowSection, "Maximized", Window.Maximized ? "1" : "0");
    for (std::size_t c = 0; c < Window.Columns.size(); ++c)
      write(kWindowSection, "Column" + std::to_string(c + 1), std::to_string(Window.Columns[c]));
    // Written with the window's place: the window that made the choices saves it on close.
    write(kWindowSection, "ReadableFigures", ReadableFigures ? "1" : "0");
    write(kWindowSection, "Tree", View.Tree ? "1" : "0");
    write(kWindowSection, "SubtreeTotals", View.SubtreeRows ? "1" : "0");
    write(kWindowSection, "HideSmallSavings", View.HideSmallSavings ? "1" : "0");
    write(kWindowSection, "HideSavingBelowKB", std::to_string(View.HideSavingBelowKB));
  }
  return writes;
}

void Settings::SaveSettings() const {
  PrepareSettingsFolder(FileName);  // a failure shows as the refused write below
  if (!UpdateIniFile(FileName, Writes())) {
    throw SettingsWriteError("Unable to write to " + FileName);
  }
}

ScanRules Settings::Rules() const {
  ScanRules rules;
  rules.ZipExts = ZipExts;
  rules.IgnorePaths = IgnorePaths;
  rules.IgnoreExts = IgnoreExts;
  rules.MinSize = MinSize;
  return rules;
}

void Settings::SetDefaults() {
  MinSize = 0;
  ZipExts.Clear();
  for (std::string_view ext : kDefaultZipExts) ZipExts.Append(std::string(ext));
  IgnorePaths.Clear();
  for (const std::string& path : DefaultIgnoredPaths()) IgnorePaths.Append(path);
  Favorites.Clear();
  IgnoreExts.Clear();
  EstimateSavings = true;
  Window = {};
  View = {};
}

}  // namespace orbelan
