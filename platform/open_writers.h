#pragma once
// Whether anyone may be writing a file, where no read lease can tell: the processes of
// this machine that hold it open for writing or have it mapped shared and writable, read
// from /proc. Only a process that may read every other's descriptors (root) sees them all;
// no process sees writers on other computers, nor the writers of the files a FUSE server
// serves. No Qt.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace orbelan {

using FileId = std::pair<std::uint64_t, std::uint64_t>;  // device, inode

// Of files, those some process of this machine holds open for writing or has mapped shared
// and writable; nullopt when not every process's descriptors could be read.
std::optional<std::set<FileId>> FilesOpenForWriting(const std::set<FileId>& files);

// The kind of the file system of the folder open at fd when it is one where a lease and
// this machine's processes prove nothing about who may be writing a file (network and
// cluster file systems, FUSE): "nfs", "fuse", ...; nullopt for a local file system.
std::optional<std::string> SharedFileSystemKind(int fd);

}  // namespace orbelan
