#pragma once
// The folders below one folder as a scan records them, for callers that have no scan's
// records at hand (the command line, a subtree's zip or compression).

#include <string>
#include <vector>

namespace orbelan {

struct ScanRules;

// The real paths of the folders below folderPath that a scan with rules records (hidden,
// ignored and pseudo file system folders stay out; links are never followed), each ending
// in "/", parents before children; without the folder itself.
std::vector<std::string> RecordedSubfolders(const std::string& folderPath, const ScanRules& rules);

}  // namespace orbelan
