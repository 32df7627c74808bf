#pragma once
// Opening a file or folder below a folder held open, so that nothing on the way can steer
// the open elsewhere: no symbolic link is followed (on the way or at the end), and no
// ".." leaves the folder. Where the kernel has openat2 the whole path is resolved by it
// with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS; elsewhere the path is walked one component
// at a time, each opened with O_NOFOLLOW from the one before. No Qt.

#include <string>

namespace orbelan {

// Opens relative beneath the folder open at rootFd with the given open flags (O_CLOEXEC is
// added). relative is one or more "/"-separated names; an empty, absolute, "." or ".."
// component is refused with EINVAL. A link anywhere on the way or at the end fails with
// ELOOP (ENOTDIR for a link or file where a folder is needed). Returns the descriptor, or
// -1 with errno set.
int OpenBeneath(int rootFd, const std::string& relative, int flags);

// The same by the component walk alone, for kernels without openat2 (and for its tests).
int OpenBeneathByWalk(int rootFd, const std::string& relative, int flags);

}  // namespace orbelan
