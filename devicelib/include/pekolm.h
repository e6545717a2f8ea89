/*
 * pekolm: connects a program to four-channel measuring amplifiers (strain-gauge bridge, voltage and
 * temperature inputs) on serial ports.
 *
 * One amplifier per serial port, up to 255 ports at once. KolmactivateExtended opens a port and starts a
 * receive thread for it that decodes the amplifier's stream of measured values into four ring buffers, one
 * per channel; the read functions hand the values out as normalised doubles,
 *     (raw - 32768) * 1.05 / 32767.5      (about -1.05 .. +1.05 of full scale).
 * Every other function reads or writes one setting of the amplifier.
 *
 * Ports. The first argument of every function (but KolmdllVersion) is the port number 1..255. On Linux,
 * port n is the device $PEKOLM_PORT_DIR/com<n> when that environment variable is set, else the link
 * /dev/pekolm/com<n> where it exists (as udev rules make them for USB adapters), else /dev/ttyS<n-1>.
 * On Windows port n is COM<n>, opened for overlapped I/O, so that a silent port costs no wake-up. A driver
 * that refuses overlapped handles (CreateFile fails with ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED or
 * ERROR_INVALID_FUNCTION) gets a port that looks for input every millisecond instead, with the system's
 * timer period at 1 ms while such a port is open.
 * A port is opened exclusively: a second open of the same device, by this or another process, fails.
 *
 * Results. Functions that only act return 0 on success; functions that report a value return it; the read
 * functions return 1 for values delivered and 0 for nothing there. Failure is -1 (-1.0 for the two
 * functions returning double) and leaves an error code that KolmgetLastError(port) returns once and clears.
 * Some values a device can report (a CAN identifier of 0xFFFFFFFF, a state byte of 0xFF, ...) are -1 too;
 * callers who must tell them apart read KolmgetLastError.
 *
 * Error codes:
 *   0x3000001F  handshake requested (flag 0x4) but CTS did not come on within 3000 ms
 *   0x30000058  no answer to a query within 6000 ms
 *   0x30000059  the answer arrived with another length than expected
 *   0x30000060  the answer does not fit the request (wrong echo, a value the library does not know)
 *   0x30000061  a measured-value frame did not end in CR LF (reported by the receive thread)
 *   0x30000062  the operation needs a newer firmware version than the amplifier reported
 *   0x300000F0  a lock could not be taken in time
 *   0x300000F1  an event could not be created
 *   0x300000F3  out of memory
 *   0x300000F5  fewer bytes were written to the port than the command holds (a write blocked too long)
 *   0x300000F6  the port is already open in this library
 *   0x30000100  an argument is out of range, or a pointer argument is NULL
 *   0x30000101  the port number is outside 1..255 or the port is not open
 *   0x20000000 | errno   writing a command to the port failed
 *   plain errno          opening or configuring the port failed (ENOENT = 2 for a missing device, EBUSY = 16
 *                        when another program has it open), or the receive thread's read failed (EIO = 5
 *                        when the device went away)
 * On Windows the system's codes are GetLastError codes: ERROR_FILE_NOT_FOUND (2) for a missing port,
 * ERROR_ACCESS_DENIED (5) when another program has it open; a device that went away gives one of 2, 5, 6,
 * 21, 22, 31, 55, 433, 1167 or 1617. Line errors are receive-thread errors too: ERROR_IO_DEVICE (1117) for
 * bytes lost in an overrun, ERROR_CRC (23) for framing and parity errors and breaks; reads that the driver
 * aborts three times in a row give ERROR_OPERATION_ABORTED (995).
 *
 * Every function can leave 0x30000101. The comments below name the other codes each can leave, using:
 *   "send"   the function writes commands: 0x20000000 | errno, 0x300000F5.
 *   "query"  the function asks and waits for an answer: the send codes, 0x30000058, 0x30000059, and the
 *            errno of a device that has gone away.
 *
 * Blocking. A setting function returns as soon as its command is written; the amplifier confirms nothing.
 * Writing one command takes at most 100 ms + 2 ms per byte (then 0x300000F5), plus the time another
 * thread's command on the same port holds the line. A query waits up to 6 s for its answer, and before
 * that for the queries other threads started first on the same port (up to 6 s each). Functions that send
 * one command per channel, line or register pause a fixed time after each, as stated with them. A release
 * of the port by another thread ends every wait and pause at once (the call then fails with 0x30000101).
 *
 * A device that goes away (unplugged, hung up) stays gone until Kolmrelease: every read of values fails
 * with -1 and KolmgetLastError reports the system's code again after each, a clear does not hide it, and a
 * query waiting for its answer fails at once. Release it and activate it again once it is back.
 *
 * Threads. Any thread may call any function. Reads of measured values may run at the same time as commands
 * on the same port. Query commands on one port are served one after the other, each with its own answer.
 * Activation of a port must not overlap other calls on that same port. Kolmrelease may: it cuts short
 * what other threads wait for on that port (they return -1 with 0x30000101), waits until their calls have
 * left it, and only then closes it; once it returns no byte reaches the port, and the port can be opened
 * again at once, by any user (but for the rare receive thread that Kolmrelease cannot wake).
 *
 * Processes. Ports are not inherited: a port's descriptors are closed on exec, and a child of fork() finds
 * every port of its parent closed (0x30000101) and leaves them to the parent, untouched; it may open ports
 * of its own. On Linux a port never takes descriptor 0, 1 or 2.
 *
 * Pointer arguments must not be NULL; a NULL pointer is refused with 0x30000100.
 */
