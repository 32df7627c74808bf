#pragma once
// A table that one thread grows while others read entries already handed to them: entries
// live in chunks that never move, found through a fixed table of chunk pointers that is
// never reallocated, so readers need no lock (only the pages of that table that are used
// are ever touched).

#include <cstddef>
#include <memory>
#include <stdexcept>

namespace orbelan {

template <typename T>
class ChunkedTable {
 public:
  ChunkedTable() : chunks_(new T*[kMaxChunks]) {}
  ~ChunkedTable() { Clear(); }
  ChunkedTable(const ChunkedTable&) = delete;
  ChunkedTable& operator=(const ChunkedTable&) = delete;

  // The writer, with no reader about.
  void Clear() {
    for (std::size_t i = 0; i < chunkCount_; ++i) delete[] chunks_[i];
    chunkCount_ = 0;
  }
  // The writer: entries below count exist; new ones are value-initialised.
  void Grow(std::size_t count) {
    while (Capacity() < count) {
      if (chunkCount_ == kMaxChunks) throw std::length_error("too many folders");
      chunks_[chunkCount_++] = new T[kChunk]();
    }
  }
  // Entries that exist, whether written or not.
  std::size_t Capacity() const { return chunkCount_ << kChunkBits; }
  // Any thread, for an index handed over with release/acquire ordering.
  T& operator[](std::size_t index) const { return chunks_[index >> kChunkBits][index & (kChunk - 1)]; }

 private:
  static constexpr std::size_t kChunkBits = 12;
  static constexpr std::size_t kChunk = std::size_t{1} << kChunkBits;
  static constexpr std::size_t kMaxChunks = std::size_t{1} << 20;  // four billion entries

  std::unique_ptr<T*[]> chunks_;
  std::size_t chunkCount_ = 0;
};

}  // namespace orbelan
