// Fuzz target for the frame decoder, driven as the receive thread drives it: reads sized to what the open
// frame lacks, the unfinished frame carried over, an answer awaited now and then. The first two input
// bytes choose the awaited answer's length and the size of the pieces the rest arrives in.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exact_input.h"
#include "protocol/frame_decoder.h"

namespace {

struct CheckingSink : pekolm::FrameSink {
  std::size_t expected_answer = 0;
  Store store_values(const std::uint16_t*) override { return Store::stored; }
  void bad_terminator() override {}
  std::size_t offer_answer(const std::uint8_t* bytes, std::size_t available) override {
    if (bytes[0] != ';') std::abort();
    const std::size_t expected = expected_answer;
    if (expected != 0 && available >= expected) expected_answer = 0;
    return expected;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* fuzz_data, std::size_t size) {
  if (size < 2) return 0;
  const ExactInput input(fuzz_data, size);
  const std::uint8_t* data = input.data();
  CheckingSink sink;
  sink.expected_answer = data[0] % 129;  // answers fit the 128-byte answer buffer
  const std::size_t piece = 1 + data[1] % 32;
  data += 2;
  size -= 2;

  std::uint8_t buffer[256];
  std::size_t carried = 0, request = 0, offset = 0;
  while (offset < size) {
    if (request == 0) request = 1;
    request = std::min(request, sizeof buffer - carried);
    const std::size_t n = std::min({request, piece, size - offset});
    std::memcpy(buffer + carried, data + offset, n);
    offset += n;
    const std::size_t count = carried + n;
    const pekolm::DecodeResult result = pekolm::decode(buffer, count, sink);
    if (result.carried > count || result.carried + result.request_size > sizeof buffer) std::abort();
    std::memmove(buffer, buffer + count - result.carried, result.carried);
    carried = result.carried;
    request = result.request_size;
  }
  return 0;
}
