#pragma once
// The saving estimates of one scan's records, looked up by record, and how they read.
// The main window owns one: it writes it on its own thread as results arrive and clears it
// before the records are freed; the list, the properties dialog and the zip command read it
// there. A record without an entry has not been estimated (yet); an entry that is not Known
// was tried, and none of the folder's bytes could be read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "estimate/saving_estimate.h"

namespace orbelan {

struct FolderRec;

class SavingTable {
 public:
  const SavingEstimate* Find(const FolderRec& rec) const;
  void Set(const FolderRec& rec, const SavingEstimate& estimate);
  void Erase(const FolderRec& rec) { byRecord_.erase(&rec); }
  void Clear() { byRecord_.clear(); }
  std::size_t Size() const { return byRecord_.size(); }

 private:
  std::unordered_map<const FolderRec*, SavingEstimate> byRecord_;
};


// The sentence the properties dialog shows for a folder: the disk space zipping gives back
// and how much the file contents shrink, "Gives back about 19.3 MB of disk, between 18.9 MB
// and 19.6 MB (file contents shrink by 1.4 MB)", "Gives back 8.2 kB of disk (file contents
// shrink by 3.1 kB)" when exact, "Gives back no disk space" (", at most 12.3 kB" when a
// sample leaves room above nothing), with what could not be measured named in the
// parenthesis; "Not estimated yet" (no entry) or "Not estimated: none of its files could be
// read". unzippedBytes is no longer needed and kept for the callers.
std::string SavingSentence(const SavingEstimate* estimate, std::int64_t unzippedBytes);

// Bytes in decimal units with one decimal, as a desktop shows file sizes: "999 bytes",
// "19.3 MB".
std::string DecimalSize(std::int64_t bytes);

}  // namespace orbelan
