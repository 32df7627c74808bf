#pragma once
// Safe replacement of a small user file (the settings file) that two running copies of
// the program may save at the same moment, that may be a link, and that a hostile set-up
// may swap for a device, a FIFO or a folder.
//   - Only a regular file is ever written. A link is followed to the file it finally
//     names, which is replaced in its own folder; the link stays a link. A device, FIFO,
//     socket or folder at the path (or at the end of its links) is refused untouched.
//   - An update reads the file, computes the new bytes and replaces the file while it
//     holds an exclusive lock (flock on a lock file beside the file, removed afterwards),
//     so concurrent updates run one after the other, each on the other's result.
//   - The replacement is a temporary file in the same folder: written, fsynced, given
//     the old file's mode (and owner and group where the process may set them), renamed
//     over the file, and the folder fsynced, so a crash leaves the old file or the new,
//     never a part of either.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orbelan {

// How long an update waits for another process's update of the same file to finish
// before it gives up (EWOULDBLOCK) rather than hang.
constexpr std::chrono::milliseconds kFileLockWait{2000};

// The file a write to path lands on: path itself, or where its chain of links ends
// (which may not exist yet). False (errno set) when the chain cannot be followed: a loop,
// a path below a regular file, a folder that cannot be searched.
bool ResolveWriteTarget(const std::string& path, std::string& target);

// The new bytes for a file, given its bytes now (empty when it does not exist yet);
// nothing to leave the file exactly as it is.
using FileChange = std::function<std::optional<std::string>(std::string_view current)>;

// Reads the file at path under the lock, asks change for its new bytes and, when there
// are any, replaces the file with them. True when the file holds the change (or needs
// none). False (errno set, the file and everything at its path unchanged) when path or
// its target is not a regular file, cannot be read, is one this process could not have
// written in place (a read-only file, even where its folder allows a rename), when the
// folder refuses the new file, or when the lock is not had within lockWait (EWOULDBLOCK).
bool UpdateFile(const std::string& path, const FileChange& change,
                std::chrono::milliseconds lockWait = kFileLockWait);

}  // namespace orbelan
