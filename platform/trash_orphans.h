#pragma once
// Records of our own that a killed move left behind. A file goes to the trash in two steps:
// its record is written (and reaches the disk), then the file is renamed into files/. A
// kill between the two leaves a record without its file: trash listings show it, and no
// restore can bring it back. Our records carry a mark of their own; one whose file is
// missing and that is older than a minute is such a leftover and is removed. Other
// programs' records are never touched, nor any record young enough to belong to a move
// still under way. No Qt.

#include <cstdint>
#include <ctime>
#include <string>

namespace orbelan {

// The line that marks a record as written by us (a key of the record's group; readers of
// the trash pass over keys they do not know).
inline constexpr const char* kOwnRecordLine = "X-Orbelan=1";

// Removes from trash (a trash folder: files/ and info/ below it) the records of ours whose
// file is not in files/ and whose record was last written before now - olderThan seconds.
// Returns how many went. A trash that is not a real folder of this user's is left alone.
std::int64_t RemoveOrphanRecords(const std::string& trash, std::int64_t olderThan = 60,
                                 std::time_t now = std::time(nullptr));

}  // namespace orbelan
