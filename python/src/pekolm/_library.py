"""Finds libpekolm, loads it through ctypes and gives each of its 51 exports its C prototype.

Without a prototype ctypes passes and returns C ints, so a double result (KolmreadFreq, KolmDispGetNorm)
would come back as garbage and a double argument would be passed in the wrong register: every export is
declared here, once, from pekolm.h.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import POINTER, c_char, c_char_p, c_double, c_int

__all__ = ["LibraryNotFoundError", "Library", "PROTOTYPES", "exported_name", "library", "library_version",
           "load_library"]

_int_p = POINTER(c_int)
_double_p = POINTER(c_double)
# Buffers the library writes (serial number, unit texts) are passed as arrays, which POINTER(c_char) takes.
_buffer = POINTER(c_char)

# name: (result type, argument types), in the order of pekolm.h.
PROTOTYPES: dict[str, tuple[type, tuple[type, ...]]] = {
    "KolmdllVersion": (c_int, ()),
    "KolmgetLastError": (c_int, (c_int,)),
    "KolmactivateExtended": (c_int, (c_int, c_int, c_int, c_int)),
    "KolmactExt": (c_int, (c_int, c_int, c_int)),
    "Kolmrelease": (c_int, (c_int,)),
    "KolmclearDLLbuffer": (c_int, (c_int,)),
    "Kolmreceived": (c_int, (c_int, c_int)),
    "Kolmread": (c_int, (c_int, c_int, _double_p)),
    "KolmreadAll": (c_int, (c_int, _double_p, _double_p, _double_p, _double_p)),
    "KolmreadMultiple": (c_int, (c_int, c_int, _double_p, c_int, _int_p)),
    "KolmstartTX": (c_int, (c_int,)),
    "KolmstopTX": (c_int, (c_int,)),
    "KolmsetZero": (c_int, (c_int, c_int)),
    "KolmsaveAll": (c_int, (c_int, c_int)),
    "KolmgetAll": (c_int, (c_int, c_int)),
    "KolmsetMode": (c_int, (c_int, c_int, c_char_p)),
    "KolmgetMode": (c_int, (c_int,)),
    "KolmfirmwareVersion": (c_int, (c_int,)),
    "KolmgetValue": (c_int, (c_int,)),
    "KolmwriteFreq": (c_int, (c_int, c_double)),
    "KolmreadFreq": (c_double, (c_int,)),
    "PeKolmwriteSerialNo": (c_int, (c_int, c_char_p)),
    "KolmreadSerialNo": (c_int, (c_int, _buffer)),
    "KolmwriteThreshold": (c_int, (c_int, c_int, c_double, c_double)),
    "KolmreadThreshold": (c_int, (c_int, c_int, _double_p, _double_p)),
    "PeKolmsetScale": (c_int, (c_int, c_int, c_int, c_int)),
    "PeKolmgetScale": (c_int, (c_int, c_int, c_int)),
    "KolmsetGain": (c_int, (c_int, c_int, c_int)),
    "KolmgetGain": (c_int, (c_int, c_int)),
    "KolmsetAnalogueType": (c_int, (c_int, c_int, c_int)),
    "KolmgetAnalogueType": (c_int, (c_int, _int_p, _int_p, _int_p, _int_p)),
    "KolmDispSetNorm": (c_int, (c_int, c_int, c_double)),
    "KolmDispGetNorm": (c_double, (c_int, c_int)),
    "KolmwriteOffset": (c_int, (c_int, c_int, c_int, c_int)),
    "KolmreadOffset": (c_int, (c_int, c_int, c_int)),
    "KolmsetDigitalIOtype": (c_int, (c_int, c_int, c_int)),
    "KolmgetDigitalIOtype": (c_int, (c_int, c_int)),
    "KolmsetDigitalIOvalue": (c_int, (c_int, c_int, c_int)),
    "KolmgetDigitalIOvalue": (c_int, (c_int, c_int)),
    "KolmsetBaudSerial": (c_int, (c_int, c_int)),
    "KolmgetBaudSerial": (c_int, (c_int,)),
    "KolmsetBaudCAN": (c_int, (c_int, c_int)),
    "KolmgetBaudCAN": (c_int, (c_int,)),
    "KolmsetCanID": (c_int, (c_int, c_int, c_int)),
    "KolmgetCanID": (c_int, (c_int, c_int)),
    "KolmsetUnit": (c_int, (c_int, c_int, c_int)),
    "KolmgetUnit": (c_int, (c_int, c_int)),
    "KolmsetUnitText": (c_int, (c_int, c_int, c_char_p)),
    "KolmgetUnitText": (c_int, (c_int, c_int, _buffer)),
    "KolmgetTXmode": (c_int, (c_int,)),
    "KolmsetTXmode": (c_int, (c_int, c_int)),
}

# The transmission-mode pair is exported as C++ functions, under the decorated names that programs bind
# (pekolm.h), so ctypes must ask for those.
_DECORATED = {
    "win32": {"KolmgetTXmode": "?KolmgetTXmode@@YAHH@Z", "KolmsetTXmode": "?KolmsetTXmode@@YAHHH@Z"},
    "other": {"KolmgetTXmode": "_Z13KolmgetTXmodei", "KolmsetTXmode": "_Z13KolmsetTXmodeii"},
}


def exported_name(name: str, platform: str | None = None) -> str:
    """The symbol under which the library exports the function called `name` in pekolm.h."""
    table = _DECORATED["win32" if (platform or sys.platform) == "win32" else "other"]
    return table.get(name, name)


class LibraryNotFoundError(OSError):
    """libpekolm could not be found or loaded; the message says every place that was tried."""


class Library:
    """The loaded library: one ctypes function per export, as an attribute under its name in pekolm.h."""

    def __init__(self, path: str):
        self.path = path
        self.dll = ctypes.CDLL(path)
        for name, (restype, argtypes) in PROTOTYPES.items():
            symbol = exported_name(name)
            try:
                function = getattr(self.dll, symbol)
            except AttributeError:
                raise LibraryNotFoundError(f"{path} is no libpekolm: it does not export {symbol}") from None
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)

    def __repr__(self) -> str:
        return f"<pekolm.Library {self.path!r}>"


def _candidates() -> list[tuple[str, str]]:
    """(how it was found, what to load) in the order they are tried."""
    explicit = os.environ.get("PEKOLM_LIBRARY")
    if explicit:
        # Whoever names a library means that one: falling back to another would hide the mistake.
        return [("PEKOLM_LIBRARY", explicit)]
    windows = sys.platform == "win32"
    here = os.path.dirname(os.path.abspath(__file__))
    names = ["pekolm.dll"] if windows else ["libpekolm.so.1", "libpekolm.so"]
    found = [("beside the package", os.path.join(here, name)) for name in names]
    system = ctypes.util.find_library("pekolm")
    if system:
        found.append(("ctypes.util.find_library", system))
    found.append(("the system's library path", "pekolm.dll" if windows else "libpekolm.so.1"))
    return found


def load_library() -> Library:
    """Loads the library afresh: $PEKOLM_LIBRARY, else beside this package, else from the system's path."""
    tried = []
    for how, where in _candidates():
        if how == "beside the package" and not os.path.exists(where):
            tried.append(f"  {where} ({how}): not there")
            continue
        try:
            return Library(where)
        except LibraryNotFoundError:
            raise
        except OSError as error:
            tried.append(f"  {where} ({how}): {error}")
    raise LibraryNotFoundError("libpekolm could not be loaded; set PEKOLM_LIBRARY to its path. Tried:\n"
                               + "\n".join(tried))


_lock = threading.Lock()
_library: Library | None = None


def library() -> Library:
    """The library of this process, loaded on first use."""
    global _library
    with _lock:
        if _library is None:
            _library = load_library()
        return _library


def library_version() -> tuple[int, int]:
    """The loaded library's version (major, minor), from KolmdllVersion."""
    version = library().KolmdllVersion()
    return version >> 16, version & 0xFFFF
