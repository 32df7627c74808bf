#include "scan/scan_rules.h"

#include <utility>

namespace orbelan {

bool EntryList::Append(std::string entry) {
  if (Full()) return false;
  Items[Count] = std::move(entry);
  ++Count;
  return true;
}

}  // namespace orbelan
