#pragma once
// A btrfs folder's compression property (the extended attribute btrfs.compression): the
// codec, and on newer kernels the level, that the files written in it later get.

#include <string>

namespace orbelan {

// Sets the property of the folder open at dirFd to zstd at level; where the kernel refuses
// a level in the value, to zstd alone. Returns 0 or an errno value; value tells what was set.
int SetCompressionProperty(int dirFd, int level, std::string& value);

// Removes the property (none set is fine). Returns 0 or an errno value.
int ClearCompressionProperty(int dirFd);

}  // namespace orbelan
