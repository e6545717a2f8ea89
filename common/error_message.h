/* The words the programs print for an error code of the library, the same in each of them.
 *
 * The library's own codes read as pekolm.h's text and the code in hex; a system code reads as the system's
 * tools show it, by name, number and text, so that it can be looked up under either. */
#ifndef PEKOLM_COMMON_ERROR_MESSAGE_H
#define PEKOLM_COMMON_ERROR_MESSAGE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The system's name of one of its error codes: "ENOENT" for an errno value, "ERROR_FILE_NOT_FOUND" for a
 * GetLastError value on Windows; NULL for one that ports and files do not meet. */
const char* system_error_name(unsigned long code);

/* Writes into text (size bytes, always terminated) what a code KolmgetLastError returned means:
 *   "no answer to a query within 6000 ms (0x30000058)"
 *   "EBUSY (16, Device or resource busy)"
 *   "writing a command to the port failed (0x20000005): EIO (5, Input/output error)"
 * Safe to call from several threads at once. Returns text. */
char* describe_error_code(int code, char* text, size_t size);

/* Room for any of them. */
enum { error_message_size = 256 };

#ifdef __cplusplus
}
#endif

#endif
