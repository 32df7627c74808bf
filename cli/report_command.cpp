#include "cli/report_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <charconv>
#include <chrono>
#include <functional>
#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

#include "platform/dir_reader.h"
#include "platform/start_path.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "cli/empty_report.h"
#include "cli/report_format.h"
#include "cli/tree_json.h"
#include "survey/figure_text.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"
#include "survey/saving_table.h"
#include "scan/scanner.h"
#include "survey/subtree_totals.h"
#include "survey/survey_session.h"

namespace orbelan {
namespace {

bool ParseSortColumn(std::string_view text, int& column) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end) return false;
  if (value == 0 || value < -kColumnCount || value > kColumnCount) return false;
  column = value;
  return true;
}

bool ParseThreads(std::string_view text, int& threads) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || value < 1) return false;
  threads = std::min(value, Scanner::kMaxThreads);
  return true;
}

// The command's face of the scan: progress on a terminal, Ctrl+C as a confirmed cancel.
class ReportObserver : public ScanObserver {
 public:
  explicit ReportObserver(const ReportContext& context) : context_(context) {}

  void Attach(SurveySession& session) { session_ = &session; }

  void FoldersFound(std::int64_t count) override {
    if (Due()) Line(std::to_string(count) + " folders found");
  }
  void ScanFilesStarted(std::int64_t total) override {
    if (context_.showProgress) Line(std::to_string(total) + " folders found");
    last_ = {};
  }
  void FolderProgress(std::int64_t index, std::int64_t total) override {
    if (!context_.showProgress || (index != total && !Due())) return;
    constexpr std::size_t kWidth = 30;
    const auto filled = static_cast<std::size_t>(index * kWidth / total);
    std::string text;
    text.reserve(80);
    text.push_back('[');
    text.append(filled, '#');
    text.append(kWidth - filled, '.');
    text.append("] ");
    text.append(std::to_string(index * 100 / total));
    text.append("% (");
    text.append(std::to_string(index));
    text.push_back('/');
    text.append(std::to_string(total));
    text.append(" folders)");
    Line(text);
  }
  void PumpMessages() override {
    if (context_.interrupted != nullptr && *context_.interrupted != 0 && session_ != nullptr)
      session_->RequestCancel();
  }
  bool QuitRequested() override { return false; }
  bool AskCancel() override { return true; }  // Ctrl+C needs no second confirmation
  void ShowMsg(std::string_view, std::string_view) override {}

  void Finish() {
    if (shown_) *context_.err << "\r\033[K" << std::flush;
  }

 private:
  // At most ten progress lines a second.
  bool Due() {
    if (!context_.showProgress) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return false;
    last_ = now;
    return true;
  }
  void Line(const std::string& text) {
    *context_.err << "\r\033[K" << text << std::flush;
    shown_ = true;
  }

  const ReportContext& context_;
  SurveySession* session_ = nullptr;
  std::chrono::steady_clock::time_point last_{};
  bool shown_ = false;
};

// Estimates the given folders with the session's workers, largest Unzipped first, showing
// "Estimating savings: N of M folders" on a terminal at most ten times a second. Waits on
// the results themselves, so it returns as soon as the last one is in. False when
// interrupted.
bool EstimateFolders(SurveySession& session, const std::vector<const FolderRec*>& folders,
                     const ReportContext& context) {
  const std::int64_t total = static_cast<std::int64_t>(folders.size());
  bool shown = false;
  auto progress = [&](std::int64_t done) {
    if (!context.showProgress) return;
    *context.err << "\r\033[KEstimating savings: " << GroupedNumber(done) << " of " << GroupedNumber(total)
                 << " folders" << std::flush;
    shown = true;
  };
  // The line is up before any worker starts: an estimate that ends at once still said what
  // it was doing (and a Ctrl+C seen while it says so cancels the report).
  progress(0);
  auto interrupted = [&] { return context.interrupted != nullptr && *context.interrupted != 0; };
  session.Estimate(folders);
  constexpr auto kLinePeriod = std::chrono::milliseconds(100);
  auto lastLine = std::chrono::steady_clock::now();
  while (session.Estimating()) {
    if (interrupted()) {
      session.StopEstimate();
      break;
    }
    // A Ctrl+C is seen within the period; the last result ends the wait at once.
    session.WaitForEnd(kLinePeriod);
    session.TakeResults();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLine >= kLinePeriod && session.Estimating()) {
      progress(session.Estimated());
      lastLine = now;
    }
  }
  if (shown) *context.err << "\r\033[K" << std::flush;
  return !interrupted();
}