#ifndef PEKOLM_H
#define PEKOLM_H

/* PEKOLM_BUILDING is defined only while the library itself is compiled. */
#if defined(_WIN32)
#if defined(PEKOLM_BUILDING)
#define PEKOLM_API __declspec(dllexport)
/* The two C++ functions are exported by pekolm.def under their Windows C++ names only. */
#define PEKOLM_CXX_API
#else
#define PEKOLM_API __declspec(dllimport)
#define PEKOLM_CXX_API __declspec(dllimport) /* MSVC; mingw binds them otherwise, see below */
#endif
#elif defined(__GNUC__)
#define PEKOLM_API __attribute__((visibility("default")))
#define PEKOLM_CXX_API PEKOLM_API
#else
#define PEKOLM_API
#define PEKOLM_CXX_API
#endif

/* Every export uses the C calling convention, named in each declaration so that a caller compiled with
 * another default (MSVC's /Gz or /Gr, gcc's -mrtd on 32-bit Windows) still calls the DLL as it was built.
 * It stands between the return type and the name, where both MSVC and gcc take it. */
#if defined(_WIN32)
#define PEKOLM_CALL __cdecl
#else
#define PEKOLM_CALL
#endif

/* No function lets an exception out; C++ callers may rely on it. */
#ifdef __cplusplus
#define PEKOLM_NOEXCEPT noexcept
#else
#define PEKOLM_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library and errors ---- */

/* Library version, major << 16 | minor: 0x10009 (1.9). Needs no port; never fails. */
PEKOLM_API int PEKOLM_CALL KolmdllVersion(void) PEKOLM_NOEXCEPT;
/* The pending error code for the port, cleared by the call; 0 when nothing is pending. One call reports one
 * code: a failed activation of this port first, then an error of its receive thread, then the last failed
 * operation on it. For a port that is not open it reports the library-wide code: that of the last failed
 * activation or of the last call that found no open port (0x30000101), whichever port that was. Never
 * fails; clearing a receive-thread error may wait up to 20 s for the value buffers (the code then stays
 * pending). */
PEKOLM_API int PEKOLM_CALL KolmgetLastError(int port) PEKOLM_NOEXCEPT;

/* The library's own error codes, by name, and what each means. Any other code comes from the system:
 * plain, or with PEKOLM_E_WRITE_FAILED or'ed in when writing a command failed (the rest is then the system's
 * code). The table lives here only: the manual, the tools and the Python package follow it. */
