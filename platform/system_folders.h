#pragma once
// Folders that belong to the operating system: the system's own trees and the folders that
// installed packages put files in. Zipping one would send programs, libraries or
// configuration to the trash, so the zipper refuses them. No Qt.

#include <optional>
#include <string>
#include <vector>

namespace orbelan {

// The trees the system owns, each with everything below it, ending in "/": /usr/, /etc/,
// /boot/, /var/lib/, /opt/, /bin/, /sbin/ and the /lib* folders.
std::vector<std::string> SystemTrees();

// Where dpkg keeps the list of each installed package's files ("<package>.list").
inline constexpr const char* kDpkgInfoFolder = "/var/lib/dpkg/info";

// Why folder (a real path, ending in "/") belongs to the system, or nullopt when it does
// not: it lies in one of SystemTrees() (every top folder named "lib..." counts), or a
// package list in dpkgInfo names the folder itself or a file or folder directly in it (with
// subtree, anywhere below it). The lists are read in one pass, about 9 MB for 850
// packages, 6 to 20 ms when cached; a missing folder (no dpkg) counts as no packages.
std::optional<std::string> SystemFolderReason(const std::string& folder,
                                              const std::string& dpkgInfo = kDpkgInfoFolder,
                                              bool subtree = false);

}  // namespace orbelan
