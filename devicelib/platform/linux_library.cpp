// Unloading on Linux: dlclose and exit() run the library's destructors with every thread still running,
// and a thread's end needs no lock the unload holds. A fork's handlers go with the library on dlclose.
#include <pthread.h>

#include "platform/unload.h"

namespace pekolm::platform {

bool unloading_with_process() { return false; }
bool can_join_during_unload() { return true; }

void on_fork(void (*prepare)(), void (*parent)(), void (*child)()) { ::pthread_atfork(prepare, parent, child); }

}  // namespace pekolm::platform
