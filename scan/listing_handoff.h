#pragma once
// A folder's entries as phase 1 of a scan read them, handed to whoever counts the folder's
// files in phase 2, so that the folder is not listed a second time (listing costs a scan
// about as much as stating its files). Phase 1 offers a folder's entries once it has read
// them all; a counter that reaches the folder first lists it itself, and the entries offered
// after that are dropped. The entries held at once are bounded: past the bound phase 1
// offers nothing and its folders are listed again, as they would be without a handoff.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "scan/chunked_table.h"
#include "scan/folder_entries.h"

namespace orbelan {

class ListingHandoff {
 public:
  static constexpr std::size_t kDefaultBudget = 16u << 20;
  explicit ListingHandoff(std::size_t budgetBytes = kDefaultBudget);
  ~ListingHandoff();
  ListingHandoff(const ListingHandoff&) = delete;
  ListingHandoff& operator=(const ListingHandoff&) = delete;

  // The writer, with no reader about: drops every offer and every mark of a taken record.
  void Clear();
  // The writer: records below count may be offered and taken. Called before a record is
  // handed to a reader.
  void Grow(std::int64_t count);
  // Whether an offer of about this many more bytes would be kept now.
  bool Room(std::size_t bytes) const;
  // The writer: the complete entries of record index (moved from when kept). False when the
  // record was taken already or the bound would be passed.
  bool Offer(std::int64_t index, FolderEntries& entries);
  // Any thread, at most once per record: the entries offered for it, or null when none were
  // (the record is then marked taken, so that no later offer is kept).
  std::unique_ptr<std::string> Take(std::int64_t index);

 private:
  const std::size_t budget_;
  std::atomic<std::size_t> held_{0};
  ChunkedTable<std::atomic<std::string*>> slots_;
};

}  // namespace orbelan
