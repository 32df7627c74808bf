#pragma once
// The member names of a zip archive exactly as its central directory holds them. The
// reading library turns backslashes into slashes and recomposes decomposed (NFD) UTF-8,
// and offers no way to see the bytes themselves; the read-back check needs those bytes to
// prove each member is named as its file is. Only the directory's fixed fields are read.

#include <optional>
#include <string>
#include <vector>

namespace orbelan {

// The names in central-directory order (the order the members were written), Zip64
// directories included; nullopt with the reason in error when the directory is not sound.
std::optional<std::vector<std::string>> CentralDirectoryNames(int fd, std::string* error);

}  // namespace orbelan
