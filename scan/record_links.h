#pragma once
// Where each record of a scan sits in the tree: its parent record and its depth. Phase 1
// appends as it records folders; the threads counting files read entries already handed to
// them while phase 1 goes on appending, so entries never move once written.

#include <cstdint>

#include "scan/chunked_table.h"

namespace orbelan {

class FolderList;
struct FolderRec;

struct RecordLink {
  FolderRec* Rec = nullptr;
  std::int64_t Parent = -1;  // index of the parent record; -1 for a folder opened by itself
  std::uint32_t Depth = 0;   // levels below that folder
};

class RecordLinks {
 public:
  RecordLinks();
  ~RecordLinks();
  RecordLinks(const RecordLinks&) = delete;
  RecordLinks& operator=(const RecordLinks&) = delete;

  void Clear();
  // The one writing thread only.
  void Append(const RecordLink& link);
  std::int64_t Size() const { return size_; }
  // Any thread, for an index whose entry was handed over with release/acquire ordering.
  const RecordLink& operator[](std::int64_t index) const { return table_[static_cast<std::size_t>(index)]; }

  // Links for a list made elsewhere: a record that names its parent hangs from it; one that
  // holds its whole path hangs from the nearest record before it whose path its own path
  // extends (records come depth-first, each before its subfolders).
  void BuildFrom(FolderList& folders);

 private:
  ChunkedTable<RecordLink> table_;
  std::int64_t size_ = 0;
};

}  // namespace orbelan
