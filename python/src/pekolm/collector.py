"""python3 -m pekolm collect: writes the blocks of an MQTT subscription into one CSV file as kolmrec writes
its recordings, so that read_recording() and `pekolm plot` take it as one.

Each (node, com<n>) gets a number of its own, the file's port column, in order of appearance; its
"# port P ..." lines say which node and port it is ("node", "node name", "node port") beside what kolmrec
says of a port. A new recording on a stream (its indices begin again) gets a new number, so that the
indices of a number only ever grow. The streams known when the header is written are in the header; the
lines of one that appears later stand among the rows, before its first row. time_s is seconds since the
file's start by the publisher's UTC clock.
"""

from __future__ import annotations

import datetime
import signal
import sys
import threading
import time
from dataclasses import dataclass
from typing import Any, TextIO

import numpy as np

from .mqtt import Block, Subscription

# The kolmrec whose format the file follows.
FORMAT_VERSION = "1.9"
# Retained status and info messages come right after subscribing; this long they may take at most, and
# the header waits for them until none has come for the shorter time.
HEADER_WAIT, HEADER_QUIET = 1.0, 0.25
# The longest a stop (Ctrl-C, the duration) waits for the loop to see it.
_TICK = 0.2


def iso_utc(moment: datetime.datetime) -> str:
    """2026-12-09T16:10:00.123456Z."""
    return moment.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def _csv_field(text: str) -> str:
    # Quoted as kolmrec quotes a field: only where it holds a comma, a quote or a line end.
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def _one_line(value: object) -> str:
    return " ".join(str(value).split())


def _text(value: object) -> str:
    # As kolmrec shows a text of the amplifier: a control character (a line end) would break the line.
    return "".join("?" if ord(c) < 0x20 or c == "\x7f" else c for c in str(value if value is not None else ""))


def _norm(value: object) -> str:
    # A display norm is an IEEE single in the amplifier: shown as one, 0.1 reads 0.1 and not 0.100000001.
    if not isinstance(value, (int, float)) or isinstance(value, bool):
        return ""
    text = str(np.float32(value))
    return text[:-2] if text.endswith(".0") else text


def _list(value: object) -> list:
    return list(value) if isinstance(value, list) else []


@dataclass
class _Number:
    """One number of the file's port column: a recording of one port of one node."""

    number: int
    node: str
    port: int
    start: str | None
    info: dict[str, Any] | None = None  # as its lines were last written
    announced: bool = False
    rows: int = 0


def port_lines(number: int, node: str, port: int, info: dict[str, Any] | None) -> str:
    """The "# port P key: value" lines of a stream: which node and port, then what its info says, in
    kolmrec's words."""
    lines = [("node", node)]
    if info is None:
        lines.append(("node port", str(port)))
    else:
        rate = info.get("rate_hz")
        lines += [("node name", _one_line(info.get("node", ""))), ("node port", str(port))]
        if info.get("device"):
            lines.append(("device", _one_line(info["device"])))
        for key, field in (("baud", "baud"), ("serial number", "serial_number"),
                           ("firmware version", "firmware_version")):
            if field in info:
                lines.append((key, _one_line(info[field])))
        if isinstance(rate, (int, float)) and not isinstance(rate, bool):
            lines.append(("data rate", f"{rate:.10g} Hz"))
        if "norms" in info:
            lines.append(("display norms", ",".join(_norm(v) for v in _list(info["norms"]))))
        if "unit_texts" in info:
            lines.append(("units", ",".join(_csv_field(_text(t))
                                            for t in _list(info["unit_texts"]))))
        for key, field in (("values", "values"), ("library", "library"), ("kolmrec", "kolmrec"),
                           ("recording start", "start")):
            if field in info:
                lines.append((key, _one_line(info[field])))
    return "".join(f"# port {number} {key}: {value}\n" for key, value in lines)


