/* A small C program on the library: opens an amplifier, shows who it is, takes a second of measured values
 * and lets the port go. Usage: kolmdemo [port [baud]] (defaults: port 1, 115200 baud). */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "pekolm.h"

static void pause_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  int port = argc > 1 ? atoi(argv[1]) : 1;
  int baud = argc > 2 ? atoi(argv[2]) : 115200;
  double values[400];
  char serial[9] = "";
  int count = 0, samples = 0, result;
  long waited;

  printf("library version 0x%X\n", KolmdllVersion());
  if (KolmactivateExtended(port, baud, 4096, 0) != 0) {
    fprintf(stderr, "kolmdemo: port %d could not be opened, error 0x%X\n", port, KolmgetLastError(port));
    return 1;
  }
  KolmreadSerialNo(port, serial);
  printf("port %d: mode %d, firmware %d, serial number %s, transmission mode %d\n", port, KolmgetMode(port),
         KolmfirmwareVersion(port), serial, KolmgetTXmode(port));

  KolmclearDLLbuffer(port);
  if (KolmstartTX(port) != 0) {
    fprintf(stderr, "kolmdemo: start failed, error 0x%X\n", KolmgetLastError(port));
    Kolmrelease(port);
    return 1;
  }
  for (waited = 0; waited < 1000; waited += 10) {
    pause_ms(10);
    result = KolmreadMultiple(port, 0, values, 400, &count);
    if (result == -1) fprintf(stderr, "kolmdemo: read error 0x%X\n", KolmgetLastError(port));
    if (result == 1) {
      if (samples == 0) {
        printf("first sample: %.5f %.5f %.5f %.5f\n", values[0], values[1], values[2], values[3]);
      }
      samples += count / 4;
    }
  }
  KolmstopTX(port);
  printf("%d samples in one second\n", samples);
  Kolmrelease(port);
  return samples > 0 ? 0 : 1;
}
