// Drives the receive buffer (Reassembly) the way the receive thread does, with a sink that records what
// the decoder found and plays queries that await answers through the library's own answer slot. Header
// only, so that the fuzz targets can use it without the test libraries.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frames.h"
#include "protocol/answer_slot.h"
#include "protocol/frame_decoder.h"
#include "protocol/reassembly.h"

namespace testing_support {

// One thing the decoder reported, in the order it did.
struct Found {
  enum Kind { values, bad_terminator, answer } kind;
  Bytes bytes;                    // four raw values high byte first, or the answer taken
  std::size_t answer_length = 0;  // the received answer length when it was taken
  bool operator==(const Found&) const = default;
};

struct RecordingSink : pekolm::FrameSink {
  std::vector<Found> found;
  pekolm::AnswerSlot slot;
  std::size_t answer_length = 0;
  int queries_left = 0;
  bool clearing = false;

  // `count` queries await answers of `length` bytes, one after the other.
  void await(std::size_t length, int count) {
    answer_length = length;
    queries_left = count;
    next_query();
  }
  int values_found() const {
    return static_cast<int>(
        std::count_if(found.begin(), found.end(), [](const Found& f) { return f.kind == Found::values; }));
  }

  Store store_values(const std::uint16_t raw[4]) override {
    if (clearing) return Store::abandon_pass;
    Bytes bytes(8);
    for (int c = 0; c < 4; ++c) {
      bytes[2 * c] = static_cast<std::uint8_t>(raw[c] >> 8);
      bytes[2 * c + 1] = static_cast<std::uint8_t>(raw[c]);
    }
    found.push_back({Found::values, bytes});
    return Store::stored;
  }
  void bad_terminator() override { found.push_back({Found::bad_terminator, {}}); }
  std::size_t offer_answer(const std::uint8_t* bytes, std::size_t available) override {
    bool taken = false;
    const std::size_t span = slot.offer(bytes, available, taken);
    if (taken) {
      const auto& answer = slot.answer();
      found.push_back({Found::answer, Bytes(answer.begin(), answer.begin() + answer_length), slot.received_length()});
      next_query();
    }
    return span;
  }

 private:
  void next_query() {
    if (queries_left > 0 && answer_length != 0) {
      --queries_left;
      slot.expect(answer_length);
    }
  }
};

// Plays a port on which `stream` arrives in pieces of the given sizes (the last size repeats). Each read
// takes what has arrived, as much as fits, or with `frame_sized` at most what the open frame lacks, the
// way reads were sized before the receive thread took whatever had arrived. Returns the bytes left carried.
inline std::size_t feed(RecordingSink& sink, const Bytes& stream, const std::vector<std::size_t>& pieces,
                        bool frame_sized = false) {
  pekolm::Reassembly reassembly;
  std::size_t offset = 0, arrived = 0, piece = 0;
  while (offset < stream.size()) {
    if (offset == arrived) {
      arrived = std::min(stream.size(), arrived + pieces[std::min(piece, pieces.size() - 1)]);
      ++piece;
    }
    const std::size_t room = frame_sized ? reassembly.frame_sized_read() : reassembly.free_size();
    const std::size_t n = std::min(room, arrived - offset);
    std::memcpy(reassembly.free_space(), stream.data() + offset, n);
    offset += n;
    reassembly.decode_received(n, sink);
  }
  return reassembly.carried();
}

}  // namespace testing_support
