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

#include "survey/saving_estimate.h"

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


// The sentence the properties dialog shows for a folder of unzippedBytes:
// "Zipping would free about 184,320,000 bytes (30% ± 3%)", "Zipping would free 1,234 bytes
// (40%)" when exact, "Zipping would free nothing measurable" (plus " (at most 12%)" when a
// sample leaves room above nothing), "Not estimated yet" (no entry) or "Not estimated: none
// of its files could be read". The percentages are of the bytes the estimate found (the
// folder's Unzipped bytes when it tells none); the margin is the wider side of the interval,
// never shown as 0
// when the interval has a width.
std::string SavingSentence(const SavingEstimate* estimate, std::int64_t unzippedBytes);

}  // namespace orbelan
