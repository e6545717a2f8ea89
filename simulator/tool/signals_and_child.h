// How the kolmsim tool waits: for a signal, or for the command it runs.
//
// The signals the tool reacts to are blocked in every thread (block_tool_signals() runs before the
// simulator starts its thread) and taken with sigtimedwait(), so no handler runs at an awkward time.
// While either waits, SIGUSR1 puts the load on and SIGUSR2 takes it off, and the load's schedule is
// followed.
#pragma once

#include <string>
#include <vector>

#include "load_switch.h"

namespace kolmsim::tool {

// Blocks SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1 and SIGUSR2 in the calling thread and in threads it
// starts later.
void block_tool_signals();

// Waits for SIGINT, SIGTERM or SIGHUP; returns the exit status for a clean stop (0).
int wait_for_stop_signal(LoadSwitch& load);

// Runs `command` (searched in PATH) with the inherited environment and standard streams and waits for
// it. SIGINT is not acted on here, so Ctrl-C at the terminal reaches the command, and the simulator
// stays up until it ends; SIGTERM and SIGHUP are passed on to it. Returns its exit status, 128 +
// signal number if a signal ended it, or 127 if it could not be started.
int run_command(const std::vector<std::string>& command, LoadSwitch& load);

}  // namespace kolmsim::tool
