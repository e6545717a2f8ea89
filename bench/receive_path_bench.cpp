// How fast the receive path is: frames decoded and stored per second, values normalised per second. At
// 230400 baud the line carries at most about 2100 frames a second, so anything in the millions leaves the
// receive thread idle nearly all the time.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "protocol/reassembly.h"
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

// The receive thread's way: whatever a read brought, here `frames` whole frames, decoded in one pass.
void BM_DecodeFramesAsRead(benchmark::State& state) {
  const std::uint8_t frame[11] = {0xA5, 0x80, 0x01, 0x7F, 0xFE, 0x12, 0x34, 0xAB, 0xCD, '\r', '\n'};
  const auto frames = static_cast<std::size_t>(state.range(0));
  RingSink sink;
  Reassembly reassembly;
  for (auto _ : state) {
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(reassembly.free_space() + 11 * i, frame, 11);
    reassembly.decode_received(11 * frames, sink);
    benchmark::DoNotOptimize(sink.rings[0].count());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames));
}
BENCHMARK(BM_DecodeFramesAsRead)->Arg(1)->Arg(23);

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
