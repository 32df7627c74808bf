#pragma once
// Why a scan lists no folder, in words a user can act on: the start folder is one of the
// ignored paths (so nothing below it was scanned), or no folder holds more counted bytes
// than the minimum size. Empty when there is no such simple cause.

#include <cstdint>
#include <string>

namespace orbelan {

struct ScanRules;

// startFolder: the folder scanned, absolute, ending in "/"; foldersFound: the folders the
// scan recorded.
std::string EmptyResultReason(const std::string& startFolder, std::int64_t foldersFound,
                              const ScanRules& rules);

}  // namespace orbelan
