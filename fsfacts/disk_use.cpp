#include "fsfacts/disk_use.h"

#include <algorithm>

#include "numbers/saturating_sum.h"

namespace orbelan {

void DiskTally::Begin() {
  use_ = DiskUse{};
  linked_.clear();
}

void DiskTally::Add(std::string_view name, std::int64_t size, std::int64_t allocated,
                    std::uint64_t inode, std::uint64_t links, std::int64_t blockSize,
                    std::uint64_t device) {
  use_.Device = device;
  ++use_.Members;
  use_.NameBytes += static_cast<std::int64_t>(name.size());
  AddSize(use_.Bytes, std::max<std::int64_t>(size, 0));
  if (blockSize > use_.BlockSize) use_.BlockSize = blockSize;
  allocated = std::max<std::int64_t>(allocated, 0);
  if (links > 1) {
    linked_.push_back({inode, links, allocated, device});  // settled once the whole folder is seen
    return;
  }
  AddSize(use_.Allocated, allocated);
}

DiskUse DiskTally::Finish() {
  std::sort(linked_.begin(), linked_.end(), [](const Linked& a, const Linked& b) {
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
  });
  std::vector<HeldFile> held;
  for (std::size_t i = 0; i < linked_.size();) {
    std::size_t j = i;
    while (j < linked_.size() && linked_[j].inode == linked_[i].inode && linked_[j].device == linked_[i].device) ++j;
    // Its blocks come back only when every one of its names goes with the zip.
    const std::uint64_t names = j - i;
    AddSize(use_.Allocated, linked_[i].allocated);
    if (names < linked_[i].links) {
      AddSize(use_.Held, linked_[i].allocated);
      held.push_back({linked_[i].device, linked_[i].inode, linked_[i].links, names, linked_[i].allocated});
    }
    i = j;
  }
  linked_.clear();
  if (!held.empty()) use_.HeldFiles = std::make_shared<const std::vector<HeldFile>>(std::move(held));
  return use_;
}

}  // namespace orbelan