#define PEKOLM_E_CTS_TIMEOUT 0x3000001F
#define PEKOLM_E_ANSWER_TIMEOUT 0x30000058
#define PEKOLM_E_ANSWER_LENGTH 0x30000059
#define PEKOLM_E_ANSWER_CONTENT 0x30000060
#define PEKOLM_E_FRAME_TERMINATOR 0x30000061
#define PEKOLM_E_FIRMWARE_TOO_OLD 0x30000062
#define PEKOLM_E_LOCK_FAILED 0x300000F0
#define PEKOLM_E_EVENT_FAILED 0x300000F1
#define PEKOLM_E_OUT_OF_MEMORY 0x300000F3
#define PEKOLM_E_SHORT_WRITE 0x300000F5
#define PEKOLM_E_ALREADY_OPEN 0x300000F6
#define PEKOLM_E_BAD_ARGUMENT 0x30000100
#define PEKOLM_E_BAD_PORT 0x30000101
#define PEKOLM_E_WRITE_FAILED 0x20000000

/* Header-only, so that it adds no export: C99 and C++ inline, GCC's own spelling in C89. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define PEKOLM_INLINE inline
#elif defined(__GNUC__)
#define PEKOLM_INLINE __inline__
#else
#define PEKOLM_INLINE
#endif
#ifdef __cplusplus
#define PEKOLM_NO_TEXT nullptr
#else
#define PEKOLM_NO_TEXT ((const char*)0)
#endif

/* What one of the library's own codes means, in English; NULL for 0, a system code, a failed write
 * (PEKOLM_E_WRITE_FAILED | system code) and any code this version does not know. */
static PEKOLM_INLINE const char* pekolm_error_text(int code) {
  switch (code) {
    case PEKOLM_E_CTS_TIMEOUT:
      return "handshake requested (flag 0x4) but CTS did not come on within 3000 ms";
    case PEKOLM_E_ANSWER_TIMEOUT:
      return "no answer to a query within 6000 ms";
    case PEKOLM_E_ANSWER_LENGTH:
      return "the answer arrived with another length than expected";
    case PEKOLM_E_ANSWER_CONTENT:
      return "the answer does not fit the request (wrong echo, a value the library does not know)";
    case PEKOLM_E_FRAME_TERMINATOR:
      return "a measured-value frame did not end in CR LF";
    case PEKOLM_E_FIRMWARE_TOO_OLD:
      return "the operation needs a newer firmware version than the amplifier reported";
    case PEKOLM_E_LOCK_FAILED:
      return "a lock could not be taken in time";
    case PEKOLM_E_EVENT_FAILED:
      return "an event could not be created";
    case PEKOLM_E_OUT_OF_MEMORY:
      return "out of memory";
    case PEKOLM_E_SHORT_WRITE:
      return "fewer bytes were written to the port than the command holds";
    case PEKOLM_E_ALREADY_OPEN:
      return "the port is already open in this library";
    case PEKOLM_E_BAD_ARGUMENT:
      return "an argument is out of range, or a pointer argument is NULL";
    case PEKOLM_E_BAD_PORT:
      return "the port number is outside 1..255 or the port is not open";
    default:
      return PEKOLM_NO_TEXT;
  }
}

/* ---- ports ---- */

/* Opens the port, starts its receive thread and brings the amplifier into operating mode 1.
 *   baud:       9600, 19200, 38400, 57600, 115200 or 230400 (8N1); the amplifier must be set to it.
 *   bufferSize: values kept per channel; clamped to 1..390451572. When a buffer is full the newest values
 *               overwrite the oldest.
 *   flags:      0x4   hardware handshake (RTS/CTS); waits up to 3000 ms for CTS.
 *               0x100 slow start-up: settle 2000 ms instead of 500 ms, mode query tried up to 5 times,
 *                     200 ms pause after the stop of 0x200.
 *               0x200 stop the amplifier's transmission (0x23) before talking to it.
 *               Other bits are ignored.
 * Then it reads the operating mode (and sets mode 1 with access code "quiran" when it is 0, 100 ms pause),
 * the transmission mode and the firmware version, which later calls check (0 when it did not answer).
 * Returns 0, or -1 with the cause for KolmgetLastError(port):
 *   0x30000101 port outside 1..255; 0x30000100 baud not permitted; 0x300000F6 already open; 0x300000F3;
 *   plain errno (opening, configuring, thread start); 0x3000001F CTS; the code of a failed stop (0x200) or
 *   mode query; the code of a failed transmission-mode query other than 0x30000058.
 * A transmission-mode query without answer (0x30000058) or a failed firmware query does not fail the
 * activation; its code stays pending after the success (firmware version 0 then).
 * Blocks: 500 ms (2000 ms) settle, up to 3 s for CTS, then up to 6 s per query (mode up to 5 times with
 * 0x100, transmission mode, firmware version): 0.5 s at the least, about 22 s (48 s with 0x100) at the most.
 * A failed activation leaves the port closed. */
