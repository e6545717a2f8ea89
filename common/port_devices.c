/* See port_devices.h. mkdtemp, setenv and lstat are POSIX 2008. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* NOLINT(bugprone-reserved-identifier): the feature test macro */
#endif

#include "port_devices.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pekolm.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

/* The library's own default, set by the same build option. */
#ifndef PEKOLM_DEFAULT_PORT_DIR
#define PEKOLM_DEFAULT_PORT_DIR "/dev/pekolm"
#endif

enum { lowest_port = 1, highest_port = 255 };

/* The value of a word of digits alone (at most four, enough for any port and more); -1 for anything else. */
static int plain_number(const char* text) {
  int value = 0;
  size_t i;
  for (i = 0; text[i] != '\0'; ++i) {
    if (text[i] < '0' || text[i] > '9' || i >= 4) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return i == 0 ? -1 : value;
}

/* "port 3", or the device as it was given. */
static void name_choice(const struct port_choice* choice, char* text, size_t size) {
  if (choice->device == NULL) {
    snprintf(text, size, "port %d", choice->port);
  } else {
    snprintf(text, size, "%s", choice->device);
  }
}

static int same_device_message(const struct port_choice* first, const struct port_choice* second, char* error,
                               size_t size) {
  char one[port_device_size], other[port_device_size];
  name_choice(first, one, sizeof one);
  name_choice(second, other, sizeof other);
  if (strcmp(one, other) == 0) {
    snprintf(error, size, "%s given twice", one);
  } else {
    snprintf(error, size, "%s and %s are the same device", one, other);
  }
  return port_numbers_bad;
}

#ifdef _WIN32

/* n of COM<n> or \\.\COM<n> in any case, 1..255; 0 for a word that starts so but is no port; -1 for another. */
static int com_number(const char* text) {
  if (strncmp(text, "\\\\.\\", 4) == 0) text += 4;
  if (_strnicmp(text, "COM", 3) != 0) return -1;
  {
    const int n = plain_number(text + 3);
    return n >= lowest_port && n <= highest_port && text[3] != '0' ? n : 0;
  }
}

int names_a_device(const char* text) {
  if (text == NULL || text[0] == '\0' || plain_number(text) >= 0) return 0;
  return strchr(text, '/') != NULL || strchr(text, '\\') != NULL || com_number(text) >= 0;
}

int choose_port_numbers(struct port_choice* choices, size_t count, char* error, size_t size) {
  size_t i, j;
  for (i = 0; i < count; ++i) {
    if (choices[i].device == NULL) continue;
    choices[i].port = com_number(choices[i].device);
    if (choices[i].port <= 0) {
      snprintf(error, size, "%s is not a COM port (COM<n> or \\\\.\\COM<n>, n 1..255)", choices[i].device);
      return port_numbers_bad;
    }
  }
  for (i = 0; i < count; ++i) {
    for (j = i + 1; j < count; ++j) {
      if (choices[i].port == choices[j].port) return same_device_message(&choices[i], &choices[j], error, size);
    }
  }
  return port_numbers_chosen;
}

void remove_port_folder(void) {}

char* port_device(int port, char* device, size_t size) {
  if (size == 0) return device;
  device[0] = '\0';
  if (port >= lowest_port && port <= highest_port) snprintf(device, size, "\\\\.\\COM%d", port);
  return device;
}

int port_device_missing_or_silent(int code) {
  const unsigned long value = (unsigned long)(unsigned)code;
  return value == ERROR_FILE_NOT_FOUND || value == ERROR_PATH_NOT_FOUND || value == PEKOLM_E_ANSWER_TIMEOUT;
}

char* port_numbers_line(int port, char* text, size_t size) {
  (void)port;
  snprintf(text, size, "port numbers: N is \\\\.\\COMN; see kolmscan");
  return text;
}

#else

/* Free numbers for the devices, from the top down, so that the low numbers people type stay theirs. */
static int number_the_devices(struct port_choice* choices, size_t count, char* error, size_t size) {
  char taken[highest_port + 1] = {0};
  int next = highest_port;
  size_t i;
  for (i = 0; i < count; ++i) {
    if (choices[i].device == NULL && choices[i].port >= lowest_port && choices[i].port <= highest_port) {
      taken[choices[i].port] = 1;
    }
  }
  for (i = 0; i < count; ++i) {
    if (choices[i].device == NULL) continue;
    while (next >= lowest_port && taken[next]) --next;
    if (next < lowest_port) {
      snprintf(error, size, "no port number is left for %s", choices[i].device);
      return port_numbers_bad;
    }
    choices[i].port = next--;
  }
  return port_numbers_chosen;
}

/* What choose_port_numbers() decided, for the messages after it. */
static char* chosen_devices[highest_port + 1];
static int rule_fixed;          /* it ran: the rule below is the one the numbers followed */
static char* original_port_dir; /* PEKOLM_PORT_DIR as it was, made absolute; NULL when it was not set */
static char folder[PATH_MAX];   /* the folder of links, once made */
static char* link_paths[highest_port + 1];
static volatile sig_atomic_t folder_made;

int names_a_device(const char* text) { return text != NULL && plain_number(text) < 0 && strchr(text, '/') != NULL; }

static const char* port_dir_now(void) {
  const char* dir = getenv("PEKOLM_PORT_DIR"); /* NOLINT(concurrency-mt-unsafe): read before any thread */
  return dir != NULL && dir[0] != '\0' ? dir : NULL;
}

/* As the library does it: the variable's folder, else the default folder's link where one is (even a link
 * left dangling), else the n-th serial port. */
static void device_by_rule(int port, const char* port_dir, char* device, size_t size) {
  struct stat link;
  if (port_dir != NULL) {
    snprintf(device, size, "%s/com%d", port_dir, port);
    return;
  }
  snprintf(device, size, "%s/com%d", PEKOLM_DEFAULT_PORT_DIR, port);
  if (lstat(device, &link) != 0) snprintf(device, size, "/dev/ttyS%d", port - 1);
}

/* A link's target is taken relative to the link's folder, not to the directory the user typed it in. */
static int make_absolute(const char* path, char* absolute, size_t size) {
  size_t length;
  if (path[0] == '/') {
    if (strlen(path) >= size) return ENAMETOOLONG;
    strcpy(absolute, path);
    return 0;
  }
  if (getcwd(absolute, size) == NULL) return errno == ERANGE ? ENAMETOOLONG : errno;
  length = strlen(absolute);
  if (length + 1 + strlen(path) >= size) return ENAMETOOLONG;
  if (length > 1) absolute[length++] = '/';
  strcpy(absolute + length, path);
  return 0;
}

/* The system's words for an errno value, by strerror_r as everywhere in the programs (strerror shares one
 * buffer between threads). */
static const char* words_for(int code, char* text, size_t size) {
  if (strerror_r(code, text, size) != 0) snprintf(text, size, "error %d", code);
  return text;
}

static char* copy_of(const char* text) {
  char* copy = malloc(strlen(text) + 1);
  if (copy != NULL) strcpy(copy, text);
  return copy;
}

/* One device reached under two names (a link and its tty, a by-id name) is still one device. */
static int same_device(const char* one, const char* other) {
  struct stat a, b;
  if (strcmp(one, other) == 0) return 1;
  if (stat(one, &a) != 0 || stat(other, &b) != 0) return 0;
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

static void forget_devices(char** devices, size_t count) {
  size_t i;
  for (i = 0; i < count; ++i) free(devices[i]);
  free((void*)devices);
}

/* The device of every choice: a path made absolute, a number what the rule led it to. */
static int find_devices(const struct port_choice* choices, size_t count, const char* port_dir, char** devices,
                        char* error, size_t size) {
  char device[port_device_size], words[128];
  size_t i;
  for (i = 0; i < count; ++i) {
    const struct port_choice* choice = &choices[i];
    if (choice->device == NULL) {
      device_by_rule(choice->port, port_dir, device, sizeof device);
    } else {
      const int problem = make_absolute(choice->device, device, PATH_MAX);
      if (problem == ENAMETOOLONG) {
        snprintf(error, size, "device path too long: %s", choice->device);
        return port_numbers_bad;
      }
      if (problem != 0) {
        snprintf(error, size, "cannot tell where %s is: %s", choice->device, words_for(problem, words, sizeof words));
        return port_numbers_failed;
      }
    }
    devices[i] = copy_of(device);
    if (devices[i] == NULL) {
      snprintf(error, size, "out of memory");
      return port_numbers_failed;
    }
  }
  return port_numbers_chosen;
}

static int check_paths(const struct port_choice* choices, size_t count, int* any, char* error, size_t size) {
  size_t i;
  const char* c;
  *any = 0;
  for (i = 0; i < count; ++i) {
    if (choices[i].device == NULL) continue;
    *any = 1;
    if (choices[i].device[0] == '\0') {
      snprintf(error, size, "empty device path");
      return port_numbers_bad;
    }
    /* It goes into one line of a message and of a file's header. */
    for (c = choices[i].device; *c != '\0'; ++c) {
      if ((unsigned char)*c < 0x20 || *c == 0x7F) {
        snprintf(error, size, "a device path with a control character");
        return port_numbers_bad;
      }
    }
  }
  return port_numbers_chosen;
}

static int make_folder(const struct port_choice* choices, size_t count, char** devices, char* error, size_t size) {
  static int removal_registered;
  const char* tmp = getenv("TMPDIR"); /* NOLINT(concurrency-mt-unsafe): before any thread */
  char pattern[PATH_MAX];
  char relative[PATH_MAX];
  char words[128];
  size_t i;
  snprintf(relative, sizeof relative, "%s/pekolm-ports.XXXXXX", tmp != NULL && tmp[0] != '\0' ? tmp : "/tmp");
  int problem = make_absolute(relative, pattern, sizeof pattern);
  if (problem == 0 && mkdtemp(pattern) == NULL) problem = errno;
  if (problem != 0) {
    snprintf(error, size, "cannot make a folder for the device links (%s): %s", relative,
             words_for(problem, words, sizeof words));
    return port_numbers_failed;
  }
  strcpy(folder, pattern);
  folder_made = 1;
  if (!removal_registered) removal_registered = atexit(remove_port_folder) == 0;
  for (i = 0; i < count; ++i) {
    const int port = choices[i].port;
    char link[PATH_MAX + 16];
    if (port < lowest_port || port > highest_port) continue; /* the library refuses it on its own */
    snprintf(link, sizeof link, "%s/com%d", folder, port);
    link_paths[port] = copy_of(link);
    if (link_paths[port] == NULL || symlink(devices[i], link) != 0) {
      snprintf(error, size, "cannot link %s to %s: %s", link, devices[i],
               link_paths[port] == NULL ? "out of memory" : words_for(errno, words, sizeof words));
      remove_port_folder();
      return port_numbers_failed;
    }
  }
  if (setenv("PEKOLM_PORT_DIR", folder, 1) != 0) { /* NOLINT(concurrency-mt-unsafe): before any thread */
    snprintf(error, size, "cannot set PEKOLM_PORT_DIR: %s", words_for(errno, words, sizeof words));
    remove_port_folder();
    return port_numbers_failed;
  }
  return port_numbers_chosen;
}

int choose_port_numbers(struct port_choice* choices, size_t count, char* error, size_t size) {
  char absolute_dir[PATH_MAX];
  const char* port_dir;
  char** devices;
  int any_device, result;
  size_t i, j;

  result = check_paths(choices, count, &any_device, error, size);
  if (result != port_numbers_chosen) return result;
  result = number_the_devices(choices, count, error, size);
  if (result != port_numbers_chosen) return result;
  /* Once a folder of ours is in PEKOLM_PORT_DIR, the rule the user knows is the one before it. */
  port_dir = folder_made ? original_port_dir : port_dir_now();
  if (port_dir != NULL && make_absolute(port_dir, absolute_dir, sizeof absolute_dir) == 0) port_dir = absolute_dir;

  devices = (char**)calloc(count + 1, sizeof *devices);
  if (devices == NULL) {
    snprintf(error, size, "out of memory");
    return port_numbers_failed;
  }
  result = find_devices(choices, count, port_dir, devices, error, size);
  for (i = 0; i < count && result == port_numbers_chosen; ++i) {
    for (j = i + 1; j < count && result == port_numbers_chosen; ++j) {
      if (same_device(devices[i], devices[j])) result = same_device_message(&choices[i], &choices[j], error, size);
    }
  }
  if (result == port_numbers_chosen) {
    char* dir_copy = port_dir != NULL ? copy_of(port_dir) : NULL;
    if (port_dir != NULL && dir_copy == NULL) {
      snprintf(error, size, "out of memory");
      result = port_numbers_failed;
    } else {
      free(original_port_dir);
      original_port_dir = dir_copy;
    }
  }
  if (result == port_numbers_chosen && any_device) {
    remove_port_folder(); /* of an earlier call */
    for (i = 0; i <= highest_port; ++i) {
      free(link_paths[i]);
      link_paths[i] = NULL;
    }
    result = make_folder(choices, count, devices, error, size);
  }
  if (result != port_numbers_chosen) {
    forget_devices(devices, count);
    return result;
  }
  rule_fixed = 1;
  for (i = 0; i < count; ++i) {
    const int port = choices[i].port;
    if (port < lowest_port || port > highest_port) continue;
    free(chosen_devices[port]);
    chosen_devices[port] = devices[i];
    devices[i] = NULL;
  }
  forget_devices(devices, count);
  return port_numbers_chosen;
}

void remove_port_folder(void) {
  int port;
  if (!folder_made) return;
  /* unlink and rmdir only: a signal handler may be the caller. */
  for (port = lowest_port; port <= highest_port; ++port) {
    if (link_paths[port] != NULL) unlink(link_paths[port]);
  }
  rmdir(folder);
  folder_made = 0;
}

char* port_device(int port, char* device, size_t size) {
  if (size == 0) return device;
  device[0] = '\0';
  if (port < lowest_port || port > highest_port) return device;
  if (chosen_devices[port] != NULL) {
    snprintf(device, size, "%s", chosen_devices[port]);
  } else {
    device_by_rule(port, port_dir_now(), device, size);
  }
  return device;
}

int port_device_missing_or_silent(int code) {
  /* A /dev/ttyS<k> without a serial port behind it opens with EIO or ENXIO. */
  return code == ENOENT || code == ENXIO || code == ENODEV || code == EIO || (unsigned)code == PEKOLM_E_ANSWER_TIMEOUT;
}

char* port_numbers_line(int port, char* text, size_t size) {
  const char* dir = rule_fixed ? original_port_dir : port_dir_now();
  char device[port_device_size], link[port_device_size];
  if (dir != NULL) {
    snprintf(text, size, "port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is %s; see kolmscan", dir);
    return text;
  }
  port_device(port, device, sizeof device);
  snprintf(link, sizeof link, "%s/com%d", PEKOLM_DEFAULT_PORT_DIR, port);
  if (strcmp(device, link) == 0) {
    snprintf(text, size,
             "port numbers: PEKOLM_PORT_DIR is not set, so N is %s/comN where that link exists (as for %d), else "
             "/dev/ttyS(N-1); see kolmscan",
             PEKOLM_DEFAULT_PORT_DIR, port);
  } else {
    snprintf(text, size,
             "port numbers: PEKOLM_PORT_DIR is not set, so N is %s/comN where that link exists, else "
             "/dev/ttyS(N-1) (as for %d); see kolmscan",
             PEKOLM_DEFAULT_PORT_DIR, port);
  }
  return text;
}

#endif
