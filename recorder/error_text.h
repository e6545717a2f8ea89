// Readable texts for the library's error codes, for kolmrec's messages.
#pragma once

#include <cstdint>
#include <string>

namespace kolmrec {

// "the amplifier did not answer (0x30000058)", "No such file or directory (2)", ...
std::string error_text(std::uint32_t code);

// Receive-thread codes that mean a damaged frame rather than a port that stopped working.
bool is_damaged_frame(std::uint32_t code);

}  // namespace kolmrec
