"""Draws a recording: one panel per channel over time, one line per port and an axis per unit. Needs
matplotlib, no display."""

from __future__ import annotations

import os

from .recording import Recording

__all__ = ["channel_label", "channel_units", "image_formats", "plot_recording"]


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


def channel_units(recording: Recording, channel: int) -> dict[str, list[int]]:
    """The ports of channel 1..4 by the unit of their display values, in the order of the ports: each unit
    gets an axis of its own. Normalised values, and ports whose units are not known, share one ("")."""
    groups: dict[str, list[int]] = {}
    for port in recording.port_numbers:
        unit = ""
        if recording.values_kind != "normalised":
            info = recording.ports.get(port)
            if info and info.units and len(info.units) >= channel:
                unit = _unit(info.units[channel - 1])
        groups.setdefault(unit, []).append(port)
    return groups


def channel_label(recording: Recording, channel: int, unit: str = "") -> str:
    """The y label of channel 1..4 on the axis of `unit`: "normalised" for normalised values."""
    label = f"channel {channel}"
    if recording.values_kind == "normalised":
        return f"{label} (normalised)"
    return f"{label} ({unit})" if unit else label


def _port_label(recording: Recording, port: int) -> str:
    info = recording.ports.get(port)
    serial = info.serial_number if info else None
    name = f"port {port}"
    # A collected file's number is one of its own; the node and its port say which amplifier it is.
    if info and info.header.get("node") and info.header.get("node port"):
        name = f"{info.header['node']} com{info.header['node port']}"
    return f"{name} ({serial})" if serial else name


def _broken_at_gaps(recording: Recording, port: int):
    """(time, values) of the port with a row of nan before every gap, so that no line bridges it, and the
    (start, end) times of the gaps: from the last row before to the first row after."""
    import numpy as np

    rows = recording.port == port
    time, values, index = recording.time[rows], recording.values[rows], recording.index[rows]
    spans, cuts = [], []
    for gap in recording.gaps:
        if gap.port != port:
            continue
        at = int(np.searchsorted(index, gap.index))  # the rows of a port come in order
        if 0 < at < len(index):
            cuts.append(at)
            spans.append((time[at - 1], time[at]))
    if cuts:
        time = np.insert(time, cuts, np.nan)
        values = np.insert(values, cuts, np.nan, axis=0)
    return time, values, spans


def plot_recording(recording: Recording, output: str | os.PathLike | None = None, *, title: str | None = None,
                   dpi: int = 100):
    """Draws the recording into a new matplotlib Figure, saves it to output when given (the format follows
    its suffix: .png, .svg, .pdf, ...) and returns the figure. Each channel gets a panel with an axis per
    unit of its ports' values; a port's line breaks where values may be missing, and the place is shaded.
    The title and the file's texts (units, serial numbers) are drawn as they stand, "$" and "\\" included."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    # A bare Figure on the Agg canvas: no pyplot, so no GUI backend and no global state.
    figure = Figure(figsize=(11, 8.5), layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(4, 1, sharex=True, squeeze=False)[:, 0]
    ports = recording.port_numbers
    colours = {port: f"C{k % 10}" for k, port in enumerate(ports)}
    drawn = {port: _broken_at_gaps(recording, port) for port in ports}
    for channel, ax in enumerate(axes, start=1):
        for k, (unit, unit_ports) in enumerate(channel_units(recording, channel).items() or [("", [])]):
            unit_ax = ax
            if k > 0:
                # Further units on axes of their own at the right, each beside the one before.
                unit_ax = ax.twinx()
                unit_ax.spines.right.set_position(("axes", 1 + 0.08 * (k - 1)))
            for port in unit_ports:
                time, values, _ = drawn[port]
                unit_ax.plot(time, values[:, channel - 1], linewidth=0.8, color=colours[port])
            unit_ax.set_ylabel(channel_label(recording, channel, unit), **_LITERAL)
        for port in ports:
            for start, end in drawn[port][2]:
                ax.axvspan(start, end, color=colours[port], alpha=0.25, linewidth=0)
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("time (s)")
    if ports:
        handles = [Line2D([], [], color=colours[port], label=_port_label(recording, port)) for port in ports]
        if any(drawn[port][2] for port in ports):
            handles.append(Patch(color="grey", alpha=0.25, label="values missing"))
        # Above the panels, where it hides no trace.
        legend = axes[0].legend(handles=handles, loc="lower left", bbox_to_anchor=(0, 1.02), ncol=len(handles),
                                borderaxespad=0, frameon=False, fontsize="small")
        for text in legend.get_texts():
            text.set(**_LITERAL)
    if title is None:
        title = os.path.basename(recording.path)
        if recording.start:
            title += f", started {recording.start.isoformat(sep=' ', timespec='seconds')}"
    figure.suptitle(title, **_LITERAL)
    if output is not None:
        figure.savefig(output, dpi=dpi)
    return figure
