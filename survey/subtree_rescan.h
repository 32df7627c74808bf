#pragma once
// Scanning one folder's subtree again without a full rescan: a fresh scan of that folder
// takes the place of its records in the list, the rest of the list kept as it was.

#include <cstdint>
#include <string>
#include <vector>

namespace orbelan {

class FolderList;
struct FolderRec;

// What stands at a folder's path now.
enum class RescanStart {
  Folder,      // a folder: scan it again
  Gone,        // nothing: its records go
  NotAFolder,  // a link or a file: its records go, and its parent holds a file more
};
RescanStart ExamineRescanStart(const std::string& folderPath);

// Replaces the records first .. first + count - 1 (one folder's subtree: records come
// depth-first, so a subtree is a run of them) with fresh's, which must hold the same
// folder's scan (or nothing, to take the subtree out). Every record moves, so the list is
// made anew: the result gives, for each old record's index, its record now, nullptr for
// those replaced. Records outside the subtree keep their counts and draws. Linear in the
// list, no recursion.
std::vector<FolderRec*> ReplaceSubtree(FolderList& folders, std::int64_t first, std::int64_t count,
                                       const FolderList& fresh);

}  // namespace orbelan
