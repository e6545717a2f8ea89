"""One amplifier on one port: the library's functions as methods and properties that raise on failure."""

from __future__ import annotations

import ctypes
import errno
import numbers
import operator
import os
import sys
from ctypes import POINTER, byref, c_char_p, c_double, c_int

import numpy as np

from . import _ports
from ._library import PROTOTYPES, Library, library
from .errors import ALREADY_OPEN, ANSWER_TIMEOUT, PekolmError

__all__ = ["Amplifier", "DEFAULT_BUFFER_SIZE", "MAX_BUFFER_SIZE"]

# Values kept per channel: about 50 s at 1875 Hz, 4000 s at 25 Hz; 1.6 MB.
DEFAULT_BUFFER_SIZE = 100_000
# The library clamps a buffer size to 1..this without a word; a size outside is refused here instead, so
# that Amplifier.buffer_size is what the port holds.
MAX_BUFFER_SIZE = 390_451_572

_INT_MIN, _INT_MAX = -(2**31), 2**31 - 1
# KolmreadMultiple counts doubles in an int.
_MAX_SETS = _INT_MAX // 4
# Narrower than a C int, by argument name (the names the methods pass to _call).
_BOUNDS = {"buffer_size": (1, MAX_BUFFER_SIZE), "flags": (0, _INT_MAX)}
# Activation failures after which a port number may have led elsewhere than meant (a missing device, or one
# where no amplifier answers): the error then says how the number maps.
_MAPPING_CODES = {errno.ENOENT, errno.ENXIO, errno.ENODEV, errno.EIO, ANSWER_TIMEOUT} | ({3} if sys.platform == "win32" else set())  # PATH_NOT_FOUND


def _shown(number: int) -> str:
    # Python refuses to print an int of more than 4300 digits; the message must not fail in its place.
    return str(number) if number.bit_length() <= 64 else f"an int of {number.bit_length()} bits"


def _integer(value, name: str, low: int = _INT_MIN, high: int | None = _INT_MAX) -> int:
    """value as an int within low..high (high None: no upper bound). ctypes would pass only the low 32 bits
    of a larger int (port 2**32 + 1 opens port 1) and int() would cut 2.7 to 2, so neither is left to them.
    A bool is refused: True for a channel is a mistake rather than channel 1; numpy's ints are welcome."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an int, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if number < low or (high is not None and number > high):
        if (low, high) == (_INT_MIN, _INT_MAX):
            expected = f"fit a C int ({low}..{high})"
        else:
            expected = f"be {low} or more" if high is None else f"be {low}..{high}"
        raise ValueError(f"{name} must {expected}, not {_shown(number)}")
    return number


def _real(value, name: str) -> float:
    """value as a float; float() itself would take the text "25" and True."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} is too large for a C double: {_shown(int(value))}") from None


def _encode(text, name: str) -> bytes:
    """Texts travel as single Windows-1252 bytes ("µ" 0xB5, "°" 0xB0); a NUL would cut them short unseen."""
    if not isinstance(text, str):
        raise TypeError(f"{name} must be a str, not {type(text).__name__}")
    if "\0" in text:
        raise ValueError(f"{name} must not contain a NUL character: {text!r}")
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as error:
        raise ValueError(f"{name} holds a character that Windows-1252 has not: "
                         f"{text[error.start:error.end]!r} in {text!r}") from None


_CONVERSIONS = {
    c_int: lambda value, name: _integer(value, name, *_BOUNDS.get(name, (_INT_MIN, _INT_MAX))),
    c_double: _real,
    c_char_p: _encode,
}


def _c_arguments(function: str, arguments: dict) -> list:
    """The arguments of a call of `function` (port first), in its prototype's order, each checked and
    converted by its C type; pointers and buffers go as they are. The names are the caller's, for the
    messages."""
    argtypes = PROTOTYPES[function][1]
    if len(arguments) != len(argtypes):
        raise TypeError(f"{function} takes {len(argtypes)} arguments, not {len(arguments)}")
    return [_CONVERSIONS[ctype](value, name) if ctype in _CONVERSIONS else value
            for ctype, (name, value) in zip(argtypes, arguments.items())]


