#include "cli/tree_json.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <ostream>
#include <vector>

#include "cli/report_format.h"
#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "estimate/saving_estimate.h"
#include "survey/subtree_totals.h"

namespace orbelan {
namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when the byte there does
// not start one (Unicode's table of well-formed byte sequences).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(at);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++at;
    } else if (c < 0x20) {
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
      ++at;
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++at;
    } else if (const std::size_t length = Utf8SequenceAt(text, at); length > 0) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++at;
    }
  }
  out.push_back('"');
}

void AppendNumber(std::string& out, std::int64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out.append(buffer.data(), result.ptr);
}

void Member(std::string& out, std::string_view key, std::int64_t value) {
  out.push_back('"');
  out.append(key);
  out += "\":";
  AppendNumber(out, value);
  out.push_back(',');
}

void AppendFigures(std::string& out, const FolderCounts& figures, double today) {
  Member(out, "files", figures.NFiles);
  Member(out, "bytes", figures.SzFiles);
  Member(out, "zip_files", figures.NZips);
  Member(out, "zip_bytes", figures.SzZips);
  Member(out, "ignored_files", figures.NIgno);
  Member(out, "ignored_bytes", figures.SzIgno);
  out += "\"newest\":";
  out += DayNumberText(figures.Recent);
  out.push_back(',');
  Member(out, "unzipped", UnzippedBytes(figures));
  Member(out, "percent", ZipPercent(figures));
  Member(out, "priority", ZipPriority(figures));
  out += "\"age\":";
  AppendJsonString(out, AgeText(figures.Recent, today));
}

void AppendSaving(std::string& out, std::int64_t saving, std::int64_t low, std::int64_t high,
                  std::int64_t sampled) {
  out += ",\"saving\":{";
  Member(out, "saving", saving);
  Member(out, "low", low);
  Member(out, "high", high);
  Member(out, "sampled", sampled);
  out.back() = '}';
}

// The folder's name below its parent; the whole path for a folder at the top.
std::string_view NameOf(const SubtreeTotals& totals, std::int64_t index) {
  const FolderRec& rec = totals.Record(index);
  const std::int64_t parent = totals.Parent(index);
  if (parent == SubtreeTotals::kNone || rec.Parent() != nullptr) return rec.Name();
  // A record that holds its whole path under a parent found by its path.
  const std::string_view whole = rec.Name();
  std::string_view name = whole.substr(totals.Record(parent).PathLength());
  if (!name.empty() && name.back() == '/') name.remove_suffix(1);
  return name;
}

void AppendFolder(std::string& out, const SubtreeTotals& totals, std::int64_t index,
                  const TreeJsonOptions& options) {
  const FolderRec& rec = totals.Record(index);
  const std::string_view name = NameOf(totals, index);
  out += "{\"name\":";
  AppendJsonString(out, name);
  if (!IsUtf8(name)) {
    out += ",\"name_bytes\":\"";
    out += PercentEncoded(name);
    out.push_back('"');
  }
  out += ",\"own\":{";
  AppendFigures(out, rec, options.today);
  if (options.estimateOf != nullptr) {
    const SavingEstimate* estimate = (*options.estimateOf)(rec);
    if (estimate != nullptr && estimate->Known)
      AppendSaving(out, estimate->Disk, estimate->DiskLow, estimate->DiskHigh, estimate->Sampled);
    else
      out += ",\"saving\":null";
  }
  out += "},\"subtree\":{";
  const SubtreeFigures& figures = totals.Figures(index);
  Member(out, "folders", figures.NFolders);
  AppendFigures(out, figures, options.today);
  if (const SavingSum* sum = totals.SavingOf(index); sum != nullptr && options.estimateOf != nullptr) {
    AppendSaving(out, sum->Saving, sum->Low, sum->High, sum->Sampled);
    out.pop_back();
    out += ",\"estimated\":";
    AppendNumber(out, sum->Estimated);
    out += ",\"missing\":";
    AppendNumber(out, sum->Missing);
    out.push_back('}');
  }
  out += "},\"children\":[";
}

}  // namespace

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

std::string PercentEncoded(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

void WriteTreeJson(std::ostream& out, const SubtreeTotals& totals, const TreeJsonOptions& options) {
  if (totals.Empty()) {
    out << "null\n";
    return;
  }
  const bool several = totals.Roots().size() > 1;
  std::string buffer;
  constexpr std::size_t kFlushAt = 64 * 1024;
  buffer.reserve(kFlushAt + 4096);
  if (several) buffer.push_back('[');
  // The folders whose children are still being written, outermost first; records come
  // depth-first, so a folder's object closes when the next record is not below it.
  struct Open {
    std::int64_t index;
    bool hasChild;
  };
  std::vector<Open> open;
  bool anyRoot = false;
  for (std::int64_t i = 0; i < totals.Size(); ++i) {
    const std::int64_t parent = totals.Parent(i);
    while (!open.empty() && open.back().index != parent) {
      buffer += "]}";
      open.pop_back();
    }
    if (!open.empty()) {
      if (open.back().hasChild) buffer.push_back(',');
      open.back().hasChild = true;
    } else {
      if (anyRoot) buffer.push_back(',');
      anyRoot = true;
    }
    AppendFolder(buffer, totals, i, options);
    open.push_back({i, false});
    if (buffer.size() >= kFlushAt) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  while (!open.empty()) {
    buffer += "]}";
    open.pop_back();
  }
  if (several) buffer.push_back(']');
  buffer.push_back('\n');
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

}  // namespace orbelan
