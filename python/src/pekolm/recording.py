"""Reads the CSV files kolmrec writes into numpy arrays.

A file is a header of "# key: value" comment lines (per-port keys as "port P key"), the column line
"port,index,time_s,ch1,ch2,ch3,ch4", and one row per set of values, the rows of the recorded ports
interleaved in blocks. Comment lines may stand among and after the rows (notes such as "# port 1: values may
be missing before index 1234 (estimated 567 lost)", "# stopped: Ctrl-C"); "# port P key: value" lines among
them (those of a port that appeared later, as `pekolm collect` writes them) count for the port as in the
header, a later line over an earlier one, and stay in the notes as well. Unknown keys are kept but not
interpreted, so that newer recorders stay readable. The column line may go on with "host_s", the time at
which kolmrec took the row's block (seconds since the start on the host's monotonic clock); columns after
the known ones are left out.
"""

from __future__ import annotations

import csv
import datetime
import os
import re
import warnings
from dataclasses import dataclass, field

import numpy as np

__all__ = ["Gap", "PortInfo", "Recording", "RecordingFormatError", "read_recording"]

_MAGIC = "# kolmrec"
_COLUMNS = ("port", "index", "time_s", "ch1", "ch2", "ch3", "ch4")
_PORT_KEY = re.compile(r"port (\d+) (.+)")
_HOST_TIME = "host_s"
_RATE = re.compile(r"\s*([-+0-9.eE]+)\s*(Hz)?\s*")
# Older kolmrecs wrote no estimate; their indices run on over the gap.
_GAP = re.compile(r"port (\d+): values may be missing before index (\d+)(?: \(estimated (\d+) lost\))?")


class RecordingFormatError(ValueError):
    """The file is not a kolmrec recording, or not one this reader understands."""


@dataclass
class PortInfo:
    """What the header says about one recorded port; None for what it does not say (or not readably)."""

    port: int
    baud: int | None = None
    serial_number: str | None = None
    firmware_version: int | None = None
    rate_hz: float | None = None
    # Per channel 1..4; a norm is None where the field is empty, a unit "" where it is.
    norms: tuple[float | None, ...] | None = None
    units: tuple[str, ...] | None = None
    # Every "port P key: value" line of the port as written, known keys or not; of the header and the notes.
    header: dict[str, str] = field(default_factory=dict)


@dataclass(frozen=True)
class Gap:
    """Where values of a port may be missing: before the row of `index`. `lost` is kolmrec's estimate of how
    many, by the host's clock (indices index - lost .. index - 1 have no row); None in files of kolmrecs
    that made none, whose indices run on over the gap."""

    port: int
    index: int
    lost: int | None


@dataclass
class Recording:
    """A kolmrec file in memory.

    values_kind is "display" (normalised value times the display norm, in the port's units) or
    "normalised" (units do not apply). The arrays hold one element (row) per set of values, in file order:
    port (int), index (int64, the set's number within its port), time (float64, seconds from the start)
    and values (float64, shape (n, 4), channel k + 1 in column k). host_time (float64, seconds) is when
    kolmrec took each row's block, None for a file without the column.
    """

    path: str
    format_version: str
    start: datetime.datetime | None
    library: str | None
    values_kind: str | None
    ports: dict[int, PortInfo]
    port: np.ndarray
    index: np.ndarray
    time: np.ndarray
    values: np.ndarray
    # Every "key: value" line but the per-port ones, as written.
    header: dict[str, str] = field(default_factory=dict)
    # The comment lines among and after the rows, without their "#", in file order.
    notes: list[str] = field(default_factory=list)
    host_time: np.ndarray | None = None

    @property
    def gaps(self) -> list[Gap]:
        """The places where values may be missing, from the notes, in file order."""
        gaps = []
        for note in self.notes:
            match = _GAP.fullmatch(note)
            if match:
                lost = match.group(3)
                gaps.append(Gap(int(match.group(1)), int(match.group(2)), None if lost is None else int(lost)))
        return gaps

    @property
    def port_numbers(self) -> list[int]:
        """The ports of the header and of the rows, in order."""
        return sorted(set(self.ports) | set(int(p) for p in np.unique(self.port)))

    def of_port(self, port: int) -> tuple[np.ndarray, np.ndarray]:
        """(time, values) of one port's rows: shapes (m,) and (m, 4)."""
        rows = self.port == port
        return self.time[rows], self.values[rows]


def _fields(value: str) -> list[str]:
    # One CSV row: a field holding a comma is quoted.
    return next(csv.reader([value]), [])


def _number(text: str, kind):
    try:
        return kind(text.strip())
    except ValueError:
        return None


def _port_info(port: int, header: dict[str, str]) -> PortInfo:
    info = PortInfo(port=port, header=header)
    if "baud" in header:
        info.baud = _number(header["baud"], int)
    if "serial number" in header:
        info.serial_number = header["serial number"].strip() or None
    if "firmware version" in header:
        info.firmware_version = _number(header["firmware version"], int)
    if "data rate" in header:
        match = _RATE.fullmatch(header["data rate"])
        info.rate_hz = _number(match.group(1), float) if match else None
    if "display norms" in header:
        info.norms = tuple(_number(f, float) if f.strip() else None for f in _fields(header["display norms"]))
    if "units" in header:
        info.units = tuple(_fields(header["units"]))
    return info


_NOTE = re.compile(r"^[ \t]*#(.*)$", re.MULTILINE)


