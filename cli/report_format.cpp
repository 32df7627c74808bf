#include "cli/report_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <ostream>

#include "numbers/saturating_sum.h"
#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"

namespace orbelan {
namespace {

constexpr std::array<std::string_view, 7> kHeaders = {"Path",        "Unzipped", "Zipped", "%",
                                                     "Most Recent", "Priority", "Saving"};

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

std::string CsvEstimateHeader() {
  return ",saving,saving_low,saving_high,sampled,saving_bytes,allocated,fs_compressed";
}

std::string CsvEstimateFields(const SavingEstimate& estimate) {
  if (!estimate.Known) return ",,,,,,,";
  std::string out;
  for (std::int64_t n : {estimate.Disk, estimate.DiskLow, estimate.DiskHigh, estimate.Sampled,
                         estimate.Saving, estimate.Allocated, estimate.FsCompressed}) {
    out.push_back(',');
    out += std::to_string(n);
  }
  return out;
}

std::string EstimateTotalLine(const std::vector<SavingEstimate>& estimates) {
  std::int64_t saving = 0, low = 0, high = 0;
  std::size_t unknown = 0;
  for (const SavingEstimate& e : estimates) {
    if (!e.Known) {
      ++unknown;
      continue;
    }
    AddSize(saving, e.Disk);
    AddSize(low, e.DiskLow);
    AddSize(high, e.DiskHigh);
  }
  std::string line = "Estimated saving: " + GroupedNumber(saving) + " bytes of disk";
  if (low != high) line += " (" + GroupedNumber(low) + " to " + GroupedNumber(high) + ")";
  if (unknown > 0) {
    line += ", " + std::to_string(unknown) + (unknown == 1 ? " folder" : " folders") + " not estimated";
  }
  return line;
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

std::string CsvLine(const FolderRec& rec, double today) { return CsvLine(rec, rec, today); }

std::string CsvLine(const FolderRec& path, const FolderCounts& rec, double today) {
  std::string line = CsvField(path.Path());
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

namespace {

// The six columns of the list, and the Saving column when estimates are given.
void WriteColumns(std::ostream& out, const ResultRows& rows, double today,
                  const TableExtras& extras) {
  const std::vector<SavingEstimate>* estimates = extras.estimates;
  const std::size_t columns = estimates != nullptr ? 7 : 6;
  std::array<std::string, 7> cells;
  auto makeCells = [&](std::size_t index) {
    const ResultRow& row = rows.Rows[index];
    for (std::size_t c = 0; c < 6; ++c)
      cells[c] = CellText(row, static_cast<int>(c) + 1, today, nullptr, extras.subtree);
    cells[0] = TerminalSafe(cells[0]);
    if (columns == 7) {
      const bool known = index < estimates->size() && (*estimates)[index].Known;
      cells[6] = known ? SizeText((*estimates)[index].Disk) : std::string();
    }
  };

  std::array<std::size_t, 7> widths{};
  for (std::size_t c = 0; c < columns; ++c) widths[c] = DisplayWidth(kHeaders[c]);
  for (std::size_t i = 0; i < rows.Rows.size(); ++i) {
    makeCells(i);
    for (std::size_t c = 0; c < columns; ++c) widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
  }
  // A path wider than this stands on a line of its own, its figures on the next, so that
  // one deep folder does not push every other line's figures off the screen.
  widths[0] = std::min(widths[0], kWidestPathColumn);

  std::string line;
  auto emit = [&](const auto& texts) {
    line.clear();
    for (std::size_t c = 0; c < columns; ++c) {
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
  for (std::size_t i = 0; i < rows.Rows.size(); ++i) {
    makeCells(i);
    emit(cells);
  }
  out << "% Zipped: " << rows.GaugePercent << '\n';
  if (estimates != nullptr) out << EstimateTotalLine(extras.total ? *extras.total : *estimates) << '\n';
}

}  // namespace

void WriteTable(std::ostream& out, const ResultRows& rows, double today) {
  WriteColumns(out, rows, today, TableExtras{});
}

void WriteTable(std::ostream& out, const ResultRows& rows, double today,
                const std::vector<SavingEstimate>& estimates) {
  TableExtras extras;
  extras.estimates = &estimates;
  WriteColumns(out, rows, today, extras);
}

void WriteTable(std::ostream& out, const ResultRows& rows, double today, const TableExtras& extras) {
  WriteColumns(out, rows, today, extras);
}

}  // namespace orbelan
