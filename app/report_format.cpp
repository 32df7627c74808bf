#include "app/report_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ostream>

#include "survey/figures.h"
#include "survey/folder_list.h"
#include "survey/results.h"

namespace orbelan {
namespace {

constexpr std::array<std::string_view, 6> kHeaders = {"Path",        "Unzipped", "Zipped", "%",
                                                     "Most Recent", "Priority"};

// Characters as a terminal counts them, near enough: every byte that does not continue
// a UTF-8 sequence.
std::size_t DisplayWidth(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

void Pad(std::string& out, std::size_t count) { out.append(count, ' '); }

constexpr std::size_t kWidestPathColumn = 60;

}  // namespace

std::string CsvHeader() {
  return "path,files,bytes,zip_files,zip_bytes,ignored_files,ignored_bytes,newest,unzipped,"
         "percent,priority,age";
}

std::string CsvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string DayNumberText(double dayNumber) {
  if (dayNumber == 0) return "0";
  std::array<char, 64> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), dayNumber, std::chars_format::fixed, 6);
  return std::string(buffer.data(), result.ptr);
}

std::string CsvLine(const FolderRec& rec, double today) {
  std::string line = CsvField(rec.Path);
  for (std::int64_t n : {rec.NFiles, rec.SzFiles, rec.NZips, rec.SzZips, rec.NIgno, rec.SzIgno}) {
    line.push_back(',');
    line += std::to_string(n);
  }
  line.push_back(',');
  line += DayNumberText(rec.Recent);
  line.push_back(',');
  line += std::to_string(UnzippedBytes(rec));
  line.push_back(',');
  line += std::to_string(ZipPercent(rec));
  line.push_back(',');
  line += std::to_string(ZipPriority(rec));
  line.push_back(',');
  line += CsvField(AgeText(rec.Recent, today));
  return line;
}

std::string TerminalSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return out;
}

void WriteTable(std::ostream& out, const ResultRows& rows, double today) {
  std::array<std::string, 6> cells;
  auto makeCells = [&](const ResultRow& row) {
    for (int c = 0; c < 6; ++c) cells[c] = CellText(row, c + 1, today);
    cells[0] = TerminalSafe(cells[0]);
  };

  std::array<std::size_t, 6> widths{};
  for (std::size_t c = 0; c < kHeaders.size(); ++c) widths[c] = DisplayWidth(kHeaders[c]);
  for (const ResultRow& row : rows.Rows) {
    makeCells(row);
    for (std::size_t c = 0; c < 6; ++c) widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
  }
  // A path wider than this stands on a line of its own, its figures on the next, so that
  // one deep folder does not push every other line's figures off the screen.
  widths[0] = std::min(widths[0], kWidestPathColumn);

  std::string line;
  auto emit = [&](const auto& texts) {
    line.clear();
    for (std::size_t c = 0; c < 6; ++c) {
      const std::string_view text = texts[c];
      const std::size_t width = DisplayWidth(text);
      if (c > 0) line += "  ";
      if (c == 0) {  // the path reads from the left; figures line up on the right
        line += text;
        if (width > widths[0]) {
          line.push_back('\n');
          Pad(line, widths[0]);
        } else {
          Pad(line, widths[0] - width);
        }
      } else {
        Pad(line, widths[c] - width);
        line += text;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line.push_back('\n');
    out << line;
  };
  emit(kHeaders);
  for (const ResultRow& row : rows.Rows) {
    makeCells(row);
    emit(cells);
  }
  out << "% Zipped: " << rows.GaugePercent << '\n';
}

}  // namespace orbelan