// A subtree's saving as one estimate, for the table and the CSV fields.
SavingEstimate AsEstimate(const SavingSum* sum) {
  SavingEstimate estimate;
  if (sum == nullptr || !sum->Any()) return estimate;
  estimate.Known = true;
  estimate.Disk = sum->Saving;  // sums of the disk figures
  estimate.DiskLow = sum->Low;
  estimate.DiskHigh = sum->High;
  estimate.Sampled = sum->Sampled;
  return estimate;
}

// A report that did not reach its reader is a failure, not a success.
int FinishReport(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return kReportOk;
  err << "orbelan-report: could not write the report\n";
  return kReportWriteFailed;
}

// Subtree figures need every folder's estimate, listed or not: the folders with bytes to
// zip are estimated, and the sums are made in the totals.
bool EstimateSubtrees(SurveySession& session, const ReportContext& context) {
  if (!EstimateFolders(session, session.FoldersWithBytes(), context)) return false;
  session.SumSubtreeSavings(true);
  return true;
}

// The whole tree as JSON; false when the estimate was canceled.
bool WriteJsonReport(SurveySession& session, const ReportOptions& options, const ReportContext& context,
                     const SavingTable& savings) {
  std::ostream& out = *context.out;
  const SubtreeTotals& totals = session.Totals();
  if (options.Estimate && !EstimateSubtrees(session, context)) return false;
  const std::function<const SavingEstimate*(const FolderRec&)> estimateOf =
      [&](const FolderRec& rec) { return savings.Find(rec); };
  TreeJsonOptions json;
  json.today = context.today;
  if (options.Estimate) json.estimateOf = &estimateOf;
  WriteTreeJson(out, totals, json);
  return true;
}

// The listed rows' estimates, in their order; false when the estimate was canceled.
bool EstimateRows(SurveySession& session, const ReportOptions& options, const ReportContext& context,
                  const SavingTable& savings, const SubtreeTotals* totals, ResultRows& rows,
                  std::vector<SavingEstimate>& estimates) {
  const bool subtree = options.Subtree;
  if (!subtree) {
    std::vector<const FolderRec*> listed;
    listed.reserve(rows.Rows.size());
    for (const ResultRow& row : rows.Rows) listed.push_back(row.Rec);
    if (!EstimateFolders(session, listed, context)) return false;
    // The Saving order is known only now: sort again by the estimates, as the window does.
    if (std::abs(options.SortColumn) == kSavingSortColumn)
      rows = session.Rows(context.settings->MinSize, options.SortColumn, context.today, true, false);
  }
  for (const ResultRow& row : rows.Rows) {
    if (subtree) {
      estimates.push_back(AsEstimate(totals->SavingOf(*row.Rec)));
    } else {
      const SavingEstimate* estimate = savings.Find(*row.Rec);
      estimates.push_back(estimate != nullptr ? *estimate : SavingEstimate{});
    }
  }
  return true;
}

// The rows as CSV; the estimated total, when there is one, goes to the error stream.
void WriteCsvReport(const ResultRows& rows, const SubtreeTotals* totals, const std::vector<SavingEstimate>& estimates,
                    const std::vector<SavingEstimate>& totalOf, const ReportOptions& options,
                    const ReportContext& context) {
  std::ostream& out = *context.out;
  std::ostream& err = *context.err;
  const bool subtree = options.Subtree;
  out << CsvHeader() << (subtree ? ",folders" : "")
      << (options.Estimate ? CsvEstimateHeader() : std::string()) << '\n';
  for (std::size_t i = 0; i < rows.Rows.size(); ++i) {
    const FolderRec& rec = *rows.Rows[i].Rec;
    if (subtree) {
      const SubtreeFigures& figures = *totals->Of(rec);
      out << CsvLine(rec, figures, context.today) << ',' << figures.NFolders;
    } else {
      out << CsvLine(rec, context.today);
    }
    if (options.Estimate) out << CsvEstimateFields(estimates[i]);
    out << '\n';
  }
  if (options.Estimate) err << EstimateTotalLine(totalOf) << '\n';
}

