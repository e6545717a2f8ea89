// The host's end of the simulator's pty, opened the way a serial port is, and a reader of what the
// amplifier sends.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim::testing {

class SlavePort {
 public:
  explicit SlavePort(const std::string& path);  // raw and non-blocking; fails the test on error
  ~SlavePort();
  SlavePort(const SlavePort&) = delete;
  SlavePort& operator=(const SlavePort&) = delete;

  int fd() const { return fd_; }
  void write(const Bytes& bytes);
  // Everything that arrives within `span`.
  Bytes read_for(std::chrono::milliseconds span);
  // Reads until done(bytes so far) holds or `timeout` passes.
  Bytes read_until(const std::function<bool(const Bytes&)>& done, std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

// What the amplifier sent, split the way a host decoder would (answers by their length byte).
struct Stream {
  std::vector<Bytes> values;
  std::vector<Bytes> answers;
  Bytes garbage;     // bytes that start no frame
  std::size_t rest;  // bytes of an unfinished frame at the end
};
Stream parse_stream(const Bytes& bytes);

// The first answer to `command` in `bytes`, if complete.
std::optional<Bytes> answer_to(std::uint8_t command, const Bytes& bytes);

}  // namespace kolmsim::testing
