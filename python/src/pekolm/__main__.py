"""python3 -m pekolm plot FILE.csv [-o FILE.png]: draws a kolmrec recording.
python3 -m pekolm scan [--probe] [--json]: the serial ports and the amplifiers on them, through kolmscan.
python3 -m pekolm collect URL -o FILE.csv: the values kolmrec publishes to an MQTT broker, into one file."""

from __future__ import annotations

import argparse
import os
import sys
import warnings

from . import __version__
from .recording import RecordingFormatError, read_recording


def _one_line(text: object) -> str:
    # Messages of matplotlib's parsers and the like span lines; on stderr each report is one line.
    return " ".join(str(text).split())


def _program_name() -> str:
    # The installed script is called as itself; "python3 -m pekolm" runs this file as __main__.py.
    name = os.path.basename(sys.argv[0]) if sys.argv and sys.argv[0] else ""
    return "python3 -m pekolm" if name in ("", "__main__.py", "-c") else name


def _found(port) -> str:
    if port.probe == "amplifier":
        rate = f"{port.rate_hz:g} Hz" if port.rate_hz is not None else "rate unknown"
        return (f"amplifier {port.serial_number or '?'}, firmware {port.firmware}, {port.baud} baud, {rate}, "
                f"mode {port.mode}")
    return port.note or port.probe or "-"


def _table(ports, probed: bool) -> str:
    """One line per port: its number, the device (and where a link leads), what the system knows of it and
    what the probe found."""
    rows = [["PORT", "DEVICE", "DESCRIPTION"] + (["FOUND"] if probed else [])]
    for port in ports:
        usb = " ".join(part for part in (port.manufacturer, port.product) if part)
        known = [port.driver, port.vid_pid, usb, f"serial {port.serial}" if port.serial else None]
        rows.append(["-" if port.port is None else str(port.port),
                     port.device + (f" -> {port.target}" if port.target else ""),
                     ", ".join(part for part in known if part) or "-"] + ([_found(port)] if probed else []))
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    return "".join("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() + "\n"
                   for row in rows)


