// The one file of kolmscan that calls the library.
#include "probe.h"

#include <cerrno>
#include <chrono>
#include <future>

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

// An amplifier answers the start-up's queries within milliseconds of its 0.5 s settling; a silent line
// would hold each rate for the library's 6 s answer time-out. After this long a release cuts the wait short,
// so that a silent port costs about this much a rate.
constexpr auto answer_allowance = std::chrono::milliseconds(3000);

// Activates the port at `baud` and returns 0 or the activation's error code; a start-up that has not
// finished within the allowance counts as unanswered.
int activate(int number, int baud) {
  auto activation = std::async(std::launch::async, [=] {
    return KolmactivateExtended(number, baud, probe_buffer, 0) == 0 ? 0 : KolmgetLastError(number);
  });
  if (activation.wait_for(answer_allowance) == std::future_status::ready) return activation.get();
  bool released = false;
  // Until the port is open a release finds nothing to release: try again until the activation has ended.
  while (activation.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    released = Kolmrelease(number) == 0 || released;
  }
  const int code = activation.get();
  if (code == 0) {
    // It answered after all, just before the release: a slow amplifier, asked again without a limit.
    if (released || Kolmrelease(number) == 0) {
      return KolmactivateExtended(number, baud, probe_buffer, 0) == 0 ? 0 : KolmgetLastError(number);
    }
    return 0;
  }
  return PEKOLM_E_ANSWER_TIMEOUT;
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

ProbeResult probe_port(int number) {
  ProbeResult result;
  int garbled = 0;  // the last answer that came, but not as an amplifier's at that rate
  for (const int baud : probe_bauds) {
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
