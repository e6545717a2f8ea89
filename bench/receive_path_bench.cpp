// How fast the receive path is: frames decoded and stored per second, values normalised per second. At
// 230400 baud the line carries at most about 2100 frames a second, so anything in the millions leaves the
// receive thread idle nearly all the time.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "protocol/frame_decoder.h"
#include "protocol/value_ring.h"

namespace {

using namespace pekolm;

struct RingSink : FrameSink {
  ValueRing rings[4];
  RingSink() {
    for (ValueRing& ring : rings) ring.allocate(4096);
  }
  Store store_values(const std::uint16_t raw[4]) override {
    for (int c = 0; c < 4; ++c) rings[c].push(raw[c]);
    return Store::stored;
  }
  void bad_terminator() override {}
  std::size_t offer_answer(const std::uint8_t*, std::size_t) override { return 0; }
};

// The receive thread's way: one byte when no frame is open, then the ten the frame lacks.
void BM_DecodeFramesAsRead(benchmark::State& state) {
  const std::uint8_t frame[11] = {0xA5, 0x80, 0x01, 0x7F, 0xFE, 0x12, 0x34, 0xAB, 0xCD, '\r', '\n'};
  RingSink sink;
  std::uint8_t buffer[256];
  for (auto _ : state) {
    buffer[0] = frame[0];
    DecodeResult first = decode(buffer, 1, sink);
    std::memcpy(buffer + first.carried, frame + 1, first.request_size);
    DecodeResult second = decode(buffer, 11, sink);
    benchmark::DoNotOptimize(second);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeFramesAsRead);

// A block of values handed out the way KolmreadMultiple does it.
void BM_NormaliseBlock(benchmark::State& state) {
  ValueRing ring;
  ring.allocate(512);
  std::vector<double> out(400);
  for (auto _ : state) {
    for (int i = 0; i < 400; ++i) ring.push(static_cast<std::uint16_t>(i * 97));
    for (int i = 0; i < 400; ++i) out[i] = normalise(ring.pop());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 400);
}
BENCHMARK(BM_NormaliseBlock);

}  // namespace
