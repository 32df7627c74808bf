#include "survey/record_links.h"

#include <stdexcept>
#include <string_view>
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
  std::vector<std::int64_t> ancestors;
  std::int64_t index = 0;
  for (FolderRec& rec : folders) {
    const std::string_view path = rec.Path;
    while (!ancestors.empty()) {
      const std::string_view above = (*this)[ancestors.back()].Rec->Path;
      if (path.size() > above.size() && !above.empty() && above.back() == '/' &&
          path.substr(0, above.size()) == above)
        break;
      ancestors.pop_back();
    }
    RecordLink link{&rec, -1, 0};
    if (!ancestors.empty()) {
      link.Parent = ancestors.back();
      link.Depth = (*this)[link.Parent].Depth + 1;
    }
    Append(link);
    ancestors.push_back(index++);
  }
}

}  // namespace orbelan
