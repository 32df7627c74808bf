#pragma once
// A byte buffer whose growth does not clear the new bytes first. The estimate's buffers are
// always written (read into, compressed into) before they are read, and clearing them only
// touches fresh pages: a page's first touch costs some 11 us under this kind of hypervisor
// (the same order on bare metal with a cold TLB), so a 2 MiB buffer cleared on growth cost
// about 6 ms before the first byte was read into it.

#include <memory>
#include <vector>

namespace orbelan::saving {

// std::allocator, except that a value constructed without arguments is left as it is.
template <typename T>
struct LeftAsItIs : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = LeftAsItIs<U>;
  };
  LeftAsItIs() = default;
  template <typename U>
  LeftAsItIs(const LeftAsItIs<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using ByteBuffer = std::vector<unsigned char, LeftAsItIs<unsigned char>>;

// Makes buffer at least size bytes long without copying what it held (its bytes are to be
// written afresh): grown at once to at least atLeast, so that a size that creeps up file by
// file does not reallocate (and touch) again each time.
inline void GrowUnkept(ByteBuffer& buffer, std::size_t size, std::size_t atLeast = 0) {
  if (buffer.size() >= size) return;
  ByteBuffer().swap(buffer);
  buffer.resize(size > atLeast ? size : atLeast);
}

}  // namespace orbelan::saving
