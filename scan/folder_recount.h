#pragma once
// Counting one recorded folder's own files again, as phase 2 of a scan counts them, after
// something in the program changed the folder (a zip made there).

#include "scan/file_draws.h"

namespace orbelan {

struct FolderRec;
struct ScanRules;

// Zeroes rec's counts and counts its folder's files into it, drawing for the estimate as a
// scan with draws would. A folder that cannot be opened keeps zero counts, as in a scan.
void RecountFolder(FolderRec& rec, const ScanRules& rules, const FileDrawLimits& draws = {});

}  // namespace orbelan
