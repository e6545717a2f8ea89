/* Many ports held open, for comparing the Windows build under wine with the Linux one: activates the
 * ports given, starts or stops their transmission, takes their values every 20 ms (as kolmrec does) for
 * the time given and prints what came and the CPU this process spent meanwhile. The same source builds
 * for both, so that the two differ only in the library's platform layer.
 *
 *   port_load SECONDS on|off [PORT...]
 *
 * Prints "measuring" once the ports are active (the caller starts its own clocks then), and at the end
 *   ports N samples S per_port_hz R read_errors E cpu_s C wall_s W
 * Exit status 1 when a port cannot be activated. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pekolm.h"

#ifdef _WIN32
#include <windows.h>

static double cpu_seconds(void) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
  ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
  return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

static double wall_seconds(void) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

static void pause_20ms(void) { Sleep(20); }
#else
#include <sys/resource.h>
#include <time.h>

static double cpu_seconds(void) {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

static double wall_seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void pause_20ms(void) {
  struct timespec pause = {0, 20000000};
  nanosleep(&pause, NULL);
}
#endif

enum { max_ports = 255, ring_size = 20000, take_max = 4 * 4096 };

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: port_load SECONDS on|off [PORT...]\n");
    return 2;
  }
  const double seconds = atof(argv[1]);
  const int transmit = strcmp(argv[2], "on") == 0;
  int ports[max_ports];
  int count = 0;
  for (int i = 3; i < argc && count < max_ports; ++i) ports[count++] = atoi(argv[i]);

  for (int i = 0; i < count; ++i) {
    if (KolmactExt(ports[i], 230400, ring_size) != 0) {
      fprintf(stderr, "port_load: port %d could not be activated: 0x%X\n", ports[i], KolmgetLastError(ports[i]));
      return 1;
    }
    if (transmit ? KolmstartTX(ports[i]) : KolmstopTX(ports[i])) {
      fprintf(stderr, "port_load: port %d: transmission could not be switched: 0x%X\n", ports[i],
              KolmgetLastError(ports[i]));
      return 1;
    }
  }
  /* What came before the start is not measured. */
  for (int i = 0; i < count; ++i) KolmclearDLLbuffer(ports[i]);
  printf("measuring\n");
  fflush(stdout);

  static double values[take_max];
  unsigned long long samples = 0, read_errors = 0;
  const double cpu_start = cpu_seconds(), wall_start = wall_seconds();
  while (wall_seconds() - wall_start < seconds) {
    pause_20ms();
    for (int i = 0; i < count; ++i) {
      int taken = 0;
      do {
        const int result = KolmreadMultiple(ports[i], 0, values, take_max, &taken);
        if (result < 0) {
          ++read_errors;
          KolmgetLastError(ports[i]);
        }
        samples += (unsigned long long)taken / 4;
      } while (taken == take_max);
    }
  }
  const double cpu = cpu_seconds() - cpu_start, wall = wall_seconds() - wall_start;
  for (int i = 0; i < count; ++i) Kolmrelease(ports[i]);
  printf("ports %d samples %llu per_port_hz %.1f read_errors %llu cpu_s %.3f wall_s %.3f\n", count, samples,
         count > 0 ? (double)samples / count / wall : 0.0, read_errors, cpu, wall);
  return 0;
}
