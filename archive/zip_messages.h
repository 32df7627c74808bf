#pragma once
// What Zip folder and Undo zip say, in the window and on the command line alike: the
// question before zipping and the summaries after. Every name and path in them is quoted
// (QuotedName), so that no name can forge a line or pass for another.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/folder_zipper.h"
#include "archive/zip_undo.h"

namespace orbelan {

// The question: what goes into which archive, what disk space comes back and when.
// estimate: the survey's expected saving, when known.
std::string ZipQuestionText(const ZipPlan& plan, std::optional<std::int64_t> estimate);
// Its sentence on disk space alone.
std::string ZipDiskSpaceText(const ZipPlan& plan);
// After a run that ended Done: what was zipped, what comes back, what stayed and why.
std::string ZipSummaryText(const ZipResult& result, std::optional<std::int64_t> estimate);
inline constexpr const char* kZipCancelledText =
    "Zipping was cancelled. The folder is as it was; no archive was kept.";

// Undo: the question and the summary.
std::string UndoQuestionText(const std::string& folder, const std::string& archiveName);
// A refusal's summary is its message, with what became of each file when undo tried.
std::string UndoSummaryText(const UndoResult& result, const std::string& archiveName);
// The paragraphs on files that did not come back and why (empty when all came back).
std::string UndoDetailsText(const UndoResult& result);

// At most ten names, each quoted, comma-separated, "…" after them when there are more.
std::string NameList(const std::vector<std::string>& names);

}  // namespace orbelan
