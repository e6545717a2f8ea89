// Command framing on the amplifier's input.
#include "command_reader.h"

#include "wire.h"

namespace kolmsim {

std::vector<Bytes> CommandReader::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Bytes> commands;
  for (std::uint8_t b : bytes) {
    if (pending_.empty() && wire::request_length(std::span(&b, 1)) == 0) continue;
    pending_.push_back(b);
    // Asked again after every byte: the scale command's length is settled by its third byte.
    if (pending_.size() >= wire::request_length(pending_)) {
      commands.push_back(std::move(pending_));
      pending_.clear();
    }
  }
  return commands;
}

}  // namespace kolmsim