// The folders worth a look as rows, a table or CSV; false when the estimate was canceled.
bool WriteRowsReport(SurveySession& session, const ReportOptions& options, const ReportContext& context,
                     const SavingTable& savings, const std::string& root) {
  std::ostream& out = *context.out;
  std::ostream& err = *context.err;
  const bool subtree = options.Subtree;
  if (subtree && options.Estimate && !EstimateSubtrees(session, context)) return false;
  // Subtree savings are summed before the fill, so a Saving sort orders by them at once.
  ResultRows rows = session.Rows(context.settings->MinSize, options.SortColumn, context.today, false, subtree);
  // An empty list says why, where the cause is one the user can change.
  if (rows.Rows.empty()) {
    const std::string why = EmptyResultReason(root, session.Folders().Count(), context.settings->Rules());
    if (!why.empty()) err << "orbelan-report: " << TerminalSafe(why) << "\n";
  }
  // Built only for subtree rows: a plain report does without them.
  const SubtreeTotals* totals = subtree ? &session.Totals() : nullptr;
  std::vector<SavingEstimate> estimates;
  if (options.Estimate && !EstimateRows(session, options, context, savings, totals, rows, estimates)) return false;
  // Subtrees nest, so the rows' savings do not add up: the total is the start folder's.
  std::vector<SavingEstimate> whole;
  if (subtree && options.Estimate) {
    for (std::uint32_t top : totals->Roots()) whole.push_back(AsEstimate(totals->SavingOf(top)));
  }
  const std::vector<SavingEstimate>& totalOf = subtree ? whole : estimates;
  if (options.Csv) {
    WriteCsvReport(rows, totals, estimates, totalOf, options, context);
  } else {
    TableExtras extras;
    extras.subtree = totals;
    if (options.Estimate) {
      extras.estimates = &estimates;
      extras.total = &totalOf;
    }
    WriteTable(out, rows, context.today, extras);
  }
  return true;
}

}  // namespace

std::string ReportUsage() {
  return "Usage: orbelan-report [--sort N] [--csv | --json] [--subtree] [--estimate] [--threads N] FOLDER\n"
         "Scans FOLDER and lists its folders above the minimum size, as Orbelan does.\n"
         "  --sort N     sort column: 1 Path, 2 Unzipped, 3 Zipped, 4 %, 5 Most Recent,\n"
         "               6 Priority, 7 Saving (with --estimate; -7 puts the largest\n"
         "               first); negative for descending (default 1)\n"
         "  --csv        one CSV line per folder with all its figures\n"
         "  --estimate   also estimate the disk space zipping each folder would give\n"
         "               back, by compressing samples of its files (a Saving column;\n"
         "               in CSV saving,saving_low,saving_high,sampled: a 95% interval\n"
         "               and the bytes read, then saving_bytes,allocated,fs_compressed);\n"
         "               the total goes last (on stderr with --csv)\n"
         "  --subtree    every row shows its folder with everything below it; the\n"
         "               minimum size applies to those figures (CSV adds folders)\n"
         "  --json       the whole tree as nested JSON: each folder's name, own and\n"
         "               subtree figures and children (see orbelan-report(1))\n"
         "  --threads N  threads counting files, at most 16 (default: one per core)\n";
}

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; args[i] is the option,
// and i moves past a separate value. Without one, error says what was wanted.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name, const char* wanted,
                                       std::string& error) {
  const std::string& arg = args[i];
  if (arg.size() > name.size()) return arg.substr(name.size() + 1);
  if (i + 1 >= args.size()) {
    error = name + " needs " + wanted;
    return std::nullopt;
  }
  return args[++i];
}

}  // namespace

