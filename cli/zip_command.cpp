#include "cli/zip_command.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "archive/zip_messages.h"
#include "platform/quoted_name.h"
#include "platform/start_path.h"
#include "scan/recorded_subfolders.h"
#include "settings/settings.h"

namespace orbelan {
namespace {

constexpr const char* kUsage =
    "Usage: orbelan-zip [--yes] [--subtree] FOLDER\n"
    "       orbelan-zip [--yes] --undo ARCHIVE\n"
    "Zips FOLDER's own files into an archive in it, checks the archive, and moves the\n"
    "originals to the trash; --undo puts them back from the trash and trashes ARCHIVE.\n"
    "  --yes      do not ask first\n"
    "  --subtree  zip FOLDER with the folders below it into one archive in FOLDER\n"
    "  --help     show this text\n"
    "Exit status: 0 done, 1 nothing changed (refused, failed, cancelled or declined),\n"
    "2 usage error, 3 done but some files stayed where they were (listed on stderr).\n"
    "Names are shown as a shell would take them: '...' or $'...' when not plain.\n";

// The path made absolute and tidied by its text ("." and repeated slashes dropped), as
// orbelan-report takes its folder: "." must not become an archive named ".-<date>.zip".
std::string Absolute(const std::string& path) { return AbsoluteFolderPath(path); }

bool Ask(ZipCommandContext& c, const std::string& question) {
  *c.err << question << "\n\nProceed? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(*c.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

// Runs work on a thread while the terminal shows a progress line; Ctrl+C asks it to stop.
template <typename Work>
void WithProgress(ZipCommandContext& c, FolderZipper& zipper, const std::string& archiveName, Work work) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work();
    finished = true;
  });
  int shown = -1;
  while (!finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (c.interrupted && *c.interrupted) zipper.CancelRequested = true;
    if (!c.terminal) continue;
    const std::int64_t total = zipper.Total.load();
    const int percent = total > 0 ? static_cast<int>(std::min<std::int64_t>(zipper.Done.load(), total) * 100 / total) : 0;
    const int stage = zipper.Stage.load();
    if (stage * 1000 + percent == shown) continue;
    shown = stage * 1000 + percent;
    const char* what = stage == static_cast<int>(ZipStage::Verifying)  ? "Checking the archive"
                       : stage == static_cast<int>(ZipStage::Trashing) ? "Moving the originals to the trash"
                                                                       : "Zipping into ";
    *c.err << "\r\033[K" << what << (stage <= static_cast<int>(ZipStage::Reading) ? archiveName : "") << "... "
           << percent << "%" << std::flush;
  }
  worker.join();
  if (c.terminal) *c.err << "\r\033[K" << std::flush;
}

int Zip(ZipCommandContext& c, const std::string& folder, bool yes, bool subtree) {
  FolderZipper zipper(c.zip);
  ZipPlan plan;
  const std::string path = Absolute(folder);
  // A subtree: the folders a scan records below it, as the window has them.
  const ZipResult planned =
      subtree ? zipper.PlanSubtree(path, RecordedSubfolders(path, c.settings->Rules()), c.settings->Rules(), plan)
              : zipper.Plan(path, c.settings->Rules(), plan);
  if (planned.Outcome != ZipOutcome::Done) {
    *c.err << VisibleText(planned.Message) << "\n";
    return kZipNothingChanged;
  }
  if (!yes) {
    if (!c.terminal) {
      *c.err << "Not asked, as this is not a terminal: give --yes to zip without asking. Nothing was changed.\n";
      return kZipNothingChanged;
    }
    if (!Ask(c, ZipQuestionText(plan, std::nullopt))) {
      *c.err << "Nothing was changed.\n";
      return kZipNothingChanged;
    }
  }
  ZipResult result;
  WithProgress(c, zipper, plan.ArchiveName, [&] { result = zipper.Run(plan); });
  switch (result.Outcome) {
    case ZipOutcome::Done:
      break;
    case ZipOutcome::Cancelled:
      *c.err << kZipCancelledText << "\n";
      return kZipNothingChanged;
    case ZipOutcome::Refused:
    case ZipOutcome::Failed:
      *c.err << VisibleText(result.Message) << "\n";
      return kZipNothingChanged;
  }
  *c.out << ZipSummaryText(result, std::nullopt) << "\n";
  if (result.Changed.empty() && result.NotTrashed.empty() && result.WithMetadata.empty() &&
      result.Unreadable.empty() && result.Gone.empty() && !result.TrashStopped)
    return kZipDone;
  // Every file that stayed, one a line with its cause, for scripts.
  auto stayed = [&](const std::string& why, const std::string& name) {
    *c.err << "stayed (" << VisibleText(why) << "): " << QuotedName(plan.Folder + name) << "\n";
  };
  for (std::size_t i = 0; i < result.Changed.size(); ++i)
    stayed(i < result.ChangedWhy.size() && !result.ChangedWhy[i].empty() ? result.ChangedWhy[i] : "changed or in use",
           result.Changed[i]);
  for (const std::string& name : result.Gone)
    *c.err << "gone (deleted after being read; the archive holds it): " << QuotedName(plan.Folder + name) << "\n";
  if (result.TrashStopped)
    *c.err << "stopped: " << result.NotReached << " more stayed in " << QuotedName(plan.Folder) << "\n";
  for (std::size_t i = 0; i < result.NotTrashed.size(); ++i)
    stayed(i < result.NotTrashedWhy.size() ? result.NotTrashedWhy[i] : "the trash refused it", result.NotTrashed[i]);
  for (const std::string& name : result.WithMetadata)
    stayed("extended attributes or ACLs, which a zip cannot hold", name);
  for (std::size_t i = 0; i < result.Unreadable.size(); ++i)
    stayed("unreadable: " + (i < result.UnreadableWhy.size() ? result.UnreadableWhy[i] : std::string("unknown cause")),
           result.Unreadable[i]);
  return kZipSomeStayed;
}

