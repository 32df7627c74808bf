#pragma once
// The whole tree of a scan as nested JSON, for orbelan-report --json: each folder an object
// with its name, its own figures, its subtree's figures and its children, written as the
// records come (depth-first), so that memory does not grow with the output.
//
// Names are bytes on disk and need not be UTF-8, while JSON text must be. "name" is always
// valid UTF-8: a byte that does not belong to a well-formed UTF-8 sequence (overlong forms
// and surrogates included) is written as U+FFFD. Whenever that happens the object also gets
// "name_bytes": the exact bytes, percent-encoded (every byte other than A-Z a-z 0-9 - . _ ~
// written as %XX, upper-case hex), from which the name can be had back exactly.
// Quotes, backslashes and control characters are escaped as JSON requires (\" \\ \u00XX).

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace orbelan {

class SubtreeTotals;
struct FolderRec;
struct SavingEstimate;

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view text);
// The JSON string (with its quotes) for text, invalid bytes as U+FFFD.
std::string JsonString(std::string_view text);
// Every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncoded(std::string_view bytes);

struct TreeJsonOptions {
  double today = 0;  // local day number, for the age texts
  // The folders' own estimates, when the report estimated them (the subtree totals must
  // then hold their sums); nullptr writes no "saving" members.
  const std::function<const SavingEstimate*(const FolderRec&)>* estimateOf = nullptr;
};

// Writes the tree of totals to out: one object for the start folder (its "name" the whole
// start path), or "null" when nothing was recorded; several top folders (a list not made by
// one scan) are written as an array.
void WriteTreeJson(std::ostream& out, const SubtreeTotals& totals, const TreeJsonOptions& options);

}  // namespace orbelan
