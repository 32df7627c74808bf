#pragma once
// The orbelan-report command: scans one folder with the program's settings and prints
// the folders the main window would list, as a table or as CSV.

#include <csignal>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace orbelan {

struct Settings;

struct ReportOptions {
  int SortColumn = 1;  // as the list's SortColumn: 1..7, negative for descending
  bool Csv = false;
  bool Estimate = false;  // add each folder's estimated saving
  bool Subtree = false;   // every row shows its folder's subtree figures
  bool Json = false;      // the whole tree as nested JSON
  bool Help = false;
  int Threads = 0;  // 0: one per core
  std::string Folder;
};

// Exit statuses of the command.
constexpr int kReportOk = 0;
constexpr int kReportWriteFailed = 1;  // the report could not be written (a full disk, a closed pipe)
constexpr int kReportUsage = 2;     // bad arguments, or FOLDER is not a readable folder
constexpr int kReportIncomplete = 3;  // some folders could not be read for want of descriptors
constexpr int kReportCanceled = 130;  // interrupted (as a shell reports SIGINT)

std::string ReportUsage();

// Parses the arguments after the program name; on a mistake returns nullopt and sets error.
std::optional<ReportOptions> ParseReportArgs(const std::vector<std::string>& args, std::string& error);

struct ReportContext {
  const Settings* settings = nullptr;
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool showProgress = false;                         // progress lines on err
  volatile std::sig_atomic_t* interrupted = nullptr;  // set by the SIGINT handler
  double today = 0;                                   // local day number for the age texts
};

// Runs the whole command and returns its exit status. Nothing reaches out unless the
// scan completed.
int RunReport(const std::vector<std::string>& args, const ReportContext& context);

}  // namespace orbelan
