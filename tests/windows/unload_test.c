/* The DLL unloaded with a port open and streaming, twice over: FreeLibrary returns (the receive thread is
 * not joined under the loader lock), and the port was released, since the second round opens it again;
 * then the process ends with the port open.
 * The exports are bound by ordinal, as the existing applications bind them. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

typedef int (*activate_fn)(int, int, int, int);
typedef int (*port_fn)(int);

/* unload_test [PORT...] (default 9): every port given is open and streaming at each unload. */
int main(int argc, char** argv) {
  int ports[255] = {9};
  int count = 1;
  if (argc > 1) {
    for (count = 0; count + 1 < argc && count < 255; ++count) ports[count] = atoi(argv[count + 1]);
  }
  const int port = ports[0];
  for (int round = 1; round <= 2; ++round) {
    HMODULE library = LoadLibraryA("pekolm.dll");
    if (library == NULL) {
      printf("round %d: LoadLibrary failed with %lu\n", round, GetLastError());
      return 1;
    }
    activate_fn activate = (activate_fn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(36));
    port_fn get_last_error = (port_fn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(2));
    port_fn start = (port_fn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(8));
    if (activate == NULL || get_last_error == NULL || start == NULL) {
      printf("round %d: an ordinal is missing\n", round);
      return 1;
    }
    for (int i = 0; i < count; ++i) {
      if (activate(ports[i], 115200, 1000, 0) != 0) {
        printf("round %d: activation of port %d failed with 0x%X\n", round, ports[i], get_last_error(ports[i]));
        return 1;
      }
      start(ports[i]);
    }
    Sleep(200);
    const DWORD before = GetTickCount();
    if (!FreeLibrary(library)) {
      printf("round %d: FreeLibrary failed with %lu\n", round, GetLastError());
      return 1;
    }
    printf("round %d: unloaded in %lu ms with %d ports open\n", round, GetTickCount() - before, count);
  }
  printf("unloaded twice with the port open\n");
  /* Last, the process ends with a port open: the system has ended the receive thread by then, and the
   * library must not wait for it. */
  HMODULE library = LoadLibraryA("pekolm.dll");
  activate_fn activate = library ? (activate_fn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(36)) : NULL;
  if (activate == NULL || activate(port, 115200, 1000, 0) != 0) return 1;
  return 0;
}
