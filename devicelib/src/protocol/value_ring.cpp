// Allocation of a channel ring; kept out of line so the hot push/pop stay in the header.
#include "protocol/value_ring.h"

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

}  // namespace pekolm
