// Allocation of a channel ring; kept out of line so the hot push/pop stay in the header.
#include "protocol/value_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pekolm {

bool ValueRing::allocate(std::uint32_t capacity) {
  // Not value-initialised: a large ring costs address space, not memory, until values arrive.
  values_.reset(new (std::nothrow) std::uint16_t[capacity]);
  if (!values_) return false;
  capacity_ = capacity;
  clear();
  return true;
}

void ValueRing::take(std::uint16_t* out, std::uint32_t n) {
  if (n == 0) return;
  // At most two runs: up to the ring's end, then from its start.
  const std::uint32_t first = std::min(n, capacity_ - read_index_);
  std::memcpy(out, values_.get() + read_index_, first * sizeof(std::uint16_t));
  if (first < n) std::memcpy(out + first, values_.get(), (n - first) * sizeof(std::uint16_t));
  read_index_ += n;  // capacity is far below 2^31, so this cannot wrap
  if (read_index_ >= capacity_) read_index_ -= capacity_;
  count_ -= n;
}

}  // namespace pekolm