def _scan(arguments, me: str) -> int:
    # kolmscan's exit statuses: 0 found (or listed), 1 --probe found no amplifier, 2 failed.
    from .scanner import EXIT_ERROR, KolmscanError, ProbedPort, SerialPort, _parse, run_kolmscan

    options = ["--probe"] * arguments.probe + ["--json"]
    for device in arguments.device or ():
        options += ["--device", device]
    try:
        text, status = run_kolmscan(options)
        if arguments.json:
            sys.stdout.write(text)  # as kolmscan wrote it, for a program to read
        else:
            ports = _parse(text, status, ProbedPort if arguments.probe else SerialPort,
                           "kolmscan " + " ".join(options))
            sys.stdout.write(_table(ports, arguments.probe))
    except KolmscanError as error:
        print(f"{me}: {_one_line(error)}", file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        print(f"{me}: interrupted", file=sys.stderr)
        return 130
    return status


def main(argv: list[str] | None = None) -> int:
    """The command line (argv without the program's name; default sys.argv[1:]); returns the exit status:
    for plot 0, 1 for a failure (one line on stderr), 2 for a bad command line; for scan kolmscan's: 0, 1
    when --probe found no amplifier, 2 for a failure; for collect those of plot and 3 when values are
    missing."""
    parser = argparse.ArgumentParser(prog=_program_name(), description="Tools for pekolm amplifiers.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    plot = commands.add_parser("plot", help="draw a kolmrec recording into an image",
                               description="Draws the four channels of a kolmrec recording over time, one "
                                           "panel per channel and one line per port.")
    plot.add_argument("file", help="the recording (CSV, as kolmrec writes it)")
    plot.add_argument("-o", "--output", help="the image to write; its suffix picks the format (default: FILE "
                                             "with the suffix .png)")
    plot.add_argument("--title", help="the figure's title, shown as it stands (default: the file's name and "
                                      "start)")
    scan = commands.add_parser("scan", help="list the serial ports and find the amplifiers on them",
                               description="Lists the serial ports with their port numbers for the library, "
                                           "as the program kolmscan finds them ($PEKOLM_KOLMSCAN, else on "
                                           "PATH; package pekolm-tools). Exit status: 0, 1 when --probe "
                                           "found no amplifier, 2 when kolmscan failed.")
    scan.add_argument("--probe", action="store_true",
                      help="ask each port whether an amplifier answers (the ports side by side; about 40 s "
                           "for a silent one)")
    scan.add_argument("--device", action="append", metavar="PATH",
                      help="only this device, listed or not (repeat for more)")
    scan.add_argument("--json", action="store_true", help="print kolmscan's JSON array instead of the table")
    collect = commands.add_parser(
        "collect", help="write the values kolmrec publishes to an MQTT broker into a recording",
        description="Subscribes to everything below the URL's topic prefix and writes the blocks of every "
                    "node and port into one CSV file as kolmrec writes its recordings (a port number of "
                    "its own per node, port and recording, its header lines naming them). Ends on Ctrl-C, SIGTERM or after "
                    "--duration. The password comes from --password-file, else the URL, else "
                    "$PEKOLM_MQTT_PASSWORD. Exit status: 0, 1 for a failure, 2 for a bad command line, 3 "
                    "when values are missing.")
    collect.add_argument("url", metavar="URL", help="mqtt://[user[:password]@]host[:port]/prefix, or mqtts:// "
                                                    "for TLS (ports 1883 and 8883)")
    collect.add_argument("-o", "--output", required=True, metavar="FILE",
                         help="the recording to write (CSV; - for standard output)")
    collect.add_argument("--duration", type=float, metavar="SECONDS", help="stop after this long")
    collect.add_argument("--user", metavar="NAME", help="the user name (default: the URL's)")
    collect.add_argument("--password-file", metavar="FILE", help="a file whose first line is the password")
    collect.add_argument("--ca", metavar="FILE", help="the CA certificates (PEM) to check the broker's "
                                                      "against (default: the system's)")
    collect.add_argument("--cert", metavar="FILE", help="a client certificate (PEM) to present")
    collect.add_argument("--key", metavar="FILE", help="the client certificate's key (default: in --cert)")
    collect.add_argument("--client-id", metavar="ID", help="the MQTT client id (default: a random one)")
    collect.add_argument("--session", action="store_true",
                         help="a persistent session (needs --client-id): the broker keeps the subscription "
                              "and queues the blocks while the collector is away")
    collect.add_argument("--quiet", action="store_true", help="no start and summary lines")
    arguments = parser.parse_args(argv)
    me = f"{parser.prog} {arguments.command}"
    if arguments.command == "scan":
        return _scan(arguments, me)
    if arguments.command == "collect":
        from .collector import main as collect_main

        return collect_main(arguments, me, __version__)

    def warn(message, category, filename, lineno, file=None, line=None):
        # A warning (a cut last row, a character the font lacks) is news for the user, not a source line.
        print(f"{me}: warning: {_one_line(message)}", file=sys.stderr)

    output = arguments.output or os.path.splitext(arguments.file)[0] + ".png"
    stage = f"{arguments.file}: reading failed"
    try:
        with warnings.catch_warnings():
            warnings.showwarning = warn
            # numpy's, from inside matplotlib on absurd data ("overflow encountered"), tell a user nothing.
            warnings.simplefilter("ignore", RuntimeWarning)
            from .plot import image_formats, plot_recording

            # Before the reading, which can take long; matplotlib would find out only when saving.
            suffix = os.path.splitext(output)[1][1:].lower()
            if suffix and suffix not in image_formats():
                print(f"{me}: {output}: unknown image format '{suffix}' (known: "
                      f"{', '.join(sorted(image_formats()))})", file=sys.stderr)
                return 1
            recording = read_recording(arguments.file)
            stage = f"{output}: drawing failed"
            plot_recording(recording, output, title=arguments.title)
    except (RecordingFormatError, OSError) as error:
        print(f"{me}: {_one_line(error)}", file=sys.stderr)
        return 1
    except ImportError as error:
        print(f"{me}: needs matplotlib ({_one_line(error)})", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{me}: interrupted", file=sys.stderr)
        return 130
    except Exception as error:
        # Whatever else matplotlib or numpy raise (a parser, a locator on absurd data): one line all the same.
        print(f"{me}: {stage}: {type(error).__name__}: {_one_line(error)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
