// The receive buffer between two reads of the port: the bytes of an unfinished frame carried at its start,
// then room for whatever the port delivers next. Every frame a read completes is decoded at once, so a
// burst costs one read however many frames it holds; the outcome is the same as with reads sized to the
// frame being assembled, whatever the sizes of the reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/frame_decoder.h"
#include "protocol/limits.h"

namespace pekolm {

class Reassembly {
 public:
  static constexpr std::size_t capacity = 256;
  // An unfinished answer is carried whole, and there is room left to complete it.
  static_assert(answer_buffer_size < capacity && value_frame_length < capacity);

  // Where the next read goes, and how many bytes fit there.
  std::uint8_t* free_space() { return buffer_.data() + carried_; }
  std::size_t free_size() const { return capacity - carried_; }
  // What the open frame still lacks, or 1 when none is open: a read of this size never runs into the
  // next frame.
  std::size_t frame_sized_read() const;

  // Decodes the carried bytes and the `count` bytes just read into free_space().
  void decode_received(std::size_t count, FrameSink& sink);
  // Drops the unfinished frame.
  void drop() { carried_ = request_size_ = 0; }
  std::size_t carried() const { return carried_; }

 private:
  std::array<std::uint8_t, capacity> buffer_{};
  std::size_t carried_ = 0;
  std::size_t request_size_ = 0;  // bytes the carried frame lacks; 0 when none is open
};

}  // namespace pekolm
