#include "scan/record_links.h"

#include <string>
#include <vector>

#include "scan/folder_list.h"

namespace orbelan {

RecordLinks::RecordLinks() = default;

RecordLinks::~RecordLinks() = default;

void RecordLinks::Clear() {
  table_.Clear();
  size_ = 0;
}

void RecordLinks::Append(const RecordLink& link) {
  const auto at = static_cast<std::size_t>(size_);
  table_.Grow(at + 1);
  table_[at] = link;
  ++size_;
}

void RecordLinks::BuildFrom(FolderList& folders) {
  Clear();
  struct Above {
    std::int64_t index;
    std::string path;  // built only for records that hold their whole path
  };
  std::vector<Above> ancestors;
  std::int64_t index = 0;
  for (FolderRec& rec : folders) {
    const FolderRec* parent = rec.Parent();
    std::string path = parent != nullptr ? std::string() : rec.Path();
    while (!ancestors.empty()) {
      Above& above = ancestors.back();
      if (parent != nullptr) {
        if ((*this)[above.index].Rec == parent) break;
      } else {
        if (above.path.empty()) above.path = (*this)[above.index].Rec->Path();
        const std::string& abovePath = above.path;
        if (path.size() > abovePath.size() && !abovePath.empty() && abovePath.back() == '/' &&
            path.compare(0, abovePath.size(), abovePath) == 0)
          break;
      }
      ancestors.pop_back();
    }
    RecordLink link{&rec, -1, 0};
    if (!ancestors.empty()) {
      link.Parent = ancestors.back().index;
      link.Depth = (*this)[link.Parent].Depth + 1;
    }
    Append(link);
    ancestors.push_back({index++, std::move(path)});
  }
}

}  // namespace orbelan