PEKOLM_API int PEKOLM_CALL KolmactivateExtended(int port, int baud, int bufferSize, int flags) PEKOLM_NOEXCEPT;
/* KolmactivateExtended with flags 0. */
PEKOLM_API int PEKOLM_CALL KolmactExt(int port, int baud, int bufferSize) PEKOLM_NOEXCEPT;
/* Stops the receive thread and closes the port. Cuts short the waits of other threads' calls on the port,
 * then blocks until those calls have left and the receive thread has ended (normally a few milliseconds; a
 * receive thread that cannot be woken is given 2 s, then left behind holding the device, which a later
 * activation then finds busy, and the library, which stays loaded). Fails with 0x30000101 when the port
 * is not open or another thread is already releasing it. */
PEKOLM_API int PEKOLM_CALL Kolmrelease(int port) PEKOLM_NOEXCEPT;

/* ---- measured values (channels 1..4) ----
 * These take the buffer lock, which waits up to 20 s (then 0x300000F0; normally it is free at once). */

/* Empties the four value buffers and drops a partial frame, the values the port holds unread and an awaited
 * answer: a query of another thread waiting meanwhile fails after its 6 s with 0x30000058. Clears a pending
 * receive-thread error (not that of a device gone away).
 * Blocks until the receive thread acknowledges (normally within milliseconds; no time limit but a release)
 * and while another thread's clear on the same port runs. Codes: 0x300000F0. */
PEKOLM_API int PEKOLM_CALL KolmclearDLLbuffer(int port) PEKOLM_NOEXCEPT;
/* Values waiting: channel 1..4 that channel's count; 0 the smallest count (complete sets of four);
 * 5 the largest. Another channel: -1 without an error code. Ignores a pending receive-thread error.
 * Codes: 0x300000F0. */
PEKOLM_API int PEKOLM_CALL Kolmreceived(int port, int channel) PEKOLM_NOEXCEPT;
/* Takes the oldest value of channel 1..4 into *value: 1 taken, 0 none there.
 * While the receive thread reports an error: -1, nothing taken, and KolmgetLastError reports that error
 * (after which reads work again). Codes: 0x30000100 (channel, NULL), 0x300000F0. */
PEKOLM_API int PEKOLM_CALL Kolmread(int port, int channel, double* value) PEKOLM_NOEXCEPT;
/* Takes the oldest value of every channel: 1 taken, 0 some channel empty (nothing taken).
 * Receive-thread error and codes as for Kolmread (0x30000100 for a NULL pointer). */
PEKOLM_API int PEKOLM_CALL KolmreadAll(int port, double* ch1, double* ch2, double* ch3, double* ch4) PEKOLM_NOEXCEPT;
/* Takes up to maxCount values, oldest first, into values[] (room for maxCount doubles) and their number
 * into *count. channel 1..4: values of that channel; channel 0: complete sets, channels 1..4 in turn
 * (values[4k..4k+3] hold set k; maxCount must be a multiple of 4). Returns 1 taken, 0 none there (*count 0).
 * While the receive thread reports an error the values are taken all the same and the result is -1.
 * Codes: 0x30000100 (channel outside 0..4, maxCount < 1 or not a multiple of 4 for channel 0, NULL),
 * 0x300000F0 (then *count is not written). */
PEKOLM_API int PEKOLM_CALL KolmreadMultiple(int port, int channel, double* values, int maxCount,
                                            int* count) PEKOLM_NOEXCEPT;

/* ---- transmission ---- */

/* Start (0x24) and stop (0x23) the continuous transmission of measured values. Codes: send. */
PEKOLM_API int PEKOLM_CALL KolmstartTX(int port) PEKOLM_NOEXCEPT;
PEKOLM_API int PEKOLM_CALL KolmstopTX(int port) PEKOLM_NOEXCEPT;

/* ---- zero, parameter sets, mode, firmware, single value ---- */

