// Fuzz target for the frame decoder and the receive buffer, driven as the receive thread drives them, with
// queries awaiting answers now and then. The first three input bytes choose the awaited answers' length,
// how many queries await one, and the size of the pieces the rest arrives in. Besides the sanitizers'
// findings, it aborts when reads of the pieces' sizes find anything else than reads sized to the frame
// being assembled.
#include <cstdint>
#include <cstdlib>

#include "decoder_feed.h"
#include "exact_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* fuzz_data, std::size_t size) {
  using namespace testing_support;
  if (size < 3) return 0;
  const ExactInput input(fuzz_data, size);
  const std::uint8_t* data = input.data();
  const std::size_t answer_length = data[0] % pekolm::answer_buffer_size;  // 0: no query at all
  const int queries = data[1] % 4;
  const std::size_t piece = 1 + data[2] % 64;
  const Bytes stream(data + 3, data + size);

  RecordingSink reference, sink;
  reference.await(answer_length, queries);
  sink.await(answer_length, queries);
  const std::size_t reference_carried = feed(reference, stream, {stream.size()}, true);
  const std::size_t carried = feed(sink, stream, {piece});
  if (sink.found != reference.found || carried != reference_carried) std::abort();
  if (carried >= pekolm::Reassembly::capacity) std::abort();
  return 0;
}
