// Unloading on Linux: dlclose and exit() run the library's destructors with every thread still running,
// and a thread's end needs no lock the unload holds.
#include "platform/unload.h"

namespace pekolm::platform {

bool unloading_with_process() { return false; }
bool can_join_during_unload() { return true; }

}  // namespace pekolm::platform
