#pragma once
// One record per scanned folder and the list that owns them.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace orbelan {

struct Settings;

struct FolderRec {
  std::string Path;         // full path, ending in "/", in the case it was built
  std::int64_t NFiles = 0;  // counted files, archives included
  std::int64_t NIgno = 0;   // ignored files
  std::int64_t NZips = 0;   // counted files that are archives
  std::int64_t SzFiles = 0;
  std::int64_t SzIgno = 0;
  std::int64_t SzZips = 0;
  double Recent = 0;        // day number of the newest counted file; 0 when none
};

// The records of the last scan, in the order the scanner found the folders.
// Records live in a deque so references stay valid until ResetFolderList.
class FolderList {
 public:
  // Appends a zeroed record for path (taken as passed) unless IsIgnoredPath holds.
  bool AddFolder(std::string_view path, const Settings& settings);
  void ResetFolderList();

  std::int64_t Count() const { return static_cast<std::int64_t>(records_.size()); }
  bool Empty() const { return records_.empty(); }
  FolderRec* Head() { return records_.empty() ? nullptr : &records_.front(); }
  FolderRec* Tail() { return records_.empty() ? nullptr : &records_.back(); }

  auto begin() { return records_.begin(); }
  auto end() { return records_.end(); }
  auto begin() const { return records_.begin(); }
  auto end() const { return records_.end(); }
  FolderRec& operator[](std::int64_t i) { return records_[static_cast<std::size_t>(i)]; }
  const FolderRec& operator[](std::int64_t i) const { return records_[static_cast<std::size_t>(i)]; }

 private:
  std::deque<FolderRec> records_;
};

}  // namespace orbelan
