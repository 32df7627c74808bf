#include "inplace/inplace_messages.h"

#include <map>

#include "platform/quoted_name.h"
#include "survey/readable_figures.h"

namespace orbelan {
namespace {

std::string Files(std::int64_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); }

std::string Size(std::int64_t bytes) { return ReadableSizeText(bytes); }

// "12.3 MB (12,345,678 bytes)": readable, and exact for whoever compares runs.
std::string ExactSize(std::int64_t bytes) {
  const std::string plain = std::to_string(bytes < 0 ? -bytes : bytes);
  std::string digits;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (i > 0 && (plain.size() - i) % 3 == 0) digits += ',';
    digits += plain[i];
  }
  std::string text = Size(bytes);
  text.append(bytes < 0 ? " (-" : " (").append(digits).append(" bytes)");
  return text;
}

std::string Where(const InplacePlan& plan) {
  std::string text = "in " + QuotedName(plan.Folder);
  const std::size_t below = plan.Folders.size() > 0 ? plan.Folders.size() - 1 : 0;
  if (plan.Subtree && below > 0) text += " and the " + std::to_string(below) + (below == 1 ? " folder" : " folders") + " below it";
  return text;
}

}  // namespace

std::string InplaceSkipText(const InplacePlan& plan) {
  std::map<InplaceSkip, std::vector<std::string>> byCause;
  std::int64_t skipped = 0;
  for (const InplaceFile& file : plan.Files) {
    if (file.Skip == InplaceSkip::None) continue;
    byCause[file.Skip].push_back(plan.PathOf(file));
    ++skipped;
  }
  std::string text;
  if (skipped > 0) {
    text += "Left as they are (" + Files(skipped) + "):\n";
    for (const auto& [cause, names] : byCause) {
      text += "  " + Files(static_cast<std::int64_t>(names.size())) + ": " + SkipCauseText(cause) + ":\n   ";
      constexpr std::size_t kShown = 10;
      for (std::size_t i = 0; i < names.size() && i < kShown; ++i) text.append(" ").append(QuotedName(names[i]));
      if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
      text += "\n";
    }
  }
  if (!plan.OtherFileSystems.empty()) {
    text += "Left out with everything below them, on another file system or subvolume:";
    for (const std::string& name : plan.OtherFileSystems) text.append(" ").append(QuotedName(name));
    text += "\n";
  }
  return text;
}

std::string InplaceQuestionText(const InplacePlan& plan) {
  std::string text;
  if (plan.Mode == InplaceMode::Compress) {
    text = "Compress in place " + Files(plan.Eligible) + " (" + Size(plan.Bytes) + ") " + Where(plan) +
           ": btrfs rewrites them compressed (zstd, level " + std::to_string(plan.Level) +
           "). They stay where they are and open as before; nothing is deleted or renamed.\n"
           "The folder's compression property is set to zstd, so files written there later are compressed too.\n";
    if (plan.SharedBytes > 0)
      text += "Some of them share " + Size(plan.SharedBytes) +
              " with other files or snapshots: rewriting stores that again, so usage may grow by up to " +
              Size(plan.SharedBytes) + ".\n";
  } else {
    text = "Decompress in place " + Files(plan.Eligible) + " " + Where(plan) +
           ": btrfs rewrites them uncompressed, and the folder's compression property is cleared.\n"
           "This needs the space back: they will take up to " + Size(plan.EncodedBytes) + " more on the disk";
    text += plan.Free ? " (" + Size(*plan.Free) + " is free now).\n" : ".\n";
    if (plan.SharedBytes > 0)
      text += "Some of them share " + Size(plan.SharedBytes) + " with other files or snapshots, which is stored again.\n";
  }
  return text + InplaceSkipText(plan);
}

std::string InplaceSummaryText(const InplacePlan& plan, const InplaceResult& result) {
  const bool compress = plan.Mode == InplaceMode::Compress;
  std::string text = std::string(compress ? "Compressed in place: " : "Decompressed in place: ") + Files(result.Rewritten) +
                     " (" + Size(result.RewrittenBytes) + ") " + Where(plan) + ".\n";
  if (result.Outcome == InplaceOutcome::Cancelled)
    text += "Stopped on request; every file is whole. Run it again to carry on.\n";
  const std::int64_t change = result.Before.Used - result.After.Used;
  text += "File-system usage: " + ExactSize(result.Before.Used) + " before, " + ExactSize(result.After.Used) +
          " after: " + (change >= 0 ? Size(change) + " given back" : Size(-change) + " more") + ".\n";
  if (result.Before.DataUsed && result.After.DataUsed)
    text += "Data allocation: " + ExactSize(*result.Before.DataUsed) + " before, " + ExactSize(*result.After.DataUsed) +
            " after.\n";
  if (!result.NotShrunk.empty())
    text += Files(static_cast<std::int64_t>(result.NotShrunk.size())) +
            " did not shrink; btrfs keeps their data as it was.\n";
  if (compress && !result.Property.empty())
    text += "New files in the folder are compressed too (property " + result.Property + ").\n";
  if (result.LevelRefused)
    text += "This kernel takes no compression level: its default level was used.\n";
  if (!result.PropertyFailed.empty())
    text += std::string("The compression property could not be ") + (compress ? "set" : "cleared") + " on " +
            std::to_string(result.PropertyFailed.size()) +
            (result.PropertyFailed.size() == 1 ? " folder" : " folders") + ".\n";
  if (!plan.OtherFileSystems.empty()) {
    text += "Left out with everything below them, on another file system or subvolume:";
    for (const std::string& name : plan.OtherFileSystems) text.append(" ").append(QuotedName(name));
    text += "\n";
  }
  if (!result.Skipped.empty() || !result.Failed.empty())
    text += Files(static_cast<std::int64_t>(result.Skipped.size())) + " left as they were, " +
            std::to_string(result.Failed.size()) + " failed; each is named with why.\n";
  return text;
}

std::vector<std::string> InplaceFileLines(const InplacePlan& plan, const InplaceResult& result) {
  std::vector<std::string> lines;
  for (const auto& [name, why] : result.Skipped) lines.push_back("skipped: " + QuotedName(plan.Folder + name) + " (" + why + ")");
  for (const auto& [name, why] : result.Failed) lines.push_back("failed: " + QuotedName(plan.Folder + name) + " (" + why + ")");
  for (const auto& [folder, why] : result.PropertyFailed)
    lines.push_back("property not changed: " + QuotedName(folder) + " (" + why + ")");
  return lines;
}

}  // namespace orbelan
