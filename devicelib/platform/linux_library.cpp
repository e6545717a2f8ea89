// Unloading on Linux: dlclose and exit() run the library's destructors with every thread still running,
// and a thread's end needs no lock the unload holds. A fork's handlers go with the library on dlclose.
#include <dlfcn.h>
#include <pthread.h>

#include "platform/unload.h"

namespace pekolm::platform {

bool unloading_with_process() { return false; }
bool can_join_during_unload() { return true; }

void keep_library_loaded() {
  // Opening itself again with RTLD_NODELETE makes every later dlclose leave it loaded.
  Dl_info self{};
  if (::dladdr(reinterpret_cast<void*>(&keep_library_loaded), &self) != 0 && self.dli_fname != nullptr) {
    ::dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

void on_fork(void (*prepare)(), void (*parent)(), void (*child)()) { ::pthread_atfork(prepare, parent, child); }

}  // namespace pekolm::platform
