#pragma once
// Moving a zipped original to the trash only while it is provably the file that was read.
// A read lease (refused while anyone has the file open for writing or mapped shared and
// writable, and broken when anyone opens it for writing) is held from the check until
// the file has moved; its size, times and inode must be as they were read. Where no lease
// can be had (another user's file, a file system without leases), the file is read again
// and its CRC compared with the archive's instead.

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "archive/folder_zipper.h"
#include "platform/trash.h"

namespace orbelan {

enum class TrashCheck {
  Trashed,  // it went; entry tells where
  Changed,  // not as it was read, gone, or in use for writing: it stays
  Refused,  // the trash refused it (why says so): it stays
};

using TrashFunction = std::function<bool(const std::string& path, TrashEntry* entry, std::string* error)>;

// member is a file of folder (open at folderFd) as it was read into the archive. buffer
// (of bufferSize bytes) is scratch for the read-again check. When changedAt is given and the
// file went, it gets the file's change time just after its move, when nothing but the move
// can have changed it since the check: what its other hard links are to be checked against.
TrashCheck TrashIfUnchanged(int folderFd, const std::string& folder, const ZipMember& member,
                            bool useLeases, const TrashFunction& trash, unsigned char* buffer,
                            std::size_t bufferSize, TrashEntry& entry, std::string& why,
                            std::optional<struct timespec>* changedAt = nullptr);

}  // namespace orbelan
