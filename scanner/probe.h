// Asking a port whether an amplifier answers, through the library as any application would.
#pragma once

#include "report.h"

namespace kolmscan {

inline constexpr int probe_bauds[] = {115200, 230400, 57600, 38400, 19200, 9600};

// Tries the rates in turn until the amplifier answers; the port is released again before it returns.
ProbeResult probe_port(int number);

}  // namespace kolmscan
