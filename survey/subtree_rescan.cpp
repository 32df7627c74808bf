#include "survey/subtree_rescan.h"

#include <sys/stat.h>

#include <cerrno>
#include <unordered_map>

#include "scan/folder_list.h"

namespace orbelan {

RescanStart ExamineRescanStart(const std::string& folderPath) {
  std::string path = folderPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();  // lstat the entry itself
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return RescanStart::Gone;
  return S_ISDIR(st.st_mode) ? RescanStart::Folder : RescanStart::NotAFolder;
}

std::vector<FolderRec*> ReplaceSubtree(FolderList& folders, std::int64_t first, std::int64_t count,
                                       const FolderList& fresh) {
  std::vector<FolderRec*> moved(static_cast<std::size_t>(folders.Count()), nullptr);
  FolderList rebuilt;
  // Where each record a copy may name as its parent went.
  std::unordered_map<const FolderRec*, const FolderRec*> now;
  now.reserve(static_cast<std::size_t>(folders.Count() - count + fresh.Count()));
  auto copy = [&](const FolderRec& rec) -> FolderRec& {
    const FolderRec* parent = nullptr;
    if (rec.Parent() != nullptr) {
      const auto found = now.find(rec.Parent());
      if (found != now.end()) parent = found->second;
    }
    FolderRec& made = rebuilt.AppendCopy(rec, parent);
    now.emplace(&rec, &made);
    return made;
  };
  const std::int64_t last = first + count;
  for (std::int64_t i = 0; i < folders.Count(); ++i) {
    if (i == first) {
      for (const FolderRec& rec : fresh) copy(rec);
    }
    if (i >= first && i < last) continue;
    moved[static_cast<std::size_t>(i)] = &copy(folders[i]);
  }
  if (first >= folders.Count()) {
    for (const FolderRec& rec : fresh) copy(rec);
  }
  // The deque's storage moves whole, so the records keep the addresses handed out above.
  folders = std::move(rebuilt);
  return moved;
}

}  // namespace orbelan