int Undo(ZipCommandContext& c, const std::string& archive, bool yes) {
  const std::string path = Absolute(archive);
  const std::size_t slash = path.rfind('/');
  const std::string name = path.substr(slash + 1);
  if (!yes) {
    std::string why;
    if (!ReadZipManifest(path, &why)) {
      *c.err << "The zip cannot be undone: " << VisibleText(why) << ". Nothing was changed.\n";
      return kZipNothingChanged;
    }
    if (!c.terminal) {
      *c.err << "Not asked, as this is not a terminal: give --yes to undo without asking. Nothing was changed.\n";
      return kZipNothingChanged;
    }
    if (!Ask(c, UndoQuestionText(path.substr(0, slash + 1), name))) {
      *c.err << "Nothing was changed.\n";
      return kZipNothingChanged;
    }
  }
  const UndoResult result = UndoZip(path, c.undo);
  const bool done = result.Outcome == ZipOutcome::Done;
  (done ? *c.out : *c.err) << UndoSummaryText(result, name) << "\n";
  if (result.ArchiveTrashed) return kZipDone;
  // Every file that did not come back, one a line with its cause, for scripts.
  auto line = [&](const std::string& what, const std::string& path) {
    *c.err << what << ": " << QuotedName(path) << "\n";
  };
  for (const std::string& file : result.Blocked) line("stayed in the trash (its place is taken)", result.Folder + file);
  for (std::size_t i = 0; i < result.NotRestored.size(); ++i)
    line("stayed in the trash (" + VisibleText(i < result.NotRestoredWhy.size() ? result.NotRestoredWhy[i] : "") + ")",
         result.Folder + result.NotRestored[i]);
  for (const std::string& file : result.RecordedElsewhere)
    line("stayed in the trash (recorded for the folder the archive was made in)", result.MadeIn + file);
  for (const std::string& file : result.Missing) line("not in the trash", result.Folder + file);
  if (!done) return kZipNothingChanged;
  if (result.Blocked.empty() && result.Missing.empty() && result.NotRestored.empty() &&
      result.RecordedElsewhere.empty())
    line("stayed (" + VisibleText(result.ArchiveNotTrashedWhy) + ")", path);
  return kZipSomeStayed;
}

}  // namespace

int RunZipCommand(const std::vector<std::string>& args, ZipCommandContext& c) {
  bool yes = false, subtree = false, undo = false;
  std::vector<std::string> operands;
  bool options = true;
  for (const std::string& arg : args) {
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--yes") {
      yes = true;
    } else if (options && arg == "--subtree") {
      subtree = true;
    } else if (options && arg == "--undo") {
      undo = true;
    } else if (options && (arg == "--help" || arg == "-h")) {
      *c.out << kUsage;
      return kZipDone;
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      *c.err << "orbelan-zip: unknown option " << QuotedName(arg) << "\n" << kUsage;
      return kZipUsage;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 1 || operands.front().empty() || (undo && subtree)) {
    *c.err << kUsage;
    return kZipUsage;
  }
  return undo ? Undo(c, operands.front(), yes) : Zip(c, operands.front(), yes, subtree);
}

}  // namespace orbelan
