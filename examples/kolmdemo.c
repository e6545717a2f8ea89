/* A small C program on the library: opens an amplifier, shows who it is, takes a second of measured values
 * and lets the port go. Usage: kolmdemo [port [baud]] (defaults: port 1, 115200 baud), or --help, --version.
 * Built beside the two helpers it shares with the other programs:
 *     cc kolmdemo.c standard_streams.c error_message.c $(pkg-config --cflags --libs pekolm) -o kolmdemo */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "error_message.h"
#include "pekolm.h"
#include "standard_streams.h"

/* The release, set by the project's build; a copy built elsewhere tells so instead. */
#ifndef PEKOLM_RELEASE
#define PEKOLM_RELEASE "(example build)"
#endif

// Where a port number leads differs between the systems.
#ifdef _WIN32
#define PORT_NAMES "Port n is \\\\.\\COM<n>.\n"
#else
#define PORT_NAMES                                                                           \
  "Port n is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set, else /dev/pekolm/com<n>\n" \
  "where that link exists, else /dev/ttyS<n-1>.\n"
#endif

static const char usage_text[] =
    "Usage: kolmdemo [PORT [BAUD]]\n"
    "       kolmdemo --help | --version\n"
    "\n"
    "Opens the amplifier on port PORT (default 1) at BAUD (default 115200), prints the\n"
    "library version and the amplifier's mode, firmware version, serial number and\n"
    "transmission mode, takes measured values for one second and releases the port.\n"
    "Exits with 0 when values arrived, 1 otherwise, 2 for a bad command line.\n"
    "\n" PORT_NAMES "See kolmdemo(1).\n";

/* A whole decimal number, nothing before or after it; -1 for anything else. */
static int whole_number(const char* text) {
  char* end = NULL;
  long value;
  if (text[0] < '0' || text[0] > '9') return -1;
  errno = 0;
  value = strtol(text, &end, 10);
  return errno == 0 && *end == '\0' && value <= INT_MAX ? (int)value : -1;
}

static int usage_error(const char* what, const char* text) {
  fprintf(stderr, "kolmdemo: %s '%s'\nTry 'kolmdemo --help'.\n", what, text);
  return 2;
}

/* What failed and why, in words that can be looked up: pekolm.h's text and the code in hex, or the
 * system's name, number and text. */
static void report(const char* what, int port) {
  char text[error_message_size];
  fprintf(stderr, "kolmdemo: %s: %s\n", what, describe_error_code(KolmgetLastError(port), text, sizeof text));
}

static void pause_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  int port, baud;
  double values[400];
  char serial[9] = "";
  int count = 0, samples = 0, result;
  long waited;
  const int closed = reopen_closed_standard_streams();

  if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(usage_text, stdout);
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "--version") == 0) {
    printf("kolmdemo %s\n", PEKOLM_RELEASE);
    return 0;
  }
  if (argc > 3) return usage_error("unexpected argument", argv[3]);
  port = argc > 1 ? whole_number(argv[1]) : 1;
  baud = argc > 2 ? whole_number(argv[2]) : 115200;
  if (port < 0) return usage_error(argv[1][0] == '-' ? "unknown option" : "bad port number", argv[1]);
  if (baud < 0) return usage_error("bad baud rate", argv[2]);
  /* What it learns about the amplifier is all it is for. */
  if (closed & standard_output_closed) {
    fputs("kolmdemo: standard output is closed; nothing could be shown\n", stderr);
    return 1;
  }

  printf("library version 0x%X\n", KolmdllVersion());
  if (KolmactivateExtended(port, baud, 4096, 0) != 0) {
    char what[48];
    snprintf(what, sizeof what, "port %d could not be opened", port);
    report(what, port);
    return 1;
  }
  KolmreadSerialNo(port, serial);
  printf("port %d: mode %d, firmware %d, serial number %s, transmission mode %d\n", port, KolmgetMode(port),
         KolmfirmwareVersion(port), serial, KolmgetTXmode(port));

  KolmclearDLLbuffer(port);
  if (KolmstartTX(port) != 0) {
    report("start failed", port);
    Kolmrelease(port);
    return 1;
  }
  for (waited = 0; waited < 1000; waited += 10) {
    pause_ms(10);
    result = KolmreadMultiple(port, 0, values, 400, &count);
    if (result == -1) report("read error", port);
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
