"""Draws a recording: one panel per channel over time, one line per port. Needs matplotlib, no display."""

from __future__ import annotations

import os

from .recording import Recording

__all__ = ["channel_label", "image_formats", "plot_recording"]


def image_formats() -> set[str]:
    """The file suffixes (without the dot) whose formats plot_recording can write: png, svg, pdf, ..."""
    from matplotlib.backend_bases import FigureCanvasBase

    return set(FigureCanvasBase.get_supported_filetypes())


# Texts of the file and of the caller are shown as they stand: mathtext would take "$...$" for a formula
# (and fail on an odd "$"), TeX every "_", "%" and "#".
_LITERAL = {"parse_math": False, "usetex": False}


def _unit(text: str | None) -> str:
    # Unit 7 of the table is a single space: no unit.
    return (text or "").strip()


def channel_label(recording: Recording, channel: int) -> str:
    """The y label of channel 1..4: its unit(s) for display values, "normalised" for normalised ones."""
    label = f"channel {channel}"
    if recording.values_kind == "normalised":
        return f"{label} (normalised)"
    units = []
    for port in recording.port_numbers:
        info = recording.ports.get(port)
        if info and info.units and len(info.units) >= channel:
            unit = _unit(info.units[channel - 1])
            if unit and unit not in units:
                units.append(unit)
    return f"{label} ({', '.join(units)})" if units else label


def _port_label(recording: Recording, port: int) -> str:
    info = recording.ports.get(port)
    serial = info.serial_number if info else None
    return f"port {port} ({serial})" if serial else f"port {port}"


def plot_recording(recording: Recording, output: str | os.PathLike | None = None, *, title: str | None = None,
                   dpi: int = 100):
    """Draws the recording into a new matplotlib Figure, saves it to output when given (the format follows
    its suffix: .png, .svg, .pdf, ...) and returns the figure. The title and the file's texts (units,
    serial numbers) are drawn as they stand, "$" and "\\" included."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    # A bare Figure on the Agg canvas: no pyplot, so no GUI backend and no global state.
    figure = Figure(figsize=(11, 8.5), layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(4, 1, sharex=True, squeeze=False)[:, 0]
    ports = recording.port_numbers
    for channel, ax in enumerate(axes, start=1):
        for port in ports:
            time, values = recording.of_port(port)
            ax.plot(time, values[:, channel - 1], linewidth=0.8, label=_port_label(recording, port))
        ax.set_ylabel(channel_label(recording, channel), **_LITERAL)
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("time (s)")
    if ports:
        for text in axes[0].legend(loc="upper right", fontsize="small").get_texts():
            text.set(**_LITERAL)
    if title is None:
        title = os.path.basename(recording.path)
        if recording.start:
            title += f", started {recording.start.isoformat(sep=' ', timespec='seconds')}"
    figure.suptitle(title, **_LITERAL)
    if output is not None:
        figure.savefig(output, dpi=dpi)
    return figure
