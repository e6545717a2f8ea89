#include "error_text.h"

#include "error_message.h"
#include "pekolm.h"

namespace kolmrec {

std::string error_text(std::uint32_t code) {
  char text[error_message_size];
  return describe_error_code(static_cast<int>(code), text, sizeof text);
}

bool is_damaged_frame(std::uint32_t code) { return code == PEKOLM_E_FRAME_TERMINATOR; }

}  // namespace kolmrec
