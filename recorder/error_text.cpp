#include "error_text.h"

#include <cstdio>
#include <system_error>

namespace kolmrec {
namespace {

constexpr std::uint32_t write_failed = 0x20000000;
constexpr std::uint32_t frame_terminator = 0x30000061;

const char* library_text(std::uint32_t code) {
  switch (code) {
    case 0x3000001F:
      return "no CTS from the amplifier";
    case 0x30000058:
      return "the amplifier did not answer";
    case 0x30000059:
      return "an answer of the wrong length";
    case 0x30000060:
      return "an answer that does not fit the question";
    case frame_terminator:
      return "a damaged measured-value frame";
    case 0x30000062:
      return "the amplifier's firmware is too old for this";
    case 0x300000F0:
      return "the port's value buffers stayed locked";
    case 0x300000F1:
      return "a wait failed";
    case 0x300000F3:
      return "out of memory";
    case 0x300000F5:
      return "a command was written only in part";
    case 0x300000F6:
      return "the port is already open";
    case 0x30000100:
      return "a bad argument";
    case 0x30000101:
      return "the port is not open";
    default:
      return nullptr;
  }
}

// errno values on Linux, GetLastError values on Windows: the system category speaks both, and unlike
// strerror it may be asked from the threads that open ports side by side.
std::string system_text(std::uint32_t code) { return std::system_category().message(static_cast<int>(code)); }

std::string hex(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::string error_text(std::uint32_t code) {
  if (const char* text = library_text(code)) return std::string(text) + " (" + hex(code) + ")";
  if ((code & 0xF0000000) == write_failed) {
    return "writing to the port failed: " + system_text(code & ~write_failed) + " (" + hex(code) + ")";
  }
  return system_text(code) + " (" + std::to_string(code) + ")";
}

bool is_damaged_frame(std::uint32_t code) { return code == frame_terminator; }

}  // namespace kolmrec
