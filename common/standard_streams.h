/* The standard descriptors a program relies on, made safe to rely on.
 *
 * A program started with standard input, output or error closed would hand the free number to the next
 * file it opens: the library's port would then receive what was meant for the terminal, and the console
 * would wait on its own pipe as if it were the keyboard. */
#ifndef PEKOLM_COMMON_STANDARD_STREAMS_H
#define PEKOLM_COMMON_STANDARD_STREAMS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Bits of closed_standard_streams(): which of the three was closed when the program started. */
enum { standard_input_closed = 1, standard_output_closed = 2, standard_error_closed = 4 };

/* Opens the null device on each of descriptors 0, 1 and 2 that is closed, so that nothing else can take
 * their numbers; returns which of them were closed (the bits above), for a program that must refuse to run
 * without its output. Call it first in main(). On Windows the library's ports are not descriptors, and
 * the three are left as they are (0). */
int reopen_closed_standard_streams(void);

#ifdef __cplusplus
}
#endif

#endif