/* Zeroes channel 1..4, or all four with 0 (four commands, no pause; all four are sent even after a failed
 * one, whose code is kept). Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetZero(int port, int channel) PEKOLM_NOEXCEPT;
/* Stores the amplifier's current settings as parameter set 1..3. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsaveAll(int port, int set) PEKOLM_NOEXCEPT;
/* Loads parameter set 1..3, then pauses 500 ms (also after a failed write) so that the amplifier can take
 * it over. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmgetAll(int port, int set) PEKOLM_NOEXCEPT;
/* Sets operating mode 0..2; code: the access code, exactly 6 characters, sent as they stand.
 * Codes: 0x30000100 (mode, then code), send. */
PEKOLM_API int PEKOLM_CALL KolmsetMode(int port, int mode, const char* code) PEKOLM_NOEXCEPT;
/* Operating mode 0..255 as the amplifier reports it. Codes: query. */
PEKOLM_API int PEKOLM_CALL KolmgetMode(int port) PEKOLM_NOEXCEPT;
/* Firmware version 0..255 as the amplifier reports it now (the version read at activation decides which
 * functions are available). Codes: query. */
PEKOLM_API int PEKOLM_CALL KolmfirmwareVersion(int port) PEKOLM_NOEXCEPT;
/* Asks for one measured value (0x3B); it arrives through the value buffers, not through this call.
 * Codes: send. */
PEKOLM_API int PEKOLM_CALL KolmgetValue(int port) PEKOLM_NOEXCEPT;

/* ---- data rate ----
 * The amplifier's rates, in hertz, and their codes:
 *   0x93 1/86400   0x98 1/900   0x9D 0.1     0xA2 2.5     0xA7 15      0xAC 937.5
 *   0x94 1/43200   0x99 1/600   0x9E 0.2     0xA3 3.75    0xA8 25      0xAD 1875
 *   0x95 1/21600   0x9A 1/300   0x9F 0.5     0xA4 6.25    0xA9 125     0xAE 3750
 *   0x96 1/3600    0x9B 0.02    0xA0 0.625   0xA5 7.5     0xAA 250     0xAF 7500
 *   0x97 1/1800    0x9C 0.03    0xA1 1.25    0xA6 12.5    0xAB 500
 * Highest rate the port carries, floor(baud / 110) * 0.95 for the baud rate given at activation:
 *   9600: 82.65   19200: 165.3   38400: 331.55   57600: 496.85   115200: 994.65   230400: 1989.3 */

/* Sets the data rate from a frequency in hertz, 0.625..250 and at most the port's highest rate: the next
 * rate of the table up, or the one below it where that exceeds the port's highest rate (80 Hz at 9600 baud
 * sets 25 Hz). Codes: 0x30000100 (out of range, NaN, above the port's highest rate), send. */
PEKOLM_API int PEKOLM_CALL KolmwriteFreq(int port, double rate) PEKOLM_NOEXCEPT;
/* The amplifier's data rate in hertz, any rate of the table, or -1.0.
 * Codes: query, 0x30000060 (a code not in the table). */
PEKOLM_API double PEKOLM_CALL KolmreadFreq(int port) PEKOLM_NOEXCEPT;

/* ---- serial number ---- */

/* serial: exactly 8 characters, sent as they stand. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL PeKolmwriteSerialNo(int port, const char* serial) PEKOLM_NOEXCEPT;
/* serial: room for at least 9 bytes; receives the 8 characters and a NUL (cut at a NUL among them); not
 * written on failure. Codes: 0x30000100 (NULL), query. */
PEKOLM_API int PEKOLM_CALL KolmreadSerialNo(int port, char* serial) PEKOLM_NOEXCEPT;

/* ---- thresholds 1..8 ----
 * Each has an on and an off level in normalised units, the scale of the measured values, kept as raw
 * registers round(level * 32767.5 / 1.05) + 32768 (halves away from zero). Levels must lie strictly
 * between -1.05 and +1.05. */

/* threshold 1..8, or 0 to write the same levels into all eight. on must not be below off (compared as raw
 * values; equal is fine). One threshold: two register writes 100 ms apart (>= 100 ms); all eight: 16
 * writes with 100 ms after each (>= 1600 ms), ending at the first failure.
 * Codes: 0x30000100 (threshold, level, NaN, on below off), send. */