class CsvCollector:
    """Turns blocks into the text of the file: header() once, then rows() per batch of blocks."""

    def __init__(self, start: datetime.datetime, source: str, version: str):
        self.start = start
        self.source = source
        self.version = version
        self.samples = 0
        self.gap_blocks = self.gap_samples = self.gap_count = 0
        self._current: dict[tuple[str, int], _Number] = {}
        self._numbers: list[_Number] = []
        self._formats: dict[tuple[int, int], str] = {}
        self._status: dict[str, str] = {}
        self.stopped: str | None = None  # why collect() stopped: "Ctrl-C", "SIGTERM", "after 10 s"

    @property
    def streams(self) -> int:
        """The numbers that got rows."""
        return sum(1 for n in self._numbers if n.rows)

    @property
    def nodes(self) -> int:
        return len({n.node for n in self._numbers if n.rows})

    def _number(self, node: str, port: int, info: dict[str, Any] | None) -> _Number:
        number = _Number(len(self._numbers) + 1, node, port, info.get("start") if info else None, info)
        self._numbers.append(number)
        self._current[(node, port)] = number
        return number

    def header(self, subscription: Subscription, blocks: list[Block]) -> str:
        """The header with every stream the subscription knows of so far or that has a block among blocks."""
        for node, port in subscription.streams + [(b.node, b.port) for b in blocks]:
            if (node, port) not in self._current:
                self._number(node, port, subscription.infos.get((node, port)))
        infos = [n.info for n in self._numbers if n.info]
        kinds = {i.get("values") for i in infos} | {"normalised" if b.normalised else "display" for b in blocks}
        kinds &= {"display", "normalised"}
        libraries = {str(i.get("library")) for i in infos if i.get("library")}
        text = [f"# kolmrec {FORMAT_VERSION}\n", f"# collector: pekolm {self.version}\n",
                f"# start: {iso_utc(self.start)}\n"]
        if len(libraries) == 1:
            text.append(f"# library: {libraries.pop()}\n")
        # One kind for the file; a stream of the other kind says so in its "values" line.
        text.append(f"# values: {'normalised' if kinds == {'normalised'} else 'display'}\n")
        text.append(f"# source: {self.source}\n")
        for node, status in subscription.status.items():
            text.append(f"# node {node} status: {status}\n")
        self._status = dict(subscription.status)
        for number in self._numbers:
            text.append(port_lines(number.number, number.node, number.port, number.info))
            number.announced = True
        text.append("port,index,time_s,ch1,ch2,ch3,ch4\n")
        return "".join(text)

    def rows(self, blocks: list[Block], status: dict[str, str]) -> str:
        """The rows of blocks, with the notes and the port lines that go before them, and a note for each
        node whose status changed."""
        out: list[str] = []
        for block in blocks:
            number = self._current[(block.node, block.port)] if (block.node, block.port) in self._current \
                else self._number(block.node, block.port, block.info)
            start = block.info.get("start") if block.info else None
            if number.rows and (block.seq == 0 or (start is not None and start != number.start)):
                # The subscription has dropped repeated blocks: a block 0 after rows is a new recording.
                number = self._number(block.node, block.port, block.info)
            elif block.info is not number.info and block.info != number.info:
                number.info, number.start = block.info, start  # the info came late, or changed
                number.announced = False
            if not number.announced:
                out.append(port_lines(number.number, number.node, number.port, number.info))
                number.announced = True
            if block.missing_blocks or block.missing_samples:
                self.gap_count += 1
                self.gap_blocks += block.missing_blocks
                self.gap_samples += block.missing_samples
                out.append(f"# port {number.number}: values may be missing before index {block.first_index} "
                           f"(estimated {block.missing_samples} lost)\n")
                if block.missing_blocks:
                    out.append(f"# port {number.number}: the publisher dropped {block.missing_blocks} "
                               f"block{'s' if block.missing_blocks != 1 else ''} before index "
                               f"{block.first_index}\n")
            out.append(self._rows(number.number, block))
            number.rows += len(block.index)
            self.samples += len(block.index)
        for node, text in status.items():
            if self._status.get(node) != text:
                out.append(f"# node {node} status: {text}\n")
        self._status = dict(status)
        return "".join(out)

    def _rows(self, number: int, block: Block) -> str:
        n = len(block.index)
        offset = (block.time - self.start) / datetime.timedelta(microseconds=1) / 1e6
        table = np.empty((n, 6))
        table[:, 0] = block.index
        table[:, 1] = offset + np.arange(n) / block.rate_hz
        table[:, 2:] = block.values
        # One format for the block: the C formatter writes every row in one go. %.8g is kolmrec's form.
        form = self._formats.get((number, n))
        if form is None:
            form = self._formats[(number, n)] = f"{number},%d,%.6f,%.8g,%.8g,%.8g,%.8g\n" * n
        return form % tuple(table.ravel().tolist())


def _write(out: TextIO, text: str) -> None:
    out.write(text)
    out.flush()


