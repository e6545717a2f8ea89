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
 * port n is the device $PEKOLM_PORT_DIR/com<n> when that environment variable is set, else /dev/ttyS<n-1>.
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
 * again at once, by any user.
 *
 * Pointer arguments must not be NULL; a NULL pointer is refused with 0x30000100.
 */
#ifndef PEKOLM_H
#define PEKOLM_H

#if defined(_WIN32)
#define PEKOLM_API __declspec(dllexport)
#elif defined(__GNUC__)
#define PEKOLM_API __attribute__((visibility("default")))
#else
#define PEKOLM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library and errors ---- */

/* Library version, major << 16 | minor: 0x10009 (1.9). */
PEKOLM_API int KolmdllVersion(void);
/* The pending error code for the port (a failed activation of it first, then an error of its receive
 * thread, then the last failed operation), cleared by the call; 0 when nothing is pending. */
PEKOLM_API int KolmgetLastError(int port);

/* ---- ports ---- */

/* Opens the port and brings the amplifier into operating mode 1.
 *   baud: 9600, 19200, 38400, 57600, 115200 or 230400.
 *   bufferSize: values kept per channel; clamped to 1..390451572.
 *   flags: 0x4 hardware handshake (RTS/CTS; waits up to 3000 ms for CTS),
 *          0x100 slow start-up (2000 ms settle, mode query tried 5 times),
 *          0x200 stop the amplifier's transmission during activation.
 * Takes at least 500 ms. Returns 0, or -1 with the cause for KolmgetLastError(port). */
PEKOLM_API int KolmactivateExtended(int port, int baud, int bufferSize, int flags);
/* KolmactivateExtended with flags 0. */
PEKOLM_API int KolmactExt(int port, int baud, int bufferSize);
/* Stops the receive thread and closes the port. */
PEKOLM_API int Kolmrelease(int port);

/* ---- measured values (channels 1..4) ---- */

/* Empties the four value buffers and drops a partial frame; an awaited answer is dropped too. */
PEKOLM_API int KolmclearDLLbuffer(int port);
/* Values waiting: channel 1..4 that channel's count; 0 the smallest count (complete sets of four);
 * 5 the largest. Another channel: -1 without an error code. */
PEKOLM_API int Kolmreceived(int port, int channel);
/* Takes the oldest value of one channel into *value: 1 taken, 0 none there. */
PEKOLM_API int Kolmread(int port, int channel, double* value);
/* Takes the oldest value of every channel: 1 taken, 0 some channel empty (nothing taken). */
PEKOLM_API int KolmreadAll(int port, double* ch1, double* ch2, double* ch3, double* ch4);
/* Takes up to maxCount values, oldest first, into values[] and their number into *count.
 * channel 1..4: values of that channel; channel 0: complete sets, channels 1..4 in turn (maxCount must be a
 * multiple of 4). Returns 1 taken, 0 none there. While the receive thread reports an error the values are
 * taken all the same and the result is -1. */
PEKOLM_API int KolmreadMultiple(int port, int channel, double* values, int maxCount, int* count);

/* ---- transmission ---- */

/* Start (0x24) and stop (0x23) the continuous transmission of measured values. */
PEKOLM_API int KolmstartTX(int port);
PEKOLM_API int KolmstopTX(int port);

/* ---- zero, parameter sets, mode, firmware, single value ---- */

/* Zeroes channel 1..4, or all four with 0. */
PEKOLM_API int KolmsetZero(int port, int channel);
/* Stores the amplifier's settings as parameter set 1..3. */
PEKOLM_API int KolmsaveAll(int port, int set);
/* Loads parameter set 1..3; returns after 500 ms. */
PEKOLM_API int KolmgetAll(int port, int set);
/* Sets operating mode 0..2; code is the 6-character access code. */
PEKOLM_API int KolmsetMode(int port, int mode, const char* code);
/* Operating mode 0..255. */
PEKOLM_API int KolmgetMode(int port);
/* Firmware version 0..255. */
PEKOLM_API int KolmfirmwareVersion(int port);
/* Asks for one measured value; it arrives through the value buffers. */
PEKOLM_API int KolmgetValue(int port);

/* ---- data rate ---- */

/* Sets the data rate from a frequency in hertz, 0.625..250 and at most floor(baud / 110) * 0.95 for the
 * baud rate given at activation; the next rate of the amplifier's table is taken. */
PEKOLM_API int KolmwriteFreq(int port, double rate);
/* The amplifier's data rate in hertz, or -1.0. */
PEKOLM_API double KolmreadFreq(int port);

/* ---- serial number ---- */

