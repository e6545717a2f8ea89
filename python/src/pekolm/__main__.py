"""python3 -m pekolm plot FILE.csv [-o FILE.png]: draws a kolmrec recording."""

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


def main(argv: list[str] | None = None) -> int:
    """The command line (argv without the program's name; default sys.argv[1:]); returns the exit status:
    0, 1 for a failure (one line on stderr), 2 for a bad command line."""
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
    arguments = parser.parse_args(argv)
    me = f"{parser.prog} plot"

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
