"""The library's error codes as a Python exception, with the names and texts pekolm.h gives them."""

from __future__ import annotations

import errno as _errno
import os
import sys

__all__ = ["PekolmError", "describe", "CTS_TIMEOUT", "ANSWER_TIMEOUT", "ANSWER_LENGTH", "ANSWER_CONTENT",
           "FRAME_TERMINATOR", "FIRMWARE_TOO_OLD", "LOCK_FAILED", "EVENT_FAILED", "OUT_OF_MEMORY", "SHORT_WRITE",
           "ALREADY_OPEN", "BAD_ARGUMENT", "BAD_PORT", "WRITE_FAILED"]

CTS_TIMEOUT = 0x3000001F
ANSWER_TIMEOUT = 0x30000058
ANSWER_LENGTH = 0x30000059
ANSWER_CONTENT = 0x30000060
FRAME_TERMINATOR = 0x30000061
FIRMWARE_TOO_OLD = 0x30000062
LOCK_FAILED = 0x300000F0
EVENT_FAILED = 0x300000F1
OUT_OF_MEMORY = 0x300000F3
SHORT_WRITE = 0x300000F5
ALREADY_OPEN = 0x300000F6
BAD_ARGUMENT = 0x30000100
BAD_PORT = 0x30000101
# Or'ed with the system's code when writing a command failed.
WRITE_FAILED = 0x20000000

# As pekolm.h names them (PEKOLM_E_CTS_TIMEOUT, ...) and with its texts; a test holds the two together.
_LIBRARY_CODES = {
    CTS_TIMEOUT: ("cts_timeout", "handshake requested (flag 0x4) but CTS did not come on within 3000 ms"),
    ANSWER_TIMEOUT: ("answer_timeout", "no answer to a query within 6000 ms"),
    ANSWER_LENGTH: ("answer_length", "the answer arrived with another length than expected"),
    ANSWER_CONTENT: ("answer_content",
                     "the answer does not fit the request (wrong echo, a value the library does not know)"),
    FRAME_TERMINATOR: ("frame_terminator", "a measured-value frame did not end in CR LF"),
    FIRMWARE_TOO_OLD: ("firmware_too_old",
                       "the operation needs a newer firmware version than the amplifier reported"),
    LOCK_FAILED: ("lock_failed", "a lock could not be taken in time"),
    EVENT_FAILED: ("event_failed", "an event could not be created"),
    OUT_OF_MEMORY: ("out_of_memory", "out of memory"),
    SHORT_WRITE: ("short_write", "fewer bytes were written to the port than the command holds"),
    ALREADY_OPEN: ("already_open", "the port is already open in this library"),
    BAD_ARGUMENT: ("bad_argument", "an argument is out of range, or a pointer argument is NULL"),
    BAD_PORT: ("bad_port", "the port number is outside 1..255 or the port is not open"),
}

# On Windows the system's codes are GetLastError values; these are the ones a serial port meets.
_WINDOWS_NAMES = {
    2: "ERROR_FILE_NOT_FOUND", 3: "ERROR_PATH_NOT_FOUND", 5: "ERROR_ACCESS_DENIED", 6: "ERROR_INVALID_HANDLE",
    22: "ERROR_BAD_COMMAND", 31: "ERROR_GEN_FAILURE", 32: "ERROR_SHARING_VIOLATION",
    87: "ERROR_INVALID_PARAMETER", 121: "ERROR_SEM_TIMEOUT", 995: "ERROR_OPERATION_ABORTED",
    1167: "ERROR_DEVICE_NOT_CONNECTED",
}


def _system_error(number: int) -> tuple[str, str]:
    if sys.platform == "win32":
        import ctypes

        return _WINDOWS_NAMES.get(number, f"WinError {number}"), ctypes.FormatError(number).strip()
    return _errno.errorcode.get(number, f"errno {number}"), os.strerror(number)


def describe(code: int) -> tuple[str, str, int | None]:
    """(name, text, system error number or None) of an error code of the library."""
    code &= 0xFFFFFFFF
    if code in _LIBRARY_CODES:
        return (*_LIBRARY_CODES[code], None)
    if code == 0:
        return "no_code", "the call failed without leaving an error code", None
    if code & 0xF0000000 == WRITE_FAILED:
        number = code & 0x0FFFFFFF
        name, text = _system_error(number)
        return f"write_failed:{name}", f"writing a command to the port failed: {text}", number
    if code & 0xF0000000 == 0x30000000:
        return f"0x{code:08X}", "an error code this package does not know", None
    return (*_system_error(code), code)


class PekolmError(Exception):
    """A call of the library failed (returned -1); the cause is the code KolmgetLastError reported.

    Attributes:
        code: the error code, a 32-bit unsigned int (0x30000100, 2, 0x20000005, ...).
        name: its short name: the library's (bad_argument, answer_timeout, ...), the system's for a system
            error (ENOENT; on Windows ERROR_FILE_NOT_FOUND), write_failed:<system name> for a failed write.
        message: what it means, in words (the system's own text for system errors).
        errno: the system's error number within the code, or None for the library's own codes.
        function: the library function that failed, port: the port it was called for (None when unknown).
        device: for a failed activation, the device tried, with the links on the way
            ("/tmp/x/com1 -> /dev/ttyUSB0"); None otherwise.
        mapping: for a port given by number that led to a missing or silent device, how its number maps
            ("port 2 is /dev/ttyS1, since PEKOLM_PORT_DIR is not set ..."), shown as a line of its own;
            None otherwise.
    """

    def __init__(self, code: int, function: str | None = None, port: int | None = None):
        super().__init__(code, function, port)
        self.code = code & 0xFFFFFFFF
        self.name, self.message, self.errno = describe(self.code)
        self.function = function
        self.port = port
        self.device: str | None = None
        self.mapping: str | None = None

    def __str__(self) -> str:
        where = ""
        if self.function:
            where = (f"{self.function}" + (f" on port {self.port}" if self.port is not None else "")
                     + (f" ({self.device})" if self.device else "") + ": ")
        elif self.device:
            where = f"{self.device}: "
        if self.errno == self.code:  # the system's own code, as its tools show one: ENOENT (2, No such file ...)
            text = f"{where}{self.name} ({self.code}, {self.message})"
        else:
            text = f"{where}{self.message} ({self.name}, 0x{self.code:08X})"
        return text + (f"\n{self.mapping}" if self.mapping else "")
