// What the system allows while the library is unloaded with ports still open, and what it does to the
// library's state when the process forks.
#pragma once

namespace pekolm::platform {

// True when the library goes with its process and the system has already ended the other threads
// (Windows does so before it unloads libraries): nothing may be waited for then, and the system closes
// the ports itself.
bool unloading_with_process();

// Whether a thread may be joined while the library is unloaded. On Windows the unload holds the loader
// lock, which every ending thread needs: a join there never returns.
bool can_join_during_unload();

// Keeps the library in memory until the process ends, whatever unloads it later: for a thread of the
// library's that could not be ended.
void keep_library_loaded();

// Runs `prepare` in the forking thread before a fork(), `parent` after it in the parent and `child` in the
// child, as pthread_atfork does. Nothing where the system has no fork().
void on_fork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace pekolm::platform
