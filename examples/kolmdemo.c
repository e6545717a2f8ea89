/* A small C program on the library: opens an amplifier, shows who it is, takes a second of measured values
 * and lets the port go. Usage: kolmdemo [port|device [baud]] (defaults: port 1, 115200 baud), or --help,
 * --version. Built beside the three helpers it shares with the other programs:
 *     cc kolmdemo.c standard_streams.c error_message.c port_devices.c $(pkg-config --cflags --libs pekolm) \
 *        -o kolmdemo */
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "error_message.h"
#include "pekolm.h"
#include "port_devices.h"
#include "standard_streams.h"

/* The release, set by the project's build; a copy built elsewhere tells so instead. */
#ifndef PEKOLM_RELEASE
#define PEKOLM_RELEASE "(example build)"
#endif

/* Where a port number leads and which devices have one differ between the systems. */
#ifdef _WIN32
#define PORT_NAMES "Port n is \\\\.\\COM<n>. A DEVICE is a COM port: COM5 or \\\\.\\COM5 is port 5.\n"
#else
#define PORT_NAMES                                                                           \
  "Port n is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set, else /dev/pekolm/com<n>\n" \
  "where that link exists, else /dev/ttyS<n-1>. A DEVICE (a path: it holds a '/') is\n"      \
  "opened as port 255 through a link in a folder of kolmdemo's own under $TMPDIR\n"          \
  "(else /tmp), removed once the port is open.\n"
#endif

static const char usage_text[] =
    "Usage: kolmdemo [PORT|DEVICE [BAUD]]\n"
    "       kolmdemo --help | --version\n"
    "\n"
    "Opens the amplifier on port PORT (default 1) or on the device DEVICE (such as\n"
    "/dev/ttyUSB0) at BAUD (default 115200), prints the library version and the\n"
    "amplifier's mode, firmware version, serial number and transmission mode, takes\n"
    "measured values for one second and releases the port.\n"
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

/* The port would not open: the device it is, and where a number led to a device that is not there or
 * did not answer, how the numbers map. */
static void report_open_failure(int port, const char* given_device) {
  char device[port_device_size], what[port_device_size + 64], text[error_message_size];
  const int code = KolmgetLastError(port);
  port_device(port, device, sizeof device);
  if (given_device != NULL) {
    snprintf(what, sizeof what, "%s could not be opened", device);
  } else if (device[0] != '\0') {
    snprintf(what, sizeof what, "port %d (%s) could not be opened", port, device);
  } else {
    snprintf(what, sizeof what, "port %d could not be opened", port);
  }
  fprintf(stderr, "kolmdemo: %s: %s\n", what, describe_error_code(code, text, sizeof text));
  if (given_device == NULL && device[0] != '\0' && port_device_missing_or_silent(code)) {
    fprintf(stderr, "kolmdemo: %s\n", port_numbers_line(port, device, sizeof device));
  }
}

/* Ended by a signal while the folder of links is there: it goes first. */
static void on_end_signal(int number) {
  remove_port_folder(); /* NOLINT(bugprone-signal-handler): unlink and rmdir only, as its header says */
  signal(number, SIG_DFL);
  raise(number);
}

static void pause_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  int port, baud;
  const char* device = NULL; /* the device given by its path */
  char problem[port_device_size];
  struct port_choice choice;
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
  if (argc > 1 && names_a_device(argv[1])) device = argv[1];
  port = argc > 1 && device == NULL ? whole_number(argv[1]) : 1;
  baud = argc > 2 ? whole_number(argv[2]) : 115200;
  if (port < 0) return usage_error(argv[1][0] == '-' ? "unknown option" : "bad port number", argv[1]);
  if (baud < 0) return usage_error("bad baud rate", argv[2]);
  /* What it learns about the amplifier is all it is for. */
  if (closed & standard_output_closed) {
    fputs("kolmdemo: standard output is closed; nothing could be shown\n", stderr);
    return 1;
  }

  /* A device by its path gets a port number before the library is first called: it may set
   * PEKOLM_PORT_DIR, which the library reads at each activation. */
  choice.device = device;
  choice.port = port;
  result = choose_port_numbers(&choice, 1, problem, sizeof problem);
  if (result == port_numbers_bad) {
    fprintf(stderr, "kolmdemo: %s\nTry 'kolmdemo --help'.\n", problem);
    return 2;
  }
  if (result != port_numbers_chosen) {
    fprintf(stderr, "kolmdemo: %s\n", problem);
    return 1;
  }
  port = choice.port;
  signal(SIGINT, on_end_signal);
  signal(SIGTERM, on_end_signal);

  printf("library version 0x%X\n", KolmdllVersion());
  result = KolmactivateExtended(port, baud, 4096, 0);
  remove_port_folder(); /* the port is open, or will not be: the links have done their part */
  if (result != 0) {
    report_open_failure(port, device);
    return 1;
  }
  KolmreadSerialNo(port, serial);
  if (device != NULL) {
    printf("%s (port %d): ", device, port);
  } else {
    printf("port %d: ", port);
  }
  printf("mode %d, firmware %d, serial number %s, transmission mode %d\n", KolmgetMode(port), KolmfirmwareVersion(port),
         serial, KolmgetTXmode(port));

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
