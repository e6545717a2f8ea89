// The one file of kolmscan that calls the library.
#include "probe.h"

#include <cerrno>

#include "error_message.h"
#include "pekolm.h"

namespace kolmscan {
namespace {

// Small: the probe reads settings, never values.
constexpr int probe_buffer = 16;

// What the system says when another program has the port open.
#ifdef _WIN32
constexpr int busy_code = 5;  // ERROR_ACCESS_DENIED
#else
constexpr int busy_code = EBUSY;
#endif

// A failed activation whose code went elsewhere; never mistaken for success.
constexpr int unknown_failure = -1;

// Activates the port at `baud`; 0 or the activation's error code. No shorter limit than the library's own
// answer time-out: an amplifier that answers the mode query but not the transmission-mode or firmware one
// (which the start-up tolerates) is still in the start-up seconds later, and cutting it short would call it
// silent. A silent rate costs the 0.5 s of settling and one time-out; ports are probed side by side.
int activate(int number, int baud) {
  if (KolmactivateExtended(number, baud, probe_buffer, 0) == 0) return 0;
  const int code = KolmgetLastError(number);
  return code != 0 ? code : unknown_failure;
}

ProbeResult failure(int code) {
  ProbeResult result;
  char text[error_message_size];
  result.outcome = ProbeResult::Outcome::failed;
  result.error = code;
  result.error_text = describe_error_code(code, text, sizeof text);
  return result;
}

}  // namespace

volatile std::sig_atomic_t probe_stop = 0;

ProbeResult probe_port(int number) {
  ProbeResult result;
  int garbled = 0;  // the last answer that came, but not as an amplifier's at that rate
  for (const int baud : probe_bauds) {
    if (probe_stop != 0) {
      result.error_text = "interrupted";
      return result;
    }
    // Settles 0.5 s and asks for the mode first: the mode query's silence is what tells a wrong rate.
    if (const int code = activate(number, baud); code != 0) {
      if (code == PEKOLM_E_ANSWER_TIMEOUT) continue;
      // At a wrong rate an amplifier's stream arrives as noise, which may look like an answer of the wrong
      // length or content: the right rate may still come.
      if (code == PEKOLM_E_ANSWER_LENGTH || code == PEKOLM_E_ANSWER_CONTENT) {
        garbled = code;
        continue;
      }
      if (code == busy_code) {
        result.outcome = ProbeResult::Outcome::busy;
        return result;
      }
      return failure(code);
    }
    // A transmission-mode or firmware query that went unanswered during activation leaves its code pending;
    // the queries below say for themselves what they get.
    KolmgetLastError(number);
    result.outcome = ProbeResult::Outcome::amplifier;
    result.baud = baud;
    result.firmware = KolmfirmwareVersion(number);
    char serial[9] = {};
    if (KolmreadSerialNo(number, serial) == 0) result.serial_number = serial;
    result.mode = KolmgetMode(number);
    result.rate_hz = KolmreadFreq(number);
    result.tx_mode = KolmgetTXmode(number);
    Kolmrelease(number);
    return result;
  }
  if (garbled != 0) return failure(garbled);
  result.outcome = ProbeResult::Outcome::silent;
  return result;
}

}  // namespace kolmscan
