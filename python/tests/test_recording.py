"""Reading kolmrec files and drawing them, on small hand-written recordings."""

import subprocess
import sys
import warnings

import numpy as np
import pytest

import pekolm
from pekolm.plot import channel_label, channel_units, plot_recording

TEX = r"$\frac{$"  # mathtext would fail on it, and draw "$x_1$" as a formula

RECORDING = """\
# kolmrec 1.9
# start: 2026-12-08T08:15:02.123+01:00
# library: 1.9
# values: display
# a key from a later kolmrec: ignored
# port 1 baud: 115200
# port 1 serial number: 00012345
# port 1 firmware version: 12
# port 1 data rate: 25 Hz
# port 1 display norms: 1,1,,2.5
# port 1 units: kg,kg,g,°C
# port 3 baud: 230400
# port 3 serial number: 00067890
# port 3 firmware version: 10
# port 3 data rate: 0.625 Hz
# port 3 display norms: 1,1,1,1
# port 3 units: "N,m",µm/m, ,N
port,index,time_s,ch1,ch2,ch3,ch4
1,0,0.000000,0.0123456,-0.00031,1.0001,0.5
1,1,0.040000,0.0123457,-0.00032,1.0002,0.6
3,0,0.000000,0.1,0.2,0.3,0.4
# port 1: values may be missing before index 2
1,2,0.080000,0.0123458,-0.00033,1.0003,0.7
# stopped: Ctrl-C
"""


@pytest.fixture
def recording_file(tmp_path):
    path = tmp_path / "run.csv"
    path.write_text(RECORDING, encoding="utf-8")
    return path


def test_reads_header_and_rows(recording_file):
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a whole file is read without a word
        recording = pekolm.read_recording(recording_file)
    assert (recording.format_version, recording.library, recording.values_kind) == ("1.9", "1.9", "display")
    assert recording.start.isoformat() == "2026-12-08T08:15:02.123000+01:00"
    assert sorted(recording.ports) == [1, 3]
    first, third = recording.ports[1], recording.ports[3]
    assert (first.baud, first.serial_number, first.firmware_version, first.rate_hz) == (115200, "00012345", 12, 25.0)
    assert first.norms == (1.0, 1.0, None, 2.5)
    assert first.units == ("kg", "kg", "g", "°C") and third.units == ("N,m", "µm/m", " ", "N")
    assert third.rate_hz == 0.625
    assert recording.port.tolist() == [1, 1, 3, 1] and recording.index.tolist() == [0, 1, 0, 2]
    assert recording.values.shape == (4, 4)
    time, values = recording.of_port(1)
    np.testing.assert_allclose(time, [0.0, 0.04, 0.08])
    np.testing.assert_allclose(values[:, 3], [0.5, 0.6, 0.7])
    assert recording.of_port(3)[1].tolist() == [[0.1, 0.2, 0.3, 0.4]]
    assert recording.notes == ["port 1: values may be missing before index 2", "stopped: Ctrl-C"]


@pytest.mark.parametrize("content, says", [
    (b"", "does not begin"),
    (b"port,index,time_s,ch1,ch2,ch3,ch4\n1,0,0,0,0,0,0\n", "does not begin"),
    (b"\x89PNG\r\n\x1a\n\xff\xfe", "not UTF-8"),
    (b"# kolmrec 1.9\n# values: display\n", "no column line"),
    (b"# kolmrec 1.9\ntime,a,b\n", "column line"),
    (b"# kolmrec 1.9\nport,index,time_s,ch1,ch2,ch3,ch4\n1,0,0.0,x,0,0,0\n", "not one of numbers"),
    (b"# kolmrec 1.9\nport,index,time_s,ch1,ch2,ch3,ch4\n1.5,0,0.0,0,0,0,0\n", "port is not a whole number: 1.5"),
])
def test_what_is_not_a_recording_says_so(tmp_path, content, says):
    path = tmp_path / "other.csv"
    path.write_bytes(content)
    with pytest.raises(pekolm.RecordingFormatError, match=says) as raised:
        pekolm.read_recording(path)
    assert str(path) in str(raised.value)


@pytest.mark.parametrize("end, says", [
    ("1,3,0.120000,0.0123", "no line end"),  # read while being written, or cut by a second Ctrl-C
    ("1,3,0.12\n", "fewer than 7 fields"),
])
def test_an_incomplete_last_row_is_left_out(tmp_path, end, says):
    path = tmp_path / "cut.csv"
    path.write_text(RECORDING[: RECORDING.index("# stopped")] + end, encoding="utf-8")
    with pytest.warns(UserWarning, match=says):
        recording = pekolm.read_recording(path)
    assert recording.index.tolist() == [0, 1, 0, 2]


def test_a_recording_without_rows(tmp_path):
    path = tmp_path / "empty.csv"
    path.write_text("# kolmrec 1.9\n# values: normalised\nport,index,time_s,ch1,ch2,ch3,ch4\n")
    recording = pekolm.read_recording(path)
    assert recording.values.shape == (0, 4) and recording.port.shape == (0,)