def collect(subscription: Subscription, out: TextIO, *, source: str, version: str,
            duration: float | None = None, stop: threading.Event | None = None) -> CsvCollector:
    """Writes what the subscription brings into out until `duration` seconds have passed or stop is set
    (Ctrl-C and SIGTERM set it when this runs in the main thread); returns the collector with its counts
    and, in `stopped`, why it stopped. Only whole rows are written: a batch at a time, flushed."""
    stop = stop or threading.Event()
    reason: list[str] = []

    def on_signal(number, frame):
        reason.append("Ctrl-C" if number == signal.SIGINT else signal.Signals(number).name)
        stop.set()

    handlers = {}
    if threading.current_thread() is threading.main_thread():
        for number in (signal.SIGINT, signal.SIGTERM):
            handlers[number] = signal.signal(number, on_signal)
    try:
        start = datetime.datetime.now(datetime.timezone.utc)
        began = time.monotonic()
        end = None if duration is None else began + duration
        collector = CsvCollector(start, source, version)
        # The header waits for the retained infos; the blocks meanwhile are held back for after it.
        waiting: list[Block] = []
        known = -1
        quiet_since = began
        while not stop.is_set() and time.monotonic() - began < HEADER_WAIT:
            if end is not None and time.monotonic() >= end:
                break
            waiting += subscription.poll(0.05)
            seen = len(subscription.infos) + len(subscription.status)
            if seen != known:
                known, quiet_since = seen, time.monotonic()
            elif time.monotonic() - quiet_since >= HEADER_QUIET:
                break
        _write(out, collector.header(subscription, waiting))
        if waiting:
            _write(out, collector.rows(waiting, subscription.status))
        while not stop.is_set():
            wait = _TICK
            if end is not None:
                left = end - time.monotonic()
                if left <= 0:
                    reason.append(f"after {duration:g} s")
                    break
                wait = min(wait, left)
            blocks = subscription.poll(wait)
            if blocks or subscription.status != collector._status:
                _write(out, collector.rows(blocks, subscription.status))
        collector.stopped = reason[0] if reason else "asked to"
        _write(out, f"# stopped: {collector.stopped}\n")
        return collector
    finally:
        for number, handler in handlers.items():
            signal.signal(number, handler)


def summary(collector: CsvCollector, subscription: Subscription, seconds: float, destination: str) -> str:
    """One line: how much came, from how many streams and nodes, and what was missing or skipped."""
    def count(n: int, word: str) -> str:
        return f"{n} {word}{'' if n == 1 else 's'}"

    gaps = count(collector.gap_count, "gap")
    if collector.gap_count:
        gaps += f" ({count(collector.gap_blocks, 'block')} dropped, {count(collector.gap_samples, 'sample')} missing)"
    return (f"{count(collector.samples, 'sample')} from {count(collector.streams, 'stream')} of "
            f"{count(collector.nodes, 'node')} in {seconds:.1f} s into {destination}, "
            f"{count(subscription.duplicates, 'duplicate')} skipped, {gaps}, "
            f"{count(subscription.skipped, 'message')} skipped")


def main(arguments, me: str, version: str) -> int:
    """The collect command, with argparse's arguments; returns the exit status (0, 1 failure, 2 bad
    command line, 3 values missing)."""
    from .mqtt import MqttError, MqttUrlError, parse_url, subscribe

    def fail(message: object, status: int = 1) -> int:
        print(f"{me}: {_one_line(message)}", file=sys.stderr)
        return status

    try:
        url = parse_url(arguments.url)
    except MqttUrlError as error:
        return fail(error, 2)
    if arguments.duration is not None and not arguments.duration > 0:
        return fail(f"--duration must be a positive number of seconds, not {arguments.duration:g}", 2)
    if arguments.key and not arguments.cert:
        return fail("--key needs --cert", 2)
    if arguments.session and not arguments.client_id:
        return fail("--session needs --client-id", 2)
    stop = threading.Event()
    try:
        subscription = subscribe(arguments.url, username=arguments.user, password_file=arguments.password_file,
                                 ca_file=arguments.ca, cert_file=arguments.cert, key_file=arguments.key,
                                 client_id=arguments.client_id, session=arguments.session)
    except MqttError as error:
        return fail(error)
    except KeyboardInterrupt:
        return fail("interrupted", 130)
    began = time.monotonic()
    with subscription:
        try:
            out = sys.stdout if arguments.output == "-" else open(arguments.output, "w", encoding="utf-8",
                                                                   newline="")
        except OSError as error:
            return fail(f"{arguments.output}: {error.strerror or error}")
        destination = "standard output" if out is sys.stdout else arguments.output
        try:
            if not arguments.quiet:
                print(f"{me}: collecting {url} into {destination}; Ctrl-C ends", file=sys.stderr)
            collector = collect(subscription, out, source=str(url), version=version,
                                   duration=arguments.duration, stop=stop)
            if out is not sys.stdout:
                out.close()
        except OSError as error:
            return fail(f"{destination}: writing failed: {error.strerror or error}")
    if not arguments.quiet:
        print(f"{me}: {summary(collector, subscription, time.monotonic() - began, destination)}", file=sys.stderr)
    return 3 if collector.gap_count else 0
