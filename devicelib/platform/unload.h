// What the system allows while the library is unloaded with ports still open.
#pragma once

namespace pekolm::platform {

// True when the library goes with its process and the system has already ended the other threads
// (Windows does so before it unloads libraries): nothing may be waited for then, and the system closes
// the ports itself.
bool unloading_with_process();

// Whether a thread may be joined while the library is unloaded. On Windows the unload holds the loader
// lock, which every ending thread needs: a join there never returns.
bool can_join_during_unload();

}  // namespace pekolm::platform