@pytest.mark.parametrize("kind, labels", [
    ("display", [["channel 1 (kg)", "channel 1 (N,m)"], ["channel 2 (kg)", "channel 2 (µm/m)"],
                 ["channel 3 (g)", "channel 3"], ["channel 4 (°C)", "channel 4 (N)"]]),
    ("normalised", [["channel 1 (normalised)"], ["channel 2 (normalised)"], ["channel 3 (normalised)"],
                    ["channel 4 (normalised)"]]),
])
def test_each_unit_of_a_channel_gets_its_own_axis(recording_file, kind, labels):
    recording = pekolm.read_recording(recording_file)
    recording.values_kind = kind
    assert [[channel_label(recording, c, unit) for unit in channel_units(recording, c)]
            for c in range(1, 5)] == labels
    figure = plot_recording(recording)
    panels = {}  # the axes of a panel share its place
    for ax in figure.axes:
        panels.setdefault(round(ax.get_position().y0, 4), []).append(ax.get_ylabel())
    assert [panels[y] for y in sorted(panels, reverse=True)] == labels
    legend = figure.axes[0].get_legend()
    assert [t.get_text() for t in legend.get_texts()] == ["port 1 (00012345)", "port 3 (00067890)", "values missing"]


def test_gaps_come_as_data_and_the_plot_breaks_the_line_there(tmp_path, recording_file):
    path = tmp_path / "gap.csv"
    path.write_text("""\
# kolmrec 1.9
# values: display
# port 1 data rate: 2 Hz
# port 1 units: kg,kg,kg,kg
# port 2 data rate: 2 Hz
# port 2 units: N,kg,kg,kg
port,index,time_s,ch1,ch2,ch3,ch4,host_s
1,0,0.000000,1,1,1,1,0.020000
2,0,0.000000,5,5,5,5,0.020000
1,1,0.500000,2,2,2,2,0.520000
# port 1: values may be missing before index 5 (estimated 3 lost)
1,5,2.500000,3,3,3,3,2.540000
1,6,3.000000,4,4,4,4,3.020000
""", encoding="utf-8")
    recording = pekolm.read_recording(path)
    assert recording.gaps == [pekolm.Gap(port=1, index=5, lost=3)]
    assert recording.index.tolist() == [0, 0, 1, 5, 6]
    np.testing.assert_allclose(recording.host_time, [0.02, 0.02, 0.52, 2.54, 3.02])
    # A file of an earlier kolmrec: the place, but no estimate and no host time.
    older = pekolm.read_recording(recording_file)
    assert older.gaps == [pekolm.Gap(port=1, index=2, lost=None)] and older.host_time is None
    assert older.notes[0] == "port 1: values may be missing before index 2"

    figure = plot_recording(recording)
    first = figure.axes[0]
    assert [ax.get_ylabel() for ax in figure.axes if ax.get_position().y0 == first.get_position().y0] == [
        "channel 1 (kg)", "channel 1 (N)"]
    line = first.get_lines()[0]
    assert np.isnan(line.get_xdata()).tolist() == [False, False, True, False, False]
    [span] = first.patches
    np.testing.assert_allclose(span.get_xy()[:, 0].min(), 0.5)
    np.testing.assert_allclose(span.get_xy()[:, 0].max(), 2.5)


def test_texts_of_the_file_and_the_title_are_drawn_as_they_stand(tmp_path):
    from matplotlib.text import Text

    path = tmp_path / "tex.csv"
    path.write_text(RECORDING.replace("00012345", TEX).replace("kg,kg,g", f"{TEX},kg,$x_1$"), encoding="utf-8")
    figure = plot_recording(pekolm.read_recording(path), tmp_path / "tex.png", title=TEX)
    texts = [t for t in figure.findobj(Text) if "$" in t.get_text()]
    assert sorted(t.get_text() for t in texts) == sorted([TEX, f"port 1 ({TEX})", f"channel 1 ({TEX})",
                                                          "channel 3 ($x_1$)"])
    assert not any(t.get_parse_math() or t.get_usetex() for t in texts)


def test_plot_command_writes_a_png(recording_file, tmp_path):
    image = tmp_path / "run.png"
    done = subprocess.run([sys.executable, "-m", "pekolm", "plot", str(recording_file), "-o", str(image)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert image.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    version = subprocess.run([sys.executable, "-m", "pekolm", "--version"], capture_output=True, text=True)
    assert (version.returncode, version.stdout) == (0, f"python3 -m pekolm {pekolm.__version__}\n")


@pytest.mark.parametrize("arguments, says", [
    (["notes.txt"], "notes.txt is not a kolmrec recording"),
    (["run.csv", "-o", "run.xyz"], "run.xyz: unknown image format 'xyz'"),
    (["huge.csv"], "huge.png: drawing failed: "),  # matplotlib's tick locator gives up on the time span
])
def test_plot_command_failures_take_one_line(recording_file, arguments, says):
    (recording_file.parent / "notes.txt").write_text("shopping list\n")
    (recording_file.parent / "huge.csv").write_text("# kolmrec 1.9\nport,index,time_s,ch1,ch2,ch3,ch4\n"
                                                    "1,0,-1e308,0,0,0,0\n1,1,1e308,0,0,0,0\n")
    done = subprocess.run([sys.executable, "-m", "pekolm", "plot", *arguments], cwd=recording_file.parent,
                          capture_output=True, text=True)
    assert done.returncode == 1
    assert says in done.stderr and len(done.stderr.splitlines()) == 1, done.stderr