PEKOLM_API int PEKOLM_CALL KolmwriteThreshold(int port, int threshold, double on, double off) PEKOLM_NOEXCEPT;
/* threshold 1..8. Two queries (up to 12 s without answers); *on and *off are written only on success.
 * Codes: 0x30000100 (threshold, NULL), query, 0x30000060 (wrong register echo, or a raw register of 65535,
 * which a level just below 1.05 writes). */
PEKOLM_API int PEKOLM_CALL KolmreadThreshold(int port, int threshold, double* on, double* off) PEKOLM_NOEXCEPT;

/* ---- input type (gain) 1..7 per channel ----
 * The code means (as kolmconsole labels it):
 *   1  bridge input 2 mV/V           5  (unnamed; its scale value has 32 bits)
 *   2  bridge input 10 mV/V          6  type K input
 *   3  voltage input 0..5 V          7  voltage input 0..5 V
 *   4  temperature input PT1000
 * The amplifier keeps a scale value and an offset per channel and input type. */

/* ---- scale per channel 1..4 and input type 1..7 ----
 * Passed through as a whole number: input type 5 carries all 32 bits; the others the low 24 bits (bits
 * 24..31 are dropped; read back as 0..16777215). */

/* Codes: 0x30000100 (channel, then type), send. */
PEKOLM_API int PEKOLM_CALL PeKolmsetScale(int port, int channel, int type, int value) PEKOLM_NOEXCEPT;
/* The width follows the amplifier's answer; a 32-bit value of 0xFFFFFFFF reads as -1.
 * Codes: 0x30000100, query, 0x30000060 (wrong channel or type echo). */
PEKOLM_API int PEKOLM_CALL PeKolmgetScale(int port, int channel, int type) PEKOLM_NOEXCEPT;

/* channel 1..4, gain 1..7. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetGain(int port, int channel, int gain) PEKOLM_NOEXCEPT;
/* channel 1..4: that channel's code, 0..255; channel 0: the four codes packed, channel 1 in the top byte
 * (four 0xFF read as -1). Codes: 0x30000100, query. */
PEKOLM_API int PEKOLM_CALL KolmgetGain(int port, int channel) PEKOLM_NOEXCEPT;
/* channel 1..4: KolmsetGain. channel 0 sets all four, with an 80 ms pause after each (>= 320 ms), ending at
 * the first failure. The channel (0..4) is checked even before the port.
 * Codes: 0x30000100 (channel, type 1..7), send. */
PEKOLM_API int PEKOLM_CALL KolmsetAnalogueType(int port, int channel, int type) PEKOLM_NOEXCEPT;
/* The four channels' codes, each byte taken as signed (0x80..0xFF read negative); written only on success.
 * Codes: 0x30000100 (NULL), query. */
PEKOLM_API int PEKOLM_CALL KolmgetAnalogueType(int port, int* type1, int* type2, int* type3,
                                               int* type4) PEKOLM_NOEXCEPT;

/* ---- display normalisation and offset, channels 1..4 ---- */

/* The factor that turns a normalised value into the unit shown, kept as a single-precision float:
 * |norm| > 2^-23 (1.1920928955078125e-07) and at most 3.4028234663852886e+38; sent as the nearest float.
 * Codes: 0x30000100 (channel, norm out of range or NaN), send. */
PEKOLM_API int PEKOLM_CALL KolmDispSetNorm(int port, int channel, double norm) PEKOLM_NOEXCEPT;
/* The factor, or -1.0 (which is also a valid factor). Codes: 0x30000100, query, 0x30000060 (channel echo). */
PEKOLM_API double PEKOLM_CALL KolmDispGetNorm(int port, int channel) PEKOLM_NOEXCEPT;
/* Raw 24-bit offset 0..16777215 per channel 1..4 and input type 1..7, passed through (kolmconsole takes
 * 0x800000 as no offset and 8388608 counts as a normalised 1.05). Bits 24..31 are dropped. Firmware 10 or
 * later, checked before the arguments.
 * Codes: 0x30000062, 0x30000100, send (write) or query and 0x30000060 (echo; read). */
PEKOLM_API int PEKOLM_CALL KolmwriteOffset(int port, int channel, int type, int offset) PEKOLM_NOEXCEPT;
PEKOLM_API int PEKOLM_CALL KolmreadOffset(int port, int channel, int type) PEKOLM_NOEXCEPT;

