#pragma once
// Records of our own that a killed move left behind. A file goes to the trash in two steps:
// its record is written (and reaches the disk), then the file is renamed into files/. A
// kill between the two leaves a record without its file: trash listings show it, and
// restoring it fails or refuses to replace the original that never left. Our records carry
// a mark of their own, and a move holds its record locked (flock) until the file has moved
// or the record is gone again; the lock goes with the process, so a record of ours that
// nobody holds and whose file is missing is such a leftover and is removed; so is an empty
// record without its file once it is a minute old (a kill between a record's creation and
// its first write). Other programs' records are never touched. No Qt.

#include <cstdint>
#include <ctime>
#include <string>

namespace orbelan {

// The line that marks a record as written by us (a key of the record's group; readers of
// the trash pass over keys they do not know).
inline constexpr const char* kOwnRecordLine = "X-Orbelan=1";

// Removes from trash (a trash folder: files/ and info/ below it) the records of ours whose
// file is not in files/, that no move holds, and that were last written before now -
// olderThan seconds. Returns how many went. A trash that is not a real folder of this
// user's is left alone.
std::int64_t RemoveOrphanRecords(const std::string& trash, std::int64_t olderThan = 0,
                                 std::time_t now = std::time(nullptr));

// The same for the trash whose info/ and files/ folders are open at infoFd and filesFd.
std::int64_t RemoveOrphanRecordsAt(int infoFd, int filesFd, std::int64_t olderThan = 0,
                                   std::time_t now = std::time(nullptr));

}  // namespace orbelan