std::optional<ReportOptions> ParseReportArgs(const std::vector<std::string>& args, std::string& error) {
  ReportOptions options;
  bool folderSeen = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--csv") {
        options.Csv = true;
      } else if (arg == "--estimate") {
        options.Estimate = true;
      } else if (arg == "--subtree") {
        options.Subtree = true;
      } else if (arg == "--json") {
        options.Json = true;
      } else if (arg == "--help" || arg == "-h") {
        options.Help = true;
      } else if (arg == "--threads" || arg.rfind("--threads=", 0) == 0) {
        const auto value = OptionValue(args, i, "--threads", "a number", error);
        if (!value) return std::nullopt;
        if (!ParseThreads(*value, options.Threads)) {
          error = "--threads takes a number of threads from 1 up: '" + *value + "'";
          return std::nullopt;
        }
      } else if (arg == "--sort" || arg.rfind("--sort=", 0) == 0) {
        const auto value = OptionValue(args, i, "--sort", "a column number", error);
        if (!value) return std::nullopt;
        if (!ParseSortColumn(*value, options.SortColumn)) {
          error = "--sort takes a column from -7 to 7, not 0: '" + *value + "'";
          return std::nullopt;
        }
      } else {
        error = "unknown option '" + arg + "'";
        return std::nullopt;
      }
      continue;
    }
    if (folderSeen) {
      error = "only one FOLDER may be given";
      return std::nullopt;
    }
    options.Folder = arg;
    folderSeen = true;
  }
  if (options.Csv && options.Json) {
    error = "--csv and --json cannot be given together";
    return std::nullopt;
  }
  if (!folderSeen && !options.Help) {
    error = "no FOLDER given";
    return std::nullopt;
  }
  return options;
}

int RunReport(const std::vector<std::string>& args, const ReportContext& context) {
  std::ostream& out = *context.out;
  std::ostream& err = *context.err;
  std::string error;
  const std::optional<ReportOptions> options = ParseReportArgs(args, error);
  if (!options) {
    err << "orbelan-report: " << error << "\n" << ReportUsage();
    return kReportUsage;
  }
  if (options->Help) {
    out << ReportUsage();
    return FinishReport(out, err);
  }
  {
    DirReader probe(4096);
    if (options->Folder.empty() || !probe.OpenPath(options->Folder)) {
      const char* why = options->Folder.empty() ? "not a folder" : std::strerror(errno);
      err << "orbelan-report: " << TerminalSafe(options->Folder) << ": " << why << "\n";
      return kReportUsage;
    }
  }

  ReportObserver observer(context);
  SurveySession session(observer, options->Threads);
  observer.Attach(session);
  // The estimate reads the files the scan draws in small folders.
  const bool completed = session.Scan(options->Folder, context.settings->Rules(), options->Estimate);
  observer.Finish();
  const std::vector<std::string>& unscanned = session.Unscanned();
  const bool interrupted = context.interrupted != nullptr && *context.interrupted != 0;
  if (!completed || interrupted) return kReportCanceled;
  // A folder left out for want of descriptors is a failure, never a silent gap: as du
  // does, the report is written from what was read, and the status says it is incomplete.
  for (const std::string& path : unscanned)
    err << "orbelan-report: " << TerminalSafe(path) << ": not read: too many open files\n";

  session.estimateOptions.Root = AbsoluteFolderPath(options->Folder);
  std::string& root = session.estimateOptions.Root;
  if (root.empty() || root.back() != '/') root.push_back('/');
  const SavingTable& savings = session.Savings();
  if (options->Json) {
    if (!WriteJsonReport(session, *options, context, savings)) return kReportCanceled;
  } else {
    if (!WriteRowsReport(session, *options, context, savings, root)) return kReportCanceled;
  }
  const int status = FinishReport(out, err);
  if (status == kReportOk && !unscanned.empty()) {
    err << "orbelan-report: " << unscanned.size()
        << " folders could not be read; raise the open-file limit (ulimit -n)\n";
    return kReportIncomplete;
  }
  return status;
}

}  // namespace orbelan
