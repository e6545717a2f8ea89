"""python3 -m pekolm plot FILE.csv [-o FILE.png]: draws a kolmrec recording."""

from __future__ import annotations

import argparse
import os
import sys

from .recording import RecordingFormatError, read_recording


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m pekolm", description="Tools for pekolm amplifiers.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    plot = commands.add_parser("plot", help="draw a kolmrec recording into an image",
                               description="Draws the four channels of a kolmrec recording over time, one "
                                           "panel per channel and one line per port.")
    plot.add_argument("file", help="the recording (CSV, as kolmrec writes it)")
    plot.add_argument("-o", "--output", help="the image to write; its suffix picks the format (default: FILE "
                                             "with the suffix .png)")
    plot.add_argument("--title", help="the figure's title (default: the file's name and start)")
    arguments = parser.parse_args(argv)

    output = arguments.output or os.path.splitext(arguments.file)[0] + ".png"
    try:
        from .plot import image_formats, plot_recording

        # Before the reading, which can take long; matplotlib would find out only when saving.
        suffix = os.path.splitext(output)[1][1:].lower()
        if suffix and suffix not in image_formats():
            print(f"{parser.prog} plot: {output}: unknown image format '{suffix}' (known: "
                  f"{', '.join(sorted(image_formats()))})", file=sys.stderr)
            return 1
        recording = read_recording(arguments.file)
        plot_recording(recording, output, title=arguments.title)
    except (RecordingFormatError, OSError) as error:
        print(f"{parser.prog} plot: {error}", file=sys.stderr)
        return 1
    except ImportError as error:
        print(f"{parser.prog} plot: needs matplotlib ({error})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
