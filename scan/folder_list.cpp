#include "scan/folder_list.h"

#include "scan/scan_rules.h"

namespace orbelan {

std::string FolderRec::Path() const {
  std::string path;
  AppendPath(path);
  return path;
}

void FolderRec::AppendPath(std::string& out) const {
  // Filled from the end, one name per level, so a deep path costs its length once.
  const std::size_t start = out.size();
  out.resize(start + pathLength_, '/');
  char* const base = out.data() + start;
  std::size_t end = pathLength_;
  const FolderRec* rec = this;
  for (; rec->parent_ != nullptr; rec = rec->parent_) {
    end -= 1 + rec->name_.size();  // the name and the "/" after it
    rec->name_.copy(base + end, rec->name_.size());
  }
  rec->name_.copy(base, end);  // the top record holds the path's start whole
}

void FolderRec::ClearCounts() {
  NFiles = NIgno = NZips = 0;
  SzFiles = SzIgno = SzZips = 0;
  Recent = 0;
  Draws.reset();
  Disk = DiskUse{};
}

void FolderRec::SetPath(std::string_view path) {
  parent_ = nullptr;
  name_.assign(path);
  pathLength_ = name_.size();
}

void FolderRec::SetPlace(const FolderRec& parent, std::string_view name) {
  parent_ = &parent;
  name_.assign(name);
  pathLength_ = parent.pathLength_ + name_.size() + 1;
}

bool FolderList::AddFolder(std::string_view path, const ScanRules& rules, const FolderRec* parent) {
  if (IsIgnoredPath(path, rules)) return false;
  FolderRec& rec = records_.emplace_back();
  const std::size_t below = parent != nullptr ? parent->PathLength() : 0;
  if (parent != nullptr && path.size() > below + 1 && path.back() == '/')
    rec.SetPlace(*parent, path.substr(below, path.size() - below - 1));
  else
    rec.SetPath(path);
  return true;
}

FolderRec& FolderList::AppendCopy(const FolderRec& rec, const FolderRec* parent) {
  FolderRec& copy = records_.emplace_back();
  static_cast<FolderCounts&>(copy) = rec;
  copy.Draws = rec.Draws;
  copy.Disk = rec.Disk;  // without it a rescan would leave every copied folder giving back nothing
  if (parent != nullptr && rec.Parent() != nullptr)
    copy.SetPlace(*parent, rec.Name());
  else
    copy.SetPath(rec.Path());
  return copy;
}

void FolderList::ResetFolderList() {
  // Swapping with an empty deque releases the memory, unlike clear().
  std::deque<FolderRec>().swap(records_);
}

}  // namespace orbelan
