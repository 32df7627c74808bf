#include "cli/compress_command.h"

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "archive/folder_zipper.h"
#include "inplace/inplace_messages.h"
#include "platform/start_path.h"
#include "scan/recorded_subfolders.h"
#include "settings/settings.h"
#include "scan/scan_rules.h"

namespace orbelan {
namespace {

constexpr const char* kUsage =
    "Usage: orbelan-compress [--yes] [--subtree] [--level N] [--include-shared] FOLDER\n"
    "       orbelan-compress [--yes] [--subtree] --undo FOLDER\n"
    "On btrfs, has the file system compress FOLDER's own files in place: they stay where\n"
    "they are and open as before, and files written there later are compressed too;\n"
    "--undo rewrites them uncompressed and clears the folder's compression property.\n"
    "  --yes             do not ask first\n"
    "  --subtree         the folders below FOLDER as well\n"
    "  --level N         zstd's level, 1 to 15 (default 3)\n"
    "  --include-shared  rewrite files that share extents with other files or snapshots too\n"
    "                    (their shared data is stored again: usage may grow)\n"
    "  --undo            decompress in place\n"
    "  --help            show this text\n"
    "Exit status: 0 done, 1 nothing changed (refused, not on btrfs, declined, nothing to do),\n"
    "2 usage error, 3 done but some files were left or failed (named on stderr), or stopped.\n";

bool Ask(CompressCommandContext& c, const std::string& question) {
  *c.err << question << "\nProceed? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(*c.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

// Runs the rewrite on a thread while the terminal shows a progress line; Ctrl+C asks it to
// stop between files or ranges.
InplaceResult RunWithProgress(CompressCommandContext& c, InplaceCompressor& compressor, const InplacePlan& plan) {
  std::atomic<bool> finished{false};
  InplaceResult result;
  std::thread worker([&] {
    result = compressor.Run(plan);
    finished = true;
  });
  int shown = -1;
  const char* doing = plan.Mode == InplaceMode::Compress ? "Compressing in place" : "Decompressing in place";
  while (!finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (c.interrupted && *c.interrupted) compressor.CancelRequested = true;
    if (!c.terminal) continue;
    const std::int64_t total = compressor.Total.load();
    const int percent =
        total > 0 ? static_cast<int>(std::min<std::int64_t>(compressor.Done.load(), total) * 100 / total) : 0;
    const int stage = compressor.Stage.load();
    if (stage * 1000 + percent == shown) continue;
    shown = stage * 1000 + percent;
    if (stage == static_cast<int>(InplaceStage::Flushing))
      *c.err << "\r\033[KWriting to the disk and measuring..." << std::flush;
    else
      *c.err << "\r\033[K" << doing << "... " << percent << "%" << std::flush;
  }
  worker.join();
  if (c.terminal) *c.err << "\r\033[K" << std::flush;
  return result;
}

bool ParseLevel(const std::string& text, int& level) {
  if (text.empty() || text.size() > 2) return false;
  for (const char ch : text)
    if (ch < '0' || ch > '9') return false;
  level = std::stoi(text);
  return level >= 1 && level <= 15;
}

}  // namespace

int RunCompressCommand(const std::vector<std::string>& args, CompressCommandContext& c) {
  bool yes = false, subtree = false, undo = false, options = true;
  std::vector<std::string> operands;
  InplaceOptions inplace = c.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--yes") {
      yes = true;
    } else if (options && arg == "--subtree") {
      subtree = true;
    } else if (options && arg == "--undo") {
      undo = true;
    } else if (options && arg == "--include-shared") {
      inplace.IncludeShared = true;
    } else if (options && (arg == "--level" || arg.starts_with("--level="))) {
      const std::string value = arg == "--level" ? (i + 1 < args.size() ? args[++i] : "") : arg.substr(8);
      if (!ParseLevel(value, inplace.Level)) {
        *c.err << "orbelan-compress: --level takes a number from 1 to 15\n" << kUsage;
        return kCompressUsage;
      }
    } else if (options && (arg == "--help" || arg == "-h")) {
      *c.out << kUsage;
      return kCompressDone;
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      *c.err << "orbelan-compress: unknown option " << arg << "\n" << kUsage;
      return kCompressUsage;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 1 || operands.front().empty()) {
    *c.err << kUsage;
    return kCompressUsage;
  }

  const InplaceMode mode = undo ? InplaceMode::Decompress : InplaceMode::Compress;
  const ScanRules& rules = c.settings->Rules();
  // The files a scan counts as unzipped: archives hold compressed data already.
  const InplaceNameFilter wanted = [&rules](std::string_view name) {
    return !name.starts_with('.') && IsUnzippedFile(name, rules);
  };
  const std::string path = AbsoluteFolderPath(operands.front());
  InplaceCompressor compressor(inplace);
  InplacePlan plan;
  const InplaceResult planned =
      subtree ? compressor.PlanSubtree(path, RecordedSubfolders(path, rules), mode, wanted, plan)
              : compressor.Plan(path, mode, wanted, plan);
  if (planned.Outcome != InplaceOutcome::Done) {
    *c.err << planned.Message << "\n" << InplaceSkipText(plan);
    return kCompressNothingChanged;
  }
  if (!yes) {
    if (!c.terminal) {
      *c.err << "Not asked, as this is not a terminal: give --yes to go on without asking. Nothing was changed.\n";
      return kCompressNothingChanged;
    }
    if (!Ask(c, InplaceQuestionText(plan))) {
      *c.err << "Nothing was changed.\n";
      return kCompressNothingChanged;
    }
  }
  const InplaceResult result = RunWithProgress(c, compressor, plan);
  if (result.Outcome == InplaceOutcome::Refused) {
    *c.err << result.Message << "\n";
    return kCompressNothingChanged;
  }
  *c.out << InplaceSummaryText(plan, result) << std::flush;
  for (const std::string& line : InplaceFileLines(plan, result)) *c.err << line << "\n";
  const bool complete = result.Outcome == InplaceOutcome::Done && result.Skipped.empty() && result.Failed.empty() &&
                        result.PropertyFailed.empty();
  return complete ? kCompressDone : kCompressSomeLeft;
}

}  // namespace orbelan
