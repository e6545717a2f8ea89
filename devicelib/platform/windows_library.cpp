// The DLL's entry point. It runs before the library's static destructors, so it can tell them whether the
// DLL is unloaded by FreeLibrary (other threads run on) or with the process (they have already been ended).
#include <windows.h>

#include <atomic>

#include "platform/unload.h"

namespace pekolm::platform {
namespace {

std::atomic<bool> process_ending{false};

}  // namespace

bool unloading_with_process() { return process_ending.load(); }
bool can_join_during_unload() { return false; }

void keep_library_loaded() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&keep_library_loaded), &self);
}

void on_fork(void (*)(), void (*)(), void (*)()) {}

}  // namespace pekolm::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // A non-null `reserved` on detach means the process is ending.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) pekolm::platform::process_ending = true;
  return TRUE;
}
