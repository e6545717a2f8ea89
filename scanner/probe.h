// Asking ports whether an amplifier answers, through the library as any application would.
#pragma once

#include <csignal>
#include <vector>

#include "report.h"

namespace kolmscan {

inline constexpr int probe_bauds[] = {115200, 230400, 57600, 38400, 19200, 9600};

// Tries the rates in turn until the amplifier answers; the port is released again before it returns.
// Set from a signal handler, probe_stop ends it before the next rate (the library has released the port after
// a rate without answer); the result is then `skipped`.
extern volatile std::sig_atomic_t probe_stop;
ProbeResult probe_port(int number);

// probe_port for each number, side by side where the system allows it, results in the same order. The
// library keeps the error of a failed activation in one place for all ports, so that two activations failing
// at once would swap or lose their codes: side by side means in processes of their own (POSIX), else one
// after the other (Windows). Call it before the first call into the library in this process.
std::vector<ProbeResult> probe_ports(const std::vector<int>& numbers);

// The signal (SIGINT, SIGTERM, SIGHUP) that cut probe_ports short, else 0. The probes it cut were ended, and
// their results are empty.
int interrupting_signal();

// Probes every row: each device once (a link and the tty it leads to are one port), under its number where
// a row of it has one, else through a link of its own; every row of the device gets the result.
void probe_rows(std::vector<Row>& rows);

}  // namespace kolmscan
