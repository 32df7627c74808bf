#include "survey/listing_handoff.h"

#include <stdexcept>

namespace orbelan {
namespace {

// Marks a record whose counter came before any offer. Never dereferenced.
std::string gTakenMark;
std::string* const kTaken = &gTakenMark;

}  // namespace

ListingHandoff::ListingHandoff(std::size_t budgetBytes)
    : budget_(budgetBytes), chunks_(new Slot*[kMaxChunks]) {}

ListingHandoff::~ListingHandoff() { Clear(); }

void ListingHandoff::Clear() {
  for (std::size_t c = 0; c < chunkCount_; ++c) {
    for (std::size_t i = 0; i < kChunk; ++i) {
      std::string* held = chunks_[c][i].load(std::memory_order_relaxed);
      if (held != kTaken) delete held;
    }
    delete[] chunks_[c];
  }
  chunkCount_ = 0;
  held_.store(0, std::memory_order_relaxed);
}

void ListingHandoff::Grow(std::int64_t count) {
  const auto needed = (static_cast<std::size_t>(count) + kChunk - 1) >> kChunkBits;
  while (chunkCount_ < needed) {
    if (chunkCount_ == kMaxChunks) throw std::length_error("too many folders");
    Slot* chunk = new Slot[kChunk];
    for (std::size_t i = 0; i < kChunk; ++i) chunk[i].store(nullptr, std::memory_order_relaxed);
    chunks_[chunkCount_++] = chunk;
  }
}

ListingHandoff::Slot& ListingHandoff::At(std::int64_t index) const {
  const auto at = static_cast<std::size_t>(index);
  return chunks_[at >> kChunkBits][at & (kChunk - 1)];
}

bool ListingHandoff::Room(std::size_t bytes) const {
  return held_.load(std::memory_order_relaxed) + bytes <= budget_;
}

bool ListingHandoff::Offer(std::int64_t index, FolderEntries& entries) {
  const std::size_t bytes = entries.Bytes();
  if (!Room(bytes)) return false;
  Slot& slot = At(index);
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
  std::string* held = At(index).exchange(kTaken, std::memory_order_acq_rel);
  if (held == nullptr || held == kTaken) return nullptr;
  held_.fetch_sub(held->size(), std::memory_order_relaxed);
  return std::unique_ptr<std::string>(held);
}

}  // namespace orbelan