/* ---- digital inputs and outputs ----
 * Lines (io) by the firmware read at activation:     firmware  < 12   >= 12
 *   type of a line (firmware 10 or later)   lines      1..8     1..12
 *                                           types      0..15    0..17
 *   state (reading: firmware 8 or later)    lines      1..8     1..8
 * Type codes on the wire: types 0..2 are sent as 0..2, 3..7 as 10..14, 8..15 as 17..24, 16 and 17 as 15 and
 * 16, and read back the same way; a device code below 10 (taken as signed) comes back unchanged. */

/* io 1..n, or 0 for every line of the firmware, one command each with an 80 ms pause after each (>= 640 ms
 * for 8 lines, >= 960 ms for 12), ending at the first failure.
 * Codes: 0x30000062 (checked first), 0x30000100 (io, type), send. */
PEKOLM_API int PEKOLM_CALL KolmsetDigitalIOtype(int port, int io, int type) PEKOLM_NOEXCEPT;
/* io 1..n: the line's type. Codes: 0x30000062, 0x30000100, query, 0x30000060 (echo, device code > 24). */
PEKOLM_API int PEKOLM_CALL KolmgetDigitalIOtype(int port, int io) PEKOLM_NOEXCEPT;
/* io 1..8, or 0 for lines 1..8 with an 80 ms pause after each (>= 640 ms), ending at the first failure;
 * the low 8 bits of value are sent for the line. Any firmware. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetDigitalIOvalue(int port, int io, int value) PEKOLM_NOEXCEPT;
/* io 1..8: 1 set, 0 clear; io 0: the state byte (bit k = line k + 1) as a signed 8-bit value, -128..127
 * (0xFF reads as -1). Firmware 8 or later. Codes: 0x30000062 (checked first), 0x30000100, query. */
PEKOLM_API int PEKOLM_CALL KolmgetDigitalIOvalue(int port, int io) PEKOLM_NOEXCEPT;

/* ---- interfaces of the amplifier ----
 * These change the amplifier's own interfaces, not the library's port, which keeps the baud rate given at
 * activation (and KolmwriteFreq the limit that follows from it). */

/* baud: 9600, 19200, 38400, 57600, 115200 or 230400. Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetBaudSerial(int port, int baud) PEKOLM_NOEXCEPT;
/* The amplifier's serial baud rate. Codes: query, 0x30000060 (a code the library does not know). */
PEKOLM_API int PEKOLM_CALL KolmgetBaudSerial(int port) PEKOLM_NOEXCEPT;
/* CAN bit rate in bit/s: 20000, 50000, 80000, 100000, 125000, 250000, 500000 or 1000000.
 * Codes: 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetBaudCAN(int port, int baud) PEKOLM_NOEXCEPT;
/* The CAN bit rate in bit/s. Codes: query, 0x30000060 (a code the library does not know). */
PEKOLM_API int PEKOLM_CALL KolmgetBaudCAN(int port) PEKOLM_NOEXCEPT;
/* CAN identifier slots 1..8, 32 bits each, passed through unchecked (0xFFFFFFFF reads as -1).
 * Codes: 0x30000100 (slot), send (set) or query and 0x30000060 (slot echo; get). */
PEKOLM_API int PEKOLM_CALL KolmsetCanID(int port, int slot, int id) PEKOLM_NOEXCEPT;
PEKOLM_API int PEKOLM_CALL KolmgetCanID(int port, int slot) PEKOLM_NOEXCEPT;

/* ---- units (firmware 10 or later, checked before the arguments: else 0x30000062) ----
 * Unit table (single-byte Windows-1252 texts: "\xB5" is the micro sign, "\xB0" the degree sign):
 *    0 "mV/V"     6 "\xB5m/m"   12 "kp"    18 "Nm"      24 "kNm"
 *    1 "kg"       7 " "         13 "lbf"   19 "\xB0C"   25 "%"
 *    2 "g"        8 "t"         14 "pdl"   20 "\xB0F"   26 "0/00"
 *    3 "N"        9 "kN"        15 "mm"    21 "K"       27 "W"
 *    4 "cN"      10 "lb"        16 "m"     22 "oztr"    28 "kW"
 *    5 "V"       11 "oz"        17 "cNm"   23 "dwt"     29 "rpm" */

