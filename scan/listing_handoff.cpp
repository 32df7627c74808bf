#include "scan/listing_handoff.h"

namespace orbelan {
namespace {

// Marks a record whose counter came before any offer. Never dereferenced.
std::string gTakenMark;
std::string* const kTaken = &gTakenMark;

}  // namespace

ListingHandoff::ListingHandoff(std::size_t budgetBytes) : budget_(budgetBytes) {}

ListingHandoff::~ListingHandoff() { Clear(); }

void ListingHandoff::Clear() {
  for (std::size_t i = 0; i < slots_.Capacity(); ++i) {
    std::string* held = slots_[i].load(std::memory_order_relaxed);
    if (held != kTaken) delete held;
  }
  slots_.Clear();
  held_.store(0, std::memory_order_relaxed);
}

void ListingHandoff::Grow(std::int64_t count) { slots_.Grow(static_cast<std::size_t>(count)); }

bool ListingHandoff::Room(std::size_t bytes) const {
  return held_.load(std::memory_order_relaxed) + bytes <= budget_;
}

bool ListingHandoff::Offer(std::int64_t index, FolderEntries& entries) {
  const std::size_t bytes = entries.Bytes();
  if (!Room(bytes)) return false;
  std::atomic<std::string*>& slot = slots_[static_cast<std::size_t>(index)];
  if (slot.load(std::memory_order_acquire) != nullptr) return false;  // taken, or offered before
  auto held = std::make_unique<std::string>(std::move(entries.Storage()));
  entries.Clear();
  held_.fetch_add(bytes, std::memory_order_relaxed);
  std::string* expected = nullptr;
  if (slot.compare_exchange_strong(expected, held.get(), std::memory_order_acq_rel)) {
    held.release();
    return true;
  }
  held_.fetch_sub(bytes, std::memory_order_relaxed);  // a counter came first
  return false;
}

std::unique_ptr<std::string> ListingHandoff::Take(std::int64_t index) {
  std::string* held = slots_[static_cast<std::size_t>(index)].exchange(kTaken, std::memory_order_acq_rel);
  if (held == nullptr || held == kTaken) return nullptr;
  held_.fetch_sub(held->size(), std::memory_order_relaxed);
  return std::unique_ptr<std::string>(held);
}

}  // namespace orbelan
