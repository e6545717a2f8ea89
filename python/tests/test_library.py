"""The binding itself: prototypes against pekolm.h, symbol names, loading, error codes."""

import ctypes
import ctypes.util
import errno
import os
import pathlib
import re

import pytest

import pekolm
from pekolm import _library
from pekolm import errors
from pekolm.errors import describe

TREE = pathlib.Path(__file__).resolve().parents[2]
HEADER = TREE / "devicelib" / "include" / "pekolm.h"
C_TYPES = {
    "int": ctypes.c_int,
    "double": ctypes.c_double,
    "int*": ctypes.POINTER(ctypes.c_int),
    "double*": ctypes.POINTER(ctypes.c_double),
    "const char*": ctypes.c_char_p,
    "char*": ctypes.POINTER(ctypes.c_char),
}


def header_prototypes():
    """name: (result type, argument types) of every function pekolm.h declares."""
    if not HEADER.exists():
        pytest.skip(f"{HEADER} is not there")
    declared = {}
    # Only declarations in the C calling convention (PEKOLM_CALL) count: that is what ctypes.CDLL calls.
    pattern = r"PEKOLM_(?:CXX_)?API\s+(int|double)\s+PEKOLM_CALL\s+(\w+)\(([^)]*)\)\s*PEKOLM_NOEXCEPT;"
    for result, name, parameters in re.findall(pattern, HEADER.read_text()):
        types = []
        for parameter in parameters.split(","):
            parameter = parameter.strip()
            if parameter and parameter != "void":
                types.append(C_TYPES[re.sub(r"\s*\w+$", "", parameter).replace(" *", "*")])
        declared[name] = (C_TYPES[result], tuple(types))
    return declared


def test_every_export_has_the_prototype_of_the_header(lib):
    declared = header_prototypes()
    assert len(declared) == 51
    assert set(_library.PROTOTYPES) == set(declared)
    for name, (restype, argtypes) in declared.items():
        function = getattr(lib, name)
        assert (function.restype, tuple(function.argtypes)) == (restype, argtypes), name


def test_double_results_come_back_as_floats(lib):
    # Port 0 is never open: both fail, but with a double -1.0 rather than an int.
    assert lib.KolmreadFreq(0) == -1.0 and isinstance(lib.KolmreadFreq(0), float)
    assert isinstance(lib.KolmDispGetNorm(0, 1), float)
    assert lib.KolmgetLastError(0) == 0x30000101


@pytest.mark.parametrize("platform, name, symbol", [
    ("linux", "KolmgetTXmode", "_Z13KolmgetTXmodei"),
    ("linux", "KolmsetTXmode", "_Z13KolmsetTXmodeii"),
    ("win32", "KolmgetTXmode", "?KolmgetTXmode@@YAHH@Z"),
    ("win32", "KolmsetTXmode", "?KolmsetTXmode@@YAHHH@Z"),
    ("win32", "KolmgetMode", "KolmgetMode"),
])
def test_transmission_mode_functions_are_bound_by_their_decorated_names(platform, name, symbol):
    assert _library.exported_name(name, platform) == symbol


def test_loaded_transmission_mode_functions_are_the_decorated_ones(lib):
    assert lib.KolmgetTXmode.__name__ == _library.exported_name("KolmgetTXmode")
    assert lib.KolmsetTXmode.__name__ == _library.exported_name("KolmsetTXmode")


def test_library_version(lib):
    assert pekolm.library_version() == (1, 9)


@pytest.mark.parametrize("library, says", [
    ("/nonexistent/libpekolm.so.1", "/nonexistent/libpekolm.so.1"),
    (ctypes.util.find_library("m"), "does not export"),
])
def test_a_library_that_cannot_be_loaded_is_named(monkeypatch, library, says):
    monkeypatch.setenv("PEKOLM_LIBRARY", library)
    with pytest.raises(pekolm.LibraryNotFoundError, match=re.escape(says)):
        _library.load_library()


def test_every_table_of_error_codes_follows_the_header():
    if not HEADER.exists():
        pytest.skip(f"{HEADER} is not there")
    header = HEADER.read_text()
    macros = re.findall(r"#define PEKOLM_E_(\w+) (0x[0-9A-F]+)", header)
    values = {name.lower(): int(value, 16) for name, value in macros}
    texts = {name.lower(): text for name, text in re.findall(r'case PEKOLM_E_(\w+):\s*return "([^"]*)";', header)}
    assert values.pop("write_failed") == errors.WRITE_FAILED
    assert set(texts) == set(values)
    assert errors._LIBRARY_CODES == {values[name]: (name, text) for name, text in texts.items()}
    assert all(getattr(errors, name.upper()) == value for name, value in values.items())
    # The library records its own constants; the header's opening comment lists the codes for readers.
    internal = (TREE / "devicelib" / "src" / "protocol" / "error_codes.h").read_text()
    assert dict(re.findall(r"std::uint32_t (\w+) = (0x[0-9A-F]+);", internal)) == {
        name: f"0x{value:08X}" for name, value in {**values, "write_failed": errors.WRITE_FAILED}.items()}
    listed = re.findall(r"^ \*   (0x3[0-9A-F]{7}) ", header[:header.index("*/")], re.MULTILINE)
    assert sorted(int(code, 16) for code in listed) == sorted(values.values())
    for document in (TREE / "man" / "pekolm.3", TREE / "README.md"):
        shown = document.read_text()
        for name, value in values.items():
            assert all(f in shown for f in (f"PEKOLM_E_{name.upper()}", f"0x{value:08X}", str(value))), (document, name)


@pytest.mark.parametrize("code, name, text", [
    (0x30000058, "answer_timeout", "no answer"),
    (0x30000101, "bad_port", "not open"),
    (2, "ENOENT", os.strerror(2)),
    (0x20000005, "write_failed:EIO", os.strerror(5)),
    (0x300000AB, "0x300000AB", "does not know"),
])
def test_error_names_and_texts(code, name, text):
    error = pekolm.PekolmError(code, "KolmgetMode", 3)
    assert (error.code, error.name) == (code, name)
    assert text in error.message and text in str(error) and "port 3" in str(error)
    assert describe(code)[0] == name


def test_a_system_code_reads_as_the_system_tools_show_it():
    assert str(pekolm.PekolmError(errno.EBUSY)) == f"EBUSY ({errno.EBUSY}, {os.strerror(errno.EBUSY)})"