/* channel 1..4, unit: index 0..29 of the unit table. Codes: 0x30000062, 0x30000100, send. */
PEKOLM_API int PEKOLM_CALL KolmsetUnit(int port, int channel, int unit) PEKOLM_NOEXCEPT;
/* channel 1..4: the unit index, 0..255 (the amplifier may know more units than the table).
 * Codes: 0x30000062, 0x30000100, query, 0x30000060 (channel echo). */
PEKOLM_API int PEKOLM_CALL KolmgetUnit(int port, int channel) PEKOLM_NOEXCEPT;
/* text: up to 5 characters.
 * channel 1..4: the unit by its text, exactly as in the table (case-sensitive; "" selects " ").
 * channel 0: the amplifier's one free unit text (sent padded with zero bytes; "" as five spaces).
 * Codes: 0x30000062, 0x30000100 (channel, NULL, too long, no such unit), send. */
PEKOLM_API int PEKOLM_CALL KolmsetUnitText(int port, int channel, const char* text) PEKOLM_NOEXCEPT;
/* text: room for at least 6 bytes; not written on failure.
 * channel 1..4: the unit's text from the table; channel 0: the free unit text, up to 5 characters.
 * Codes: 0x30000062, 0x30000100 (channel, NULL), query, 0x30000060 (channel echo, index above 29). */
PEKOLM_API int PEKOLM_CALL KolmgetUnitText(int port, int channel, char* text) PEKOLM_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- transmission mode: a byte of flags ----
 *   0x02   the amplifier sends measured values continuously (activation reads it)
 *   other  the amplifier's own; passed through in both directions
 * KolmgetTXmode: the byte, 0..255. Codes: query.
 * KolmsetTXmode: sends the low 8 bits of mode, unchecked. Codes: send.
 * These two are exported under their C++ names: _Z13KolmgetTXmodei and _Z13KolmsetTXmodeii on Linux,
 * ?KolmgetTXmode@@YAHH@Z and ?KolmsetTXmode@@YAHHH@Z (ordinals 50, 51) on Windows. */
#if defined(_WIN32) && defined(__GNUC__) && !defined(PEKOLM_BUILDING)
/* mingw callers bind the Windows C++ names that the DLL exports, through the import library's stubs (whose
 * names carry the target's label prefix: "_" on 32-bit Windows). */
#define PEKOLM_STRING_(x) #x
#define PEKOLM_STRING(x) PEKOLM_STRING_(x)
#define PEKOLM_WINDOWS_NAME(name) __asm__("\"" PEKOLM_STRING(__USER_LABEL_PREFIX__) name "\"")
#ifdef __cplusplus
int PEKOLM_CALL KolmgetTXmode(int port) PEKOLM_NOEXCEPT PEKOLM_WINDOWS_NAME("?KolmgetTXmode@@YAHH@Z");
int PEKOLM_CALL KolmsetTXmode(int port, int mode) PEKOLM_NOEXCEPT PEKOLM_WINDOWS_NAME("?KolmsetTXmode@@YAHHH@Z");
#else
int PEKOLM_CALL KolmgetTXmode(int port) PEKOLM_WINDOWS_NAME("?KolmgetTXmode@@YAHH@Z");
int PEKOLM_CALL KolmsetTXmode(int port, int mode) PEKOLM_WINDOWS_NAME("?KolmsetTXmode@@YAHHH@Z");
#endif
#elif defined(__cplusplus)
PEKOLM_CXX_API int PEKOLM_CALL KolmgetTXmode(int port) PEKOLM_NOEXCEPT;
PEKOLM_CXX_API int PEKOLM_CALL KolmsetTXmode(int port, int mode) PEKOLM_NOEXCEPT;
#elif defined(__GNUC__)
PEKOLM_CXX_API int PEKOLM_CALL KolmgetTXmode(int port) __asm__("_Z13KolmgetTXmodei");
PEKOLM_CXX_API int PEKOLM_CALL KolmsetTXmode(int port, int mode) __asm__("_Z13KolmsetTXmodeii");
#endif

#endif /* PEKOLM_H */
