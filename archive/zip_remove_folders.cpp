// After a subtree's zip: the subfolders its files left empty are removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "archive/folder_zipper.h"
#include "archive/zipper_parts.h"
#include "platform/dir_reader.h"

namespace orbelan {
using namespace zipper_parts;

// A subfolder whose files all went and that holds nothing else (no hidden or ignored file,
// no folder of its own) is removed, deepest first, so that its parent may be left empty in
// turn; undo makes it again from the manifest. The kernel's rmdir refuses a folder with
// anything in it, so nothing but an empty folder can go.
void FolderZipper::RemoveEmptiedFolders(Work& work, ZipResult& result) {
  std::set<std::string>& emptied = work.trashedFrom;
  // Sorted by name, a folder stands after its parent: backwards, children come first.
  for (auto it = work.plan.Subfolders.rbegin(); it != work.plan.Subfolders.rend(); ++it) {
    const ZipSubfolder& f = *it;
    if (!emptied.count(f.Name)) continue;
    const std::size_t slash = f.Name.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : f.Name.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? f.Name : f.Name.substr(slash + 1);
    UniqueFd parentFd(parent.empty() ? ::fcntl(work.dirFd, F_DUPFD_CLOEXEC, 0) : OpenFolderBelow(work.dirFd, parent));
    struct stat st {};
    if (parentFd.Get() < 0 || ::fstatat(parentFd.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode) || static_cast<std::uint64_t>(st.st_ino) != f.Inode ||
        static_cast<std::uint64_t>(st.st_dev) != f.Device)
      continue;  // not the folder that was planned
    if (::unlinkat(parentFd.Get(), leaf.c_str(), AT_REMOVEDIR) != 0) continue;  // not empty
    ++result.FoldersRemoved;
    if (!parent.empty()) emptied.insert(parent);
  }
  if (result.FoldersRemoved > 0) ::fsync(work.dirFd);
}

}  // namespace orbelan
