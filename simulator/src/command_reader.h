// Cuts the byte stream from the host into whole commands. Bytes that cannot start a command are
// skipped one at a time, as the amplifier's firmware does; a started command waits for its remaining
// bytes however long they take.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim {

class CommandReader {
 public:
  // Appends `bytes` and returns every command they complete, in order.
  std::vector<Bytes> feed(std::span<const std::uint8_t> bytes);
  // Bytes of a command still incomplete.
  std::size_t pending() const { return pending_.size(); }

 private:
  Bytes pending_;  // starts with a command byte whenever it is not empty
};

}  // namespace kolmsim