def _complete_lines(file, notes: list[str], dropped: list[str], columns: int):
    """The lines after the column line but for an incomplete last row, which goes to dropped with the
    reason; the comment lines are gathered into notes. A file read while kolmrec still writes it, or cut
    short (a second Ctrl-C, a full disk behind a shell redirection), can end inside a row, and the rows
    before it are sound. Lines go by in batches: loadtxt takes them from a list at nearly a file's speed."""
    last: list[str] = []  # held back until the end shows whether it is whole
    while True:
        lines = file.readlines(1 << 20)
        if not lines:
            break
        if last and last[0].endswith(("\n", "\r")):
            lines = last + lines
        elif last:  # the file grew while it was read: the line went on
            lines[0] = last[0] + lines[0]
        last = [lines.pop()]
        batch = "".join(lines)
        if "#" in batch:
            notes.extend(note.strip() for note in _NOTE.findall(batch))
        yield from lines
    if not last or not last[0].strip():
        return
    line = last[0]
    if line.lstrip().startswith("#"):
        if line.endswith(("\n", "\r")):
            notes.append(line.strip()[1:].strip())
            yield line
    elif not line.endswith(("\n", "\r")):
        dropped.append(f"the last row has no line end, so it may be incomplete: {line[:80]!r}")
    elif line.count(",") < columns - 1:
        dropped.append(f"the last row has fewer than {columns} fields: {line.strip()[:80]!r}")
    else:
        yield line


def read_recording(path: str | os.PathLike) -> Recording:
    """Reads a kolmrec file; raises RecordingFormatError for one that is not (and OSError as open does).
    An incomplete last row (of a file still being written, or cut short) is left out with a warning."""
    path = os.fspath(path)
    try:
        with open(path, encoding="utf-8-sig", newline="") as file:
            first = file.readline()
            if not first.startswith(_MAGIC + " ") and first.rstrip("\r\n") != _MAGIC:
                raise RecordingFormatError(f"{path} is not a kolmrec recording: it does not begin with "
                                           f"'{_MAGIC}'")
            format_version = first[len(_MAGIC):].strip()
            header: dict[str, str] = {}
            port_headers: dict[int, dict[str, str]] = {}
            line_number = 1
            for line in iter(file.readline, ""):
                line_number += 1
                line = line.rstrip("\r\n")
                if line.startswith("#"):
                    key, colon, value = line[1:].strip().partition(": ")
                    if not colon:
                        continue
                    match = _PORT_KEY.fullmatch(key)
                    if match:
                        port_headers.setdefault(int(match.group(1)), {})[match.group(2)] = value
                    else:
                        header[key] = value
                    continue
                if not line.strip():
                    continue
                columns = tuple(c.strip() for c in line.split(","))
                if columns[: len(_COLUMNS)] != _COLUMNS:
                    raise RecordingFormatError(f"{path}, line {line_number}: expected the column line "
                                               f"'{','.join(_COLUMNS)}', found {line[:80]!r}")
                break
            else:
                raise RecordingFormatError(f"{path}: the header has no column line '{','.join(_COLUMNS)}'")
            host_time = columns[len(_COLUMNS): len(_COLUMNS) + 1] == (_HOST_TIME,)
            used = len(_COLUMNS) + (1 if host_time else 0)
            notes: list[str] = []
            dropped: list[str] = []
            lines = _complete_lines(file, notes, dropped, used)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)  # a recording without rows is still one
                try:
                    rows = np.loadtxt(lines, delimiter=",", comments="#", usecols=range(used), ndmin=2,
                                      dtype=np.float64)
                except ValueError as error:
                    raise RecordingFormatError(f"{path}: a row after line {line_number} (the column line) "
                                               f"is not one of numbers: {error}") from None
    except UnicodeDecodeError:
        raise RecordingFormatError(f"{path} is not a kolmrec recording: it is not UTF-8 text") from None
    # Ports and indices are whole numbers: the cast below would make 1.5 port 1, and 1e300 or nan any number.
    for column in (0, 1):
        whole = rows[:, column]
        wrong = (whole != np.trunc(whole)) | ~(np.abs(whole) <= 2**53)
        if wrong.any():
            raise RecordingFormatError(f"{path}: a row's {_COLUMNS[column]} is not a whole number: "
                                       f"{float(whole[wrong][0])!r}")
    for reason in dropped:
        warnings.warn(f"{path}: {reason}; left out", stacklevel=2)
    for note in notes:
        key, colon, value = note.partition(": ")
        match = _PORT_KEY.fullmatch(key) if colon else None
        if match:
            port_headers.setdefault(int(match.group(1)), {})[match.group(2)] = value

    start = None
    if "start" in header:
        text = header["start"].strip()
        # Before Python 3.11 fromisoformat takes no "Z" for UTC.
        if text.endswith("Z"):
            text = text[:-1] + "+00:00"
        try:
            start = datetime.datetime.fromisoformat(text)
        except ValueError:
            pass
    values_kind = header.get("values", "").strip() or None
    return Recording(
        path=path,
        format_version=format_version,
        start=start,
        library=header.get("library", "").strip() or None,
        values_kind=values_kind,
        ports={p: _port_info(p, h) for p, h in sorted(port_headers.items())},
        port=rows[:, 0].astype(int),
        index=rows[:, 1].astype(np.int64),
        time=rows[:, 2].copy(),
        values=rows[:, 3:7].copy(),
        header=header,
        notes=notes,
        host_time=rows[:, 7].copy() if host_time else None,
    )
