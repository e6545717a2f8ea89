// Receive buffer: see reassembly.h.
#include "protocol/reassembly.h"

#include <algorithm>
#include <cstring>

namespace pekolm {

std::size_t Reassembly::frame_sized_read() const {
  return std::min(request_size_ == 0 ? std::size_t{1} : request_size_, free_size());
}

void Reassembly::decode_received(std::size_t count, FrameSink& sink) {
  const std::size_t total = carried_ + std::min(count, free_size());
  const DecodeResult decoded = decode(buffer_.data(), total, sink);
  if (decoded.carried != 0 && decoded.carried != total) {
    std::memmove(buffer_.data(), buffer_.data() + total - decoded.carried, decoded.carried);
  }
  carried_ = decoded.carried;
  request_size_ = decoded.request_size;
}

}  // namespace pekolm