/* serial: exactly 8 characters. */
PEKOLM_API int PeKolmwriteSerialNo(int port, const char* serial);
/* serial: room for at least 9 bytes; receives the 8 characters and a NUL. */
PEKOLM_API int KolmreadSerialNo(int port, char* serial);

/* ---- thresholds 1..8, levels in normalised units (|level| < 1.05) ---- */

/* threshold 0 writes all eight. on must not be below off. Takes 100 ms per register written. */
PEKOLM_API int KolmwriteThreshold(int port, int threshold, double on, double off);
PEKOLM_API int KolmreadThreshold(int port, int threshold, double* on, double* off);

/* ---- scale per channel 1..4 and input type 1..7 (24 bits; 32 bits for type 5) ---- */

PEKOLM_API int PeKolmsetScale(int port, int channel, int type, int value);
PEKOLM_API int PeKolmgetScale(int port, int channel, int type);

/* ---- input type (gain) 1..7 per channel ---- */

PEKOLM_API int KolmsetGain(int port, int channel, int gain);
/* channel 1..4: that channel's code; channel 0: the four codes packed, channel 1 in the top byte. */
PEKOLM_API int KolmgetGain(int port, int channel);
/* channel 0 sets all four (80 ms after each). */
PEKOLM_API int KolmsetAnalogueType(int port, int channel, int type);
PEKOLM_API int KolmgetAnalogueType(int port, int* type1, int* type2, int* type3, int* type4);

/* ---- display normalisation and offset ---- */

/* norm: |norm| > 2^-23 and at most the largest single-precision value; sent as a float. */
PEKOLM_API int KolmDispSetNorm(int port, int channel, double norm);
PEKOLM_API double KolmDispGetNorm(int port, int channel);
/* Raw 24-bit offset per channel 1..4 and input type 1..7; needs firmware 10 or later. */
PEKOLM_API int KolmwriteOffset(int port, int channel, int type, int offset);
PEKOLM_API int KolmreadOffset(int port, int channel, int type);

/* ---- digital inputs and outputs ---- */

/* Line 1..8 (1..12 from firmware 12), 0 for all; type 0..15 (0..17 from firmware 12); firmware 10 or
 * later. */
PEKOLM_API int KolmsetDigitalIOtype(int port, int io, int type);
PEKOLM_API int KolmgetDigitalIOtype(int port, int io);
/* Line 1..8, 0 for all; the low 8 bits of value are sent. */
PEKOLM_API int KolmsetDigitalIOvalue(int port, int io, int value);
/* Line 1..8: 1 set, 0 clear; line 0: the state byte as a signed 8-bit value. Firmware 8 or later. */
PEKOLM_API int KolmgetDigitalIOvalue(int port, int io);

/* ---- interfaces of the amplifier ---- */

PEKOLM_API int KolmsetBaudSerial(int port, int baud);
PEKOLM_API int KolmgetBaudSerial(int port);
/* CAN bit rate: 20000, 50000, 80000, 100000, 125000, 250000, 500000 or 1000000. */
PEKOLM_API int KolmsetBaudCAN(int port, int baud);
PEKOLM_API int KolmgetBaudCAN(int port);
/* CAN identifier slots 1..8, 32 bits each. */
PEKOLM_API int KolmsetCanID(int port, int slot, int id);
PEKOLM_API int KolmgetCanID(int port, int slot);

/* ---- units (firmware 10 or later) ---- */

/* unit: index 0..29 of the unit table. */
PEKOLM_API int KolmsetUnit(int port, int channel, int unit);
PEKOLM_API int KolmgetUnit(int port, int channel);
/* channel 1..4: the unit by its text ("kg", "N", ...; single-byte characters, "\xB5m/m", "\xB0C");
 * channel 0: the amplifier's free unit text, up to 5 characters. */
PEKOLM_API int KolmsetUnitText(int port, int channel, const char* text);
/* text: room for at least 6 bytes. */
PEKOLM_API int KolmgetUnitText(int port, int channel, char* text);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- transmission mode (a byte of flags; bit 1 = continuous transmission) ----
 * These two are exported under their C++ names, _Z13KolmgetTXmodei and _Z13KolmsetTXmodeii. */
#ifdef __cplusplus
PEKOLM_API int KolmgetTXmode(int port);
PEKOLM_API int KolmsetTXmode(int port, int mode);
#elif defined(__GNUC__)
PEKOLM_API int KolmgetTXmode(int port) __asm__("_Z13KolmgetTXmodei");
PEKOLM_API int KolmsetTXmode(int port, int mode) __asm__("_Z13KolmsetTXmodeii");
#endif

#endif /* PEKOLM_H */
