#include "survey/record_links.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "survey/folder_list.h"

namespace orbelan {

RecordLinks::RecordLinks() : chunks_(new RecordLink*[kMaxChunks]) {}

RecordLinks::~RecordLinks() { Clear(); }

void RecordLinks::Clear() {
  for (std::size_t i = 0; i < chunkCount_; ++i) delete[] chunks_[i];
  chunkCount_ = 0;
  size_ = 0;
}

void RecordLinks::Append(const RecordLink& link) {
  const auto at = static_cast<std::size_t>(size_);
  if ((at >> kChunkBits) >= chunkCount_) {
    if (chunkCount_ == kMaxChunks) throw std::length_error("too many folders");
    chunks_[chunkCount_++] = new RecordLink[kChunk];
  }
  chunks_[at >> kChunkBits][at & (kChunk - 1)] = link;
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
