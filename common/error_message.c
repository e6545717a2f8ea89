/* strerror_r in its POSIX form (an int result), also where the C library has a form of its own. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200112L
#endif

#include "error_message.h"

#include <stdio.h>
#include <string.h>

#include "pekolm.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#endif

struct named_code {
  unsigned long code;
  const char* name;
};

#define NAMED(code) \
  { code, #code }

/* What opening a serial port, reading and writing it and creating a file can meet; the rest is shown by
 * number and text alone. */
static const struct named_code system_names[] = {
#ifdef _WIN32
    NAMED(ERROR_FILE_NOT_FOUND),    NAMED(ERROR_PATH_NOT_FOUND),
    NAMED(ERROR_ACCESS_DENIED),     NAMED(ERROR_INVALID_HANDLE),
    NAMED(ERROR_NOT_ENOUGH_MEMORY), NAMED(ERROR_BAD_COMMAND),
    NAMED(ERROR_GEN_FAILURE),       NAMED(ERROR_SHARING_VIOLATION),
    NAMED(ERROR_INVALID_PARAMETER), NAMED(ERROR_SEM_TIMEOUT),
    NAMED(ERROR_OPERATION_ABORTED), NAMED(ERROR_DEVICE_NOT_CONNECTED),
    NAMED(ERROR_NOT_READY),         NAMED(ERROR_CRC),
    NAMED(ERROR_DEV_NOT_EXIST),     NAMED(ERROR_IO_DEVICE),
    NAMED(ERROR_DEVICE_REMOVED),    {433, "ERROR_NO_SUCH_DEVICE"},
#else
    NAMED(EPERM),   NAMED(ENOENT), NAMED(EINTR),  NAMED(EIO),          NAMED(ENXIO),  NAMED(EBADF),
    NAMED(EAGAIN),  NAMED(ENOMEM), NAMED(EACCES), NAMED(EBUSY),        NAMED(EEXIST), NAMED(ENODEV),
    NAMED(ENOTDIR), NAMED(EISDIR), NAMED(EINVAL), NAMED(ENFILE),       NAMED(EMFILE), NAMED(ENOTTY),
    NAMED(ENOSPC),  NAMED(EROFS),  NAMED(EPIPE),  NAMED(ENAMETOOLONG), NAMED(ELOOP),  NAMED(ETIMEDOUT),
#endif
};

const char* system_error_name(unsigned long code) {
  size_t i;
  for (i = 0; i < sizeof system_names / sizeof system_names[0]; ++i) {
    if (system_names[i].code == code) return system_names[i].name;
  }
  return NULL;
}

/* The system's own text for its code, in words; never empty. */
static void system_text(unsigned long code, char* text, size_t size) {
#ifdef _WIN32
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)code, 0, text,
                                (DWORD)size, NULL);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
    text[--length] = '\0';
  }
  if (length == 0) snprintf(text, size, "unknown error");
#else
  /* Unlike strerror, it may be asked from the threads that open ports side by side. */
  if (code > (unsigned long)0x7FFFFFFF || strerror_r((int)code, text, size) != 0 || text[0] == '\0') {
    snprintf(text, size, "unknown error");
  }
#endif
}

static void describe_system_code(unsigned long code, char* text, size_t size) {
  char words[160];
  const char* name = system_error_name(code);
  system_text(code, words, sizeof words);
  if (name != NULL) {
    snprintf(text, size, "%s (%lu, %s)", name, code, words);
  } else {
    snprintf(text, size, "system error %lu (%s)", code, words);
  }
}

char* describe_error_code(int code, char* text, size_t size) {
  const unsigned long value = (unsigned long)(unsigned)code;
  const char* library_text = pekolm_error_text(code);
  if (size == 0) return text;
  if (library_text != NULL) {
    snprintf(text, size, "%s (0x%08lX)", library_text, value);
  } else if (value == 0) {
    snprintf(text, size, "the call failed without leaving an error code");
  } else if ((value & 0xF0000000UL) == PEKOLM_E_WRITE_FAILED) {
    const int prefix = snprintf(text, size, "writing a command to the port failed (0x%08lX): ", value);
    if (prefix > 0 && (size_t)prefix < size) {
      describe_system_code(value & ~(unsigned long)PEKOLM_E_WRITE_FAILED, text + prefix, size - (size_t)prefix);
    }
  } else if ((value & 0xF0000000UL) == 0x30000000UL) {
    snprintf(text, size, "an error code this version does not know (0x%08lX)", value);
  } else {
    describe_system_code(value, text, size);
  }
  return text;
}
