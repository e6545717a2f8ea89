/* A caller whose compiler makes functions __stdcall unless told otherwise (gcc -mrtd, as MSVC's /Gz does):
 * through pekolm.h it must still call the exports as the DLL was built. Called in the wrong convention, an
 * export leaves the caller's stack off by the arguments pushed, or its result or arguments are misread. */
#include <stdint.h>
#include <stdio.h>

#include "pekolm.h"

static int failures;

static void expect(const char* call, double actual, double expected) {
  if (actual != expected) {
    printf("%s: %g, expected %g\n", call, actual, expected);
    ++failures;
  }
}

/* The stack pointer at a call, by the frame of the callee: the same after the exports' calls as before when
 * every call's arguments came off the stack again. */
static __attribute__((noipa)) uintptr_t stack_at_call(void) { return (uintptr_t)__builtin_frame_address(0); }

int main(void) {
  double value[4];
  const uintptr_t before = stack_at_call();
  expect("KolmdllVersion()", KolmdllVersion(), 0x10009);
  /* Port 200 is not there: the activation fails with the system's ERROR_FILE_NOT_FOUND, reported once. */
  expect("KolmactExt(200, 115200, 1000)", KolmactExt(200, 115200, 1000), -1);
  expect("KolmgetLastError(200)", KolmgetLastError(200), 2);
  expect("KolmgetLastError(200) again", KolmgetLastError(200), 0);
  /* Pointers, doubles both ways and a C++ name, on a port that is not open. */
  expect("KolmreadAll(7, ...)", KolmreadAll(7, &value[0], &value[1], &value[2], &value[3]), -1);
  expect("KolmwriteThreshold(7, 1, 0.5, 0.25)", KolmwriteThreshold(7, 1, 0.5, 0.25), -1);
  expect("KolmDispGetNorm(7, 1)", KolmDispGetNorm(7, 1), -1.0);
  expect("KolmgetTXmode(7)", KolmgetTXmode(7), -1);
  expect("KolmgetLastError(7)", KolmgetLastError(7), PEKOLM_E_BAD_PORT);
  const uintptr_t after = stack_at_call();
  if (after != before) {
    printf("the stack moved by %ld bytes over the calls\n", (long)(after - before));
    ++failures;
  }
  if (failures == 0) printf("all calls matched the DLL's convention\n");
  return failures != 0;
}
