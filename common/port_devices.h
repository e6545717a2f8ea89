/* Port numbers and the devices behind them, for the programs that let their users name a device where the
 * library takes a port number 1..255.
 *
 * On Linux port n is $PEKOLM_PORT_DIR/com<n> when that variable is set, else the link com<n> of the
 * library's default folder where it exists, else /dev/ttyS<n-1>; on Windows it is \\.\COM<n>. A device
 * given by its path is reached through that same rule: it is linked as com<n> under a free number in a
 * folder of the program's own, and PEKOLM_PORT_DIR is pointed at the folder. The variable then decides for
 * every port of the process, so the numbered ports are linked there too, each to what its number led to
 * before. On Windows only the COM ports have a number: COM5 and \\.\COM5 are port 5. */
#ifndef PEKOLM_COMMON_PORT_DEVICES_H
#define PEKOLM_COMMON_PORT_DEVICES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Room for a device's name or the line about port numbers. */
enum { port_device_size = 4200 };

/* Whether a word of a command line names a device rather than a port number: it is not a plain number and
 * holds a '/' (on Windows also a '\', or it reads COM<n>). */
int names_a_device(const char* text);

/* One port a program was asked for: by its number (device NULL), or by the device's path, which
 * choose_port_numbers() gives a number. */
struct port_choice {
  const char* device;
  int port;
};

/* Results of choose_port_numbers(). */
enum { port_numbers_chosen = 0, port_numbers_bad = -1, port_numbers_failed = -2 };

/* Gives every choice given by its device a port number the library opens it under: free numbers counting
 * down from 255. On Linux, where any device is given, makes the folder (mkdtemp under $TMPDIR, else /tmp),
 * links every choice there as com<n> (a path made absolute, a number to what it led to) and sets
 * PEKOLM_PORT_DIR to the folder.
 *
 * Call it once, first, before the program starts a thread and before its first call into the library:
 * the environment is not to be changed beside threads that may read it, and the library reads
 * PEKOLM_PORT_DIR at each activation. The folder is removed at exit, or earlier by remove_port_folder().
 *
 * Returns port_numbers_chosen; port_numbers_bad for what the user gave (an empty path, one with a control
 * character, the same device twice, no number left; on Windows anything but a COM port); port_numbers_failed
 * when the folder or a link could not be made. Either failure leaves a one-line message in error. */
int choose_port_numbers(struct port_choice* choices, size_t count, char* error, size_t size);

/* Removes the folder of links choose_port_numbers() made, if it made one. Once every port is activated the
 * links are no longer needed. Async-signal-safe, for a handler that ends the program on a signal. */
void remove_port_folder(void);

/* Writes into device (size bytes, always terminated) the device the library opens as `port`: the one
 * choose_port_numbers() linked for it, else what the rule above gives now. Returns device. */
char* port_device(int port, char* device, size_t size);

/* Whether a failed activation's code says the device was not there or did not answer, after which the
 * line of port_numbers_line() helps the user who meant another device. */
int port_device_missing_or_silent(int code);

/* One line that tells how port numbers map and which rule applied to `port` (as it was before
 * choose_port_numbers() linked the ports), pointing to kolmscan:
 *   "port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is /tmp/ports; see kolmscan"
 * Returns text. */
char* port_numbers_line(int port, char* text, size_t size);

#ifdef __cplusplus
}
#endif

#endif
