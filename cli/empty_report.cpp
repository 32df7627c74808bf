#include "cli/empty_report.h"

#include "scan/scan_rules.h"

namespace orbelan {

std::string EmptyResultReason(const std::string& startFolder, std::int64_t foldersFound,
                              const ScanRules& rules) {
  if (foldersFound == 0 && IsIgnoredPath(startFolder, rules))
    return startFolder +
           " is one of the paths to ignore, so nothing below it was scanned. To scan it, take it off "
           "the list (in the window: File > Preferences > Paths to ignore; in orbelan.dat: the Path "
           "keys of [MAIN]).";
  if (foldersFound > 0) {
    const std::string found = "None of the " + std::to_string(foldersFound) +
                              (foldersFound == 1 ? " folder" : " folders") + " found holds ";
    if (rules.MinSize == 0)
      return found + "1 KiB or more of ordinary files (hidden and ignored files and archives are not counted).";
    return found + "more than " + std::to_string(rules.MinSize) +
           " KiB of ordinary files, the minimum size. To list smaller folders, lower it (in the window: "
           "File > Preferences; in orbelan.dat: minSize in [MAIN]).";
  }
  return {};
}

}  // namespace orbelan
