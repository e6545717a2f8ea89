"""The serial ports and the amplifiers on them, as the program kolmscan finds them.

list_ports() runs `kolmscan --json`, scan() `kolmscan --probe --json`, and both parse what it prints, so
that Python and the program never disagree about a port or its number. kolmscan is $PEKOLM_KOLMSCAN, else
the one on PATH (Debian's package pekolm-tools installs it).
"""

from __future__ import annotations

import dataclasses
import json
import os
import shutil
import subprocess
import types
from collections.abc import Mapping
from typing import Any

from . import _ports

__all__ = ["KolmscanError", "KolmscanNotFoundError", "ProbedPort", "SerialPort", "kolmscan_program", "list_ports",
           "run_kolmscan", "scan"]

# kolmscan's exit statuses.
EXIT_OK, EXIT_NONE_FOUND, EXIT_ERROR = 0, 1, 2


class KolmscanError(RuntimeError):
    """kolmscan failed, or printed what is no list of ports. returncode and stderr are what it gave (None
    where it did not run)."""

    def __init__(self, message: str, returncode: int | None = None, stderr: str | None = None):
        super().__init__(message)
        self.returncode = returncode
        self.stderr = stderr


class KolmscanNotFoundError(KolmscanError):
    """There is no kolmscan to run."""


@dataclasses.dataclass(frozen=True)
class _Listed:
    port: int | None  # the library's number for it; None where it has none
    device: str
    target: str | None  # what a link (com<n>) leads to
    driver: str | None
    vid_pid: str | None  # a USB adapter's "0403:6001"
    usb_path: str | None  # its socket, "1-1.2"
    usb_interface: str | None  # the adapter's interface the tty belongs to, "00", "01", ...
    manufacturer: str | None
    product: str | None
    serial: str | None  # the USB adapter's serial number
    by_id: tuple[str, ...]  # the names under /dev/serial/by-id leading to it
    by_path: tuple[str, ...]


@dataclasses.dataclass(frozen=True)
class SerialPort(_Listed):
    """A serial port as `kolmscan --json` lists it; None where nothing is known. Fields that a later
    kolmscan adds are in `extra`."""

    extra: Mapping[str, Any] = dataclasses.field(default_factory=dict, compare=False, repr=False)


@dataclasses.dataclass(frozen=True)
class ProbedPort(_Listed):
    """A serial port as `kolmscan --probe --json` reports it: the listing, and what the probe found.
    probe is "amplifier", "silent", "busy", "error" or "skipped"; the amplifier's serial number, firmware,
    mode, data rate (Hz), transmission mode and the baud rate it answered at are None unless one answered;
    error is the library's code of a failed probe, note what was found, in words, for all but an amplifier.
    Fields that a later kolmscan adds are in `extra`."""

    probe: str | None
    serial_number: str | None
    firmware: int | None
    mode: int | None
    rate_hz: float | None
    tx_mode: int | None
    baud: int | None
    error: int | None
    note: str | None
    extra: Mapping[str, Any] = dataclasses.field(default_factory=dict, compare=False, repr=False)

    @property
    def is_amplifier(self) -> bool:
        return self.probe == "amplifier"


def kolmscan_program() -> str:
    """The kolmscan to run: $PEKOLM_KOLMSCAN, else the one on PATH."""
    named = os.environ.get("PEKOLM_KOLMSCAN")
    if named:
        # Whoever names one means that one: another found on PATH would hide the mistake.
        return named
    found = shutil.which("kolmscan")
    if found is None:
        raise KolmscanNotFoundError("kolmscan was not found on PATH: install the package pekolm-tools (or "
                                    "build kolmscan) or set PEKOLM_KOLMSCAN to its path")
    return found


def _first_line(text: str) -> str:
    # kolmscan says what went wrong first; a hint to its --help may follow.
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[0] if lines else ""


def run_kolmscan(arguments: list[str]) -> tuple[str, int]:
    """Runs kolmscan with arguments; (what it printed, its exit status 0 or 1). Any other status raises
    KolmscanError with its last line on stderr.

    It runs with PEKOLM_PORT_DIR as the user set it, not this process's folder of links for device paths,
    so that its numbers are the ones Amplifier(n) opens."""
    program = kolmscan_program()
    command = [program, *arguments]
    shown = " ".join(["kolmscan", *arguments])
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, encoding="utf-8",
                              errors="replace",
                              env=_ports.folder.user_environment())
    except OSError as error:
        how = "PEKOLM_KOLMSCAN names" if os.environ.get("PEKOLM_KOLMSCAN") else "found on PATH:"
        raise KolmscanNotFoundError(f"kolmscan cannot be run ({how} {program}): {error.strerror or error}")
    if done.returncode not in (EXIT_OK, EXIT_NONE_FOUND) or (done.returncode == EXIT_NONE_FOUND
                                                              and "--probe" not in arguments):
        status = (f"exit status {done.returncode}" if done.returncode >= 0
                  else f"killed by signal {-done.returncode}")
        said = _first_line(done.stderr)
        raise KolmscanError(f"{shown} failed ({status})" + (f": {said}" if said else ""), done.returncode,
                            done.stderr)
    return done.stdout, done.returncode


def _parse(text: str, status: int, kind: type, shown: str) -> list:
    try:
        entries = json.loads(text)
    except ValueError as error:
        raise KolmscanError(f"{shown} printed what is no JSON ({error}): {text[:80]!r}", status) from None
    if not isinstance(entries, list) or not all(isinstance(entry, dict) for entry in entries):
        raise KolmscanError(f"{shown} printed no JSON array of objects: {text[:80]!r}", status)
    names = [field.name for field in dataclasses.fields(kind) if field.name != "extra"]
    ports = []
    for entry in entries:
        values = {name: entry.get(name) for name in names}
        for name in ("by_id", "by_path"):
            values[name] = tuple(values[name] or ())
        # JSON writes a whole rate as 25: a float all the same, as Amplifier.data_rate gives it.
        if isinstance(values.get("rate_hz"), int):
            values["rate_hz"] = float(values["rate_hz"])
        extra = types.MappingProxyType({key: value for key, value in entry.items() if key not in values})
        ports.append(kind(**values, extra=extra))
    return ports


def _device_options(devices) -> list[str]:
    if devices is None:
        return []
    if isinstance(devices, (str, bytes, os.PathLike)):
        raise TypeError("devices must be a list of paths, not one path")
    options = []
    for device in devices:
        path = os.fspath(device)
        if not isinstance(path, str) or not path:
            raise ValueError(f"devices: {device!r} is no path")
        options += ["--device", path]
    return options


def list_ports(devices=None) -> list[SerialPort]:
    """The serial ports of the system and the com<n> links of the port folder, as `kolmscan --json` lists
    them; with `devices` (paths) only those, listed or not."""
    options = ["--json", *_device_options(devices)]
    return _parse(*run_kolmscan(options), SerialPort, "kolmscan " + " ".join(options))


def scan(devices=None) -> list[ProbedPort]:
    """Every port (or only the paths in `devices`), probed for an amplifier (`kolmscan --probe --json`), the
    ports side by side: about 1 s for a port with an amplifier at 115200 baud, 40 s for a silent one. A scan
    that finds no amplifier returns the ports all the same; ports that this or another process holds open
    are reported busy."""
    options = ["--probe", "--json", *_device_options(devices)]
    return _parse(*run_kolmscan(options), ProbedPort, "kolmscan " + " ".join(options))
