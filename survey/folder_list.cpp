#include "survey/folder_list.h"

#include "survey/figures.h"

namespace orbelan {

bool FolderList::AddFolder(std::string_view path, const Settings& settings) {
  if (IsIgnoredPath(path, settings)) return false;
  FolderRec& rec = records_.emplace_back();
  rec.Path.assign(path);
  return true;
}

void FolderList::ResetFolderList() {
  // Swapping with an empty deque releases the memory, unlike clear().
  std::deque<FolderRec>().swap(records_);
}

}  // namespace orbelan
