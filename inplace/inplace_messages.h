#pragma once
// What Compress in place and Decompress in place say, on the command line and later in the
// window: the question before a run and the summary after. Every name is quoted
// (QuotedName), so no name can forge a line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inplace/inplace_compressor.h"

namespace orbelan {

// The question: what is rewritten and how, what is left as it is and why, what it costs;
// undo tells the free space too, as it needs the space back.
std::string InplaceQuestionText(const InplacePlan& plan);

// Why the files a plan leaves alone are left, a line per cause with some of the names.
std::string InplaceSkipText(const InplacePlan& plan);

// After a run that was not refused: what was rewritten, the usage measured before and after,
// and how many files were left or failed (each named by InplaceFileLines).
std::string InplaceSummaryText(const InplacePlan& plan, const InplaceResult& result);

// One line for every file skipped or failed: `skipped: "path" (cause)`, `failed: ...`.
std::vector<std::string> InplaceFileLines(const InplacePlan& plan, const InplaceResult& result);

}  // namespace orbelan