def _decode(raw: bytes) -> str:
    # Five bytes have no Windows-1252 character; the amplifier's texts can still hold them, and a reading
    # should not fail for it, so they become the Latin-1 (C1) characters of the same number.
    try:
        return raw.decode("cp1252")
    except UnicodeDecodeError:
        return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in raw)


def _room(max_samples: int | None, waiting, most: int) -> int:
    """How many to read: max_samples, or what waits now (None). Kolmreceived does not report receive
    errors; a read does, so an empty buffer is still read, for room of one. max_samples 0 reads nothing."""
    count = waiting() if max_samples is None else _integer(max_samples, "max_samples", 0, None)
    if max_samples is not None and count == 0:
        return 0
    return min(max(count, 1), most)


class Amplifier:
    """The amplifier on one serial port.

    Use it as a context manager, which activates the port on entry and releases it on exit::

        with pekolm.Amplifier(1, 115200) as amp:
            print(amp.serial_number, amp.data_rate)
            values = amp.read()          # numpy array (n, 4), normalised

    or call open() and close(). The port is a number 1..255 or a device path ("/dev/ttyUSB0"; on Windows
    "COM5" or "\\\\.\\COM5"); `device` tells the device either way. Every method and property talks to
    the amplifier (nothing is cached) and raises PekolmError when the library reports a failure. Channels
    are 1..4; where a method takes channel 0 it means all four, as the library does. Ranges are checked by
    the library (code bad_argument); before the call an argument of the wrong type raises TypeError and an
    int that a C int cannot hold ValueError, each naming the argument (a bool is an int only where it is a
    line's state, set_digital_io).

    Naming: a property for a setting of the whole amplifier (data_rate, serial_number, tx_mode, ...),
    get_x(index) and set_x(index, value) for one of several (get_gain(channel), set_threshold(n, on, off)),
    and a plural property for all four channels at once (gains, display_norms, units).

    Threads may share an Amplifier as the library allows (pekolm.h), but the library keeps one pending
    error code per port: when two threads fail on one port at once, one may be told the other's code.
    """

    def __init__(self, port: int | str | os.PathLike, baud: int = 115200, buffer_size: int = DEFAULT_BUFFER_SIZE,
                 flags: int = 0):
        """port 1..255 or a device path; baud as the amplifier is set to (9600 .. 230400); buffer_size values
        kept per channel (the newest overwrite the oldest); flags of KolmactivateExtended (0x4 handshake,
        0x100 slow start-up, 0x200 stop the transmission first). Nothing is opened yet, but the arguments
        are checked: buffer_size 1..MAX_BUFFER_SIZE, flags not negative, every one an int that fits a C int.

        The library opens ports by number only. On Linux a path is linked as com<n> (n counting down from
        255) in a folder of this process's own, and PEKOLM_PORT_DIR is set to it for the whole process
        (child processes inherit it); ports opened by number afterwards are linked there to the device
        their number led to before, so numbers keep their meaning. While a path's port is open, `port` is
        the number it was lent, else None."""
        #: The device path given for the port, absolute (None for a port given by number).
        self.path: str | None = None
        if isinstance(port, (str, os.PathLike)):
            self.path = _ports.checked_path(port)
            if sys.platform == "win32":
                port, self.path = _ports.windows_port_number(os.fspath(port)), None
        elif not isinstance(port, (bool, np.bool_)) and not hasattr(port, "__index__"):
            raise TypeError(f"port must be a port number (int) or a device path (str or os.PathLike), not "
                            f"{type(port).__name__}")
        self.port, self.baud, self.buffer_size, self.flags = _c_arguments(
            "KolmactivateExtended",
            dict(port=0 if self.path else port, baud=baud, buffer_size=buffer_size, flags=flags))
        if self.path:
            self.port = None
        self._opened_on: str | None = None  # the device a port given by number was opened on
        self.lib: Library = library()
        self.is_open = False
        # A query of the start-up that failed without failing the activation (firmware version, or the
        # transmission mode without answer), as a PekolmError; None when all answered.
        self.startup_error: PekolmError | None = None

    @property
    def device(self) -> str:
        """The device path of the port: the path given, or the one its number leads to (while open: the one
        it was opened on)."""
        if self.path is not None:
            return self.path
        if self.is_open and self._opened_on is not None:
            return self._opened_on
        return _ports.device_for(self.port, _ports.folder.user_port_dir())[0]

    def __repr__(self) -> str:
        state = "open" if self.is_open else "closed"
        if self.path is not None:
            where = self.path + (f" as port {self.port}" if self.port is not None else "")
        else:
            where = f"port {self.port} ({self.device})"
        return f"<pekolm.Amplifier {where}, {self.baud} baud, {state}>"

    # ---- calls ----

    def _check(self, name: str, result, value_may_be_minus_one: bool = False):
        if result != -1:
            return result
        code = self.lib.KolmgetLastError(self._port_argument()) & 0xFFFFFFFF
        # Some readings are -1 by right (an identifier 0xFFFFFFFF, a norm of -1.0); only the code tells.
        if code == 0 and value_may_be_minus_one:
            return result
        raise PekolmError(code, name, self.port)

    def _port_argument(self):
        # A path's port holds no number while closed: port 0, which is never open, gets the library's own
        # answer to a closed port.
        return 0 if self.port is None and self.path is not None else self.port

    def _invoke(self, name: str, arguments: dict):
        # Every call passes here, so that no argument reaches ctypes unchecked (the port neither: the
        # attribute can have been changed since __init__).
        return getattr(self.lib, name)(*_c_arguments(name, {"port": self._port_argument(), **arguments}))

    def _call(self, name: str, *, value_may_be_minus_one: bool = False, **arguments):
        """Calls the library's function `name` for this port with the arguments after the port, named as
        the method's caller named them, in the prototype's order."""
        return self._check(name, self._invoke(name, arguments), value_may_be_minus_one)

    # ---- port ----

    def open(self) -> Amplifier:
        """Opens the port and brings the amplifier into operating mode 1 (KolmactivateExtended); blocks
        0.5 s at the least. A failure raises PekolmError naming the device tried; where a number led to a
        missing or silent device, with a line on how the number maps."""
        if self.is_open:
            # A path's port would be lent a second number and opened twice.
            raise PekolmError(ALREADY_OPEN, "KolmactivateExtended", self.port)
        lent = self.path is not None
        if lent:
            self.port, tried = _ports.folder.lend_number(self.path)
            device, rule, registered = self.path, None, True
        else:
            tried, device, rule, registered = _ports.folder.take_number(self.port)
        try:
            with _ports.folder.activating():
                self._call("KolmactivateExtended", baud=self.baud, buffer_size=self.buffer_size,
                           flags=self.flags)
        except BaseException as error:
            if isinstance(error, PekolmError):
                error.device = _ports.expanded(tried)
                if not lent and error.code in _MAPPING_CODES:
                    error.mapping = rule
            if registered:
                _ports.folder.release(self.port, lent)
            if lent:
                self.port = None
            raise
        self._opened_on = device
        self.is_open = True
        pending = self.lib.KolmgetLastError(self.port) & 0xFFFFFFFF
        self.startup_error = PekolmError(pending, "KolmactivateExtended", self.port) if pending else None
        return self

    def close(self) -> None:
        """Releases the port (Kolmrelease); nothing happens when it is not open."""
        if self.is_open:
            self.is_open = False
            try:
                self._call("Kolmrelease")
            finally:
                _ports.folder.release(self.port, self.path is not None)
                # The number is free for another path now; calls must not reach that one's port.
                if self.path is not None:
                    self.port = None

    def __enter__(self) -> Amplifier:
        return self.open()

    def __exit__(self, *exc_info) -> None:
        self.close()

    # ---- measured values ----

    @property
    def received(self) -> int:
        """Complete sets of four values waiting to be read."""
        return self._call("Kolmreceived", channel=0)

    def received_in(self, channel: int) -> int:
        """Values waiting in channel 1..4."""
        return self._call("Kolmreceived", channel=channel)

    def _read_multiple(self, channel: int, out: np.ndarray) -> np.ndarray:
        taken = c_int(0)
        result = self._invoke("KolmreadMultiple", dict(
            channel=channel, values=out.ctypes.data_as(POINTER(c_double)), max_count=out.size, count=byref(taken)))
        values = out.reshape(-1)[: taken.value].reshape((-1,) + out.shape[1:])
        if values.shape[0] < out.shape[0] // 2:
            values = values.copy()  # not to keep a large buffer alive for a few values
        try:
            self._check("KolmreadMultiple", result)
        except PekolmError as error:
            # The library takes the values of a read that also reports a receive error all the same: they
            # leave the buffers for good, so they go with the exception rather than being lost.
            error.values = values
            raise
        return values

    def read(self, max_samples: int | None = None) -> np.ndarray:
        """Takes the waiting sets of values, oldest first, at most max_samples (None: all that are waiting
        now): a float64 array of shape (n, 4), column k channel k + 1, normalised values about -1.05..+1.05.
        Display values are these times the channel's display norm (display_norms).

        A receive error (the device has gone away, a garbled frame) raises PekolmError even when no values
        wait, except for max_samples 0, which reads nothing. The values taken by the failing read are
        removed from the buffers all the same and travel with that exception as its attribute .values
        (an array as read() returns, possibly empty): catch it to keep them."""
        count = _room(max_samples, lambda: self.received, _MAX_SETS)
        return self._read_multiple(0, np.empty((count, 4))) if count else np.empty((0, 4))

    def read_channel(self, channel: int, max_samples: int | None = None) -> np.ndarray:
        """Takes the waiting values of channel 1..4 alone, as read() does (errors and .values alike): a
        float64 array of shape (n,)."""
        count = _room(max_samples, lambda: self.received_in(channel), _INT_MAX)
        return self._read_multiple(channel, np.empty(count)) if count else np.empty(0)

    def clear(self) -> None:
        """Empties the value buffers (KolmclearDLLbuffer)."""
        self._call("KolmclearDLLbuffer")

    def request_value(self) -> None:
        """Asks for one set of values; it arrives through the buffers like the streamed ones."""
        self._call("KolmgetValue")

    # ---- transmission ----

    def start_transmission(self) -> None:
        """Starts the continuous transmission of measured values."""
        self._call("KolmstartTX")

    def stop_transmission(self) -> None:
        """Stops the continuous transmission of measured values."""
        self._call("KolmstopTX")

    @property
    def tx_mode(self) -> int:
        """The transmission-mode byte 0..255 (0x02: sending continuously; other bits the amplifier's)."""
        return self._call("KolmgetTXmode")

    @tx_mode.setter
    def tx_mode(self, mode: int) -> None:
        self._call("KolmsetTXmode", tx_mode=mode)

    # ---- zero, parameter sets, mode, firmware ----

    def zero(self, channel: int = 0) -> None:
        """Zeroes channel 1..4, or all four with 0."""
        self._call("KolmsetZero", channel=channel)

    def save_parameters(self, parameter_set: int) -> None:
        """Stores the amplifier's current settings as parameter set 1..3."""
        self._call("KolmsaveAll", parameter_set=parameter_set)

    def load_parameters(self, parameter_set: int) -> None:
        """Loads parameter set 1..3 (then waits 0.5 s for the amplifier to take it over)."""
        self._call("KolmgetAll", parameter_set=parameter_set)

    @property
    def mode(self) -> int:
        """The operating mode 0..255 the amplifier reports; set it with set_mode()."""
        return self._call("KolmgetMode")

    def set_mode(self, mode: int, access_code: str) -> None:
        """Sets operating mode 0..2; access_code is the amplifier's, exactly 6 characters."""
        self._call("KolmsetMode", mode=mode, access_code=access_code)

    @property
    def firmware_version(self) -> int:
        """The firmware version 0..255 the amplifier reports now."""
        return self._call("KolmfirmwareVersion")

    # ---- data rate, serial number ----

    @property
    def data_rate(self) -> float:
        """The data rate in Hz. Setting takes 0.625..250 Hz (at most what the baud rate carries) and picks
        the amplifier's rate at or above it."""
        return self._call("KolmreadFreq")

    @data_rate.setter
    def data_rate(self, rate_hz: float) -> None:
        self._call("KolmwriteFreq", data_rate=rate_hz)

    @property
    def serial_number(self) -> str:
        """The serial number, 8 characters."""
        text = ctypes.create_string_buffer(9)
        self._call("KolmreadSerialNo", serial=text)
        return _decode(text.value)

    @serial_number.setter
    def serial_number(self, serial: str) -> None:
        self._call("PeKolmwriteSerialNo", serial_number=serial)

    # ---- thresholds ----

    def get_threshold(self, threshold: int) -> tuple[float, float]:
        """(on, off) levels of threshold 1..8, in normalised units."""
        on, off = c_double(), c_double()
        self._call("KolmreadThreshold", threshold=threshold, on=byref(on), off=byref(off))
        return on.value, off.value

    def set_threshold(self, threshold: int, on: float, off: float) -> None:
        """Sets threshold 1..8 (0: all eight) to levels strictly between -1.05 and 1.05, on not below off."""
        self._call("KolmwriteThreshold", threshold=threshold, on=on, off=off)

    # ---- scale, gain, analogue input types ----

    def get_scale(self, channel: int, input_type: int) -> int:
        """The scale value of channel 1..4 for input type 1..7 (24 bits; type 5: 32 bits, signed)."""
        return self._call("PeKolmgetScale", channel=channel, input_type=input_type, value_may_be_minus_one=True)

    def set_scale(self, channel: int, input_type: int, value: int) -> None:
        """Sets the scale value of channel 1..4 for input type 1..7 (its low 24 bits; type 5: 32 bits)."""
        self._call("PeKolmsetScale", channel=channel, input_type=input_type, value=value)

    def get_gain(self, channel: int) -> int:
        """The input type (gain code) of channel 1..4: 1 bridge 2 mV/V, 2 bridge 10 mV/V, 3 voltage 0..5 V,
        4 PT1000, 5 (unnamed), 6 type K, 7 voltage 0..5 V."""
        return self._call("KolmgetGain", channel=channel)

    def set_gain(self, channel: int, gain: int) -> None:
        """Sets the input type 1..7 of channel 1..4."""
        self._call("KolmsetGain", channel=channel, gain=gain)

    @property
    def gains(self) -> tuple[int, int, int, int]:
        """The four channels' input types, from one query."""
        packed = self._call("KolmgetGain", channel=0, value_may_be_minus_one=True) & 0xFFFFFFFF
        return tuple((packed >> shift) & 0xFF for shift in (24, 16, 8, 0))

    @property
    def analogue_types(self) -> tuple[int, int, int, int]:
        """The four channels' input types as KolmgetAnalogueType reports them (bytes taken as signed)."""
        types = [c_int() for _ in range(4)]
        self._call("KolmgetAnalogueType", **{f"type{k}": byref(t) for k, t in enumerate(types, start=1)})
        return tuple(t.value for t in types)

    def set_analogue_type(self, channel: int, input_type: int) -> None:
        """Sets the input type 1..7 of channel 1..4, or of all four with channel 0 (0.32 s)."""
        self._call("KolmsetAnalogueType", channel=channel, input_type=input_type)

    # ---- display norms and offsets ----

    def get_display_norm(self, channel: int) -> float:
        """The factor that turns channel 1..4's normalised values into its display unit."""
        return self._call("KolmDispGetNorm", channel=channel, value_may_be_minus_one=True)

    def set_display_norm(self, channel: int, norm: float) -> None:
        """Sets the display factor of channel 1..4 (kept as a single-precision float, |norm| > 2**-23)."""
        self._call("KolmDispSetNorm", channel=channel, norm=norm)

    @property
    def display_norms(self) -> tuple[float, float, float, float]:
        """The four channels' display factors."""
        return tuple(self.get_display_norm(channel) for channel in range(1, 5))

    def get_offset(self, channel: int, input_type: int) -> int:
        """The raw 24-bit offset of channel 1..4 for input type 1..7 (0x800000: none). Firmware 10 on."""
        return self._call("KolmreadOffset", channel=channel, input_type=input_type)

    def set_offset(self, channel: int, input_type: int, offset: int) -> None:
        """Sets the raw 24-bit offset of channel 1..4 for input type 1..7 (0x800000: none). Firmware 10 on."""
        self._call("KolmwriteOffset", channel=channel, input_type=input_type, offset=offset)

    # ---- digital inputs and outputs ----

    def get_digital_io_type(self, io: int) -> int:
        """The type of digital line 1..8 (1..12 from firmware 12). Firmware 10 on."""
        return self._call("KolmgetDigitalIOtype", io=io, value_may_be_minus_one=True)

    def set_digital_io_type(self, io: int, io_type: int) -> None:
        """Sets the type (0..15, 0..17 from firmware 12) of line io, or of every line with io 0."""
        self._call("KolmsetDigitalIOtype", io=io, io_type=io_type)

    def get_digital_io(self, io: int) -> bool:
        """The state of digital line 1..8. Firmware 8 on."""
        return bool(self._call("KolmgetDigitalIOvalue", io=io))

    def set_digital_io(self, io: int, value: int | bool) -> None:
        """Sets line 1..8, or lines 1..8 with io 0, to value (its low 8 bits are sent; True is 1)."""
        if isinstance(value, (bool, np.bool_)):
            value = int(value)
        self._call("KolmsetDigitalIOvalue", io=io, value=value)

    @property
    def digital_io_states(self) -> int:
        """The states of lines 1..8 as a byte 0..255, bit k for line k + 1. Firmware 8 on."""
        return self._call("KolmgetDigitalIOvalue", io=0, value_may_be_minus_one=True) & 0xFF

    # ---- the amplifier's serial and CAN interfaces ----

    @property
    def serial_baud(self) -> int:
        """The baud rate of the amplifier's serial interface (the port here keeps the rate it was opened
        with)."""
        return self._call("KolmgetBaudSerial")

    @serial_baud.setter
    def serial_baud(self, baud: int) -> None:
        self._call("KolmsetBaudSerial", serial_baud=baud)

    @property
    def can_baud(self) -> int:
        """The CAN bit rate in bit/s (20000 .. 1000000)."""
        return self._call("KolmgetBaudCAN")

    @can_baud.setter
    def can_baud(self, baud: int) -> None:
        self._call("KolmsetBaudCAN", can_baud=baud)

    def get_can_id(self, slot: int) -> int:
        """CAN identifier slot 1..8, 0..0xFFFFFFFF."""
        return self._call("KolmgetCanID", slot=slot, value_may_be_minus_one=True) & 0xFFFFFFFF

    def set_can_id(self, slot: int, identifier: int) -> None:
        """Sets CAN identifier slot 1..8 to a 32-bit value, 0..0xFFFFFFFF (or -2**31..-1 for the same
        bits taken as signed)."""
        identifier = _integer(identifier, "identifier", _INT_MIN, 0xFFFFFFFF)
        self._call("KolmsetCanID", slot=slot, identifier=ctypes.c_int32(identifier).value)

    # ---- units (firmware 10 on) ----

    def get_unit(self, channel: int) -> int:
        """The unit of channel 1..4 as an index 0..255 (0..29 are pekolm.h's table: 0 "mV/V", 1 "kg", ...)."""
        return self._call("KolmgetUnit", channel=channel)

    def set_unit(self, channel: int, unit: int) -> None:
        """Sets the unit of channel 1..4 by its index 0..29."""
        self._call("KolmsetUnit", channel=channel, unit=unit)

    def get_unit_text(self, channel: int) -> str:
        """The unit text of channel 1..4 ("kg", "µm/m", "°C", ...); with 0 the free unit text."""
        text = ctypes.create_string_buffer(6)
        self._call("KolmgetUnitText", channel=channel, text=text)
        return _decode(text.value)

    def set_unit_text(self, channel: int, text: str) -> None:
        """Sets the unit of channel 1..4 by its text, exactly as in the table (case matters; "" is " ");
        with 0 the free unit text, up to 5 characters."""
        self._call("KolmsetUnitText", channel=channel, text=text)

    @property
    def units(self) -> tuple[str, str, str, str]:
        """The four channels' unit texts."""
        return tuple(self.get_unit_text(channel) for channel in range(1, 5))

    @property
    def free_unit_text(self) -> str:
        """The amplifier's one free unit text, up to 5 characters."""
        return self.get_unit_text(0)

    @free_unit_text.setter
    def free_unit_text(self, text: str) -> None:
        self.set_unit_text(0, text)
