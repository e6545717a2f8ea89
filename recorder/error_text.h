// Readable texts for the library's error codes, for kolmrec's messages.
#pragma once

#include <cstdint>
#include <string>

namespace kolmrec {

// "no answer to a query within 6000 ms (0x30000058)", "ENOENT (2, No such file or directory)", ...
std::string error_text(std::uint32_t code);

// Receive-thread codes that mean a damaged frame rather than a port that stopped working.
bool is_damaged_frame(std::uint32_t code);

}  // namespace kolmrec
