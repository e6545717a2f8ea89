"""Reading kolmrec files and drawing them, on small hand-written recordings."""

import subprocess
import sys
import warnings

import numpy as np
import pytest

import pekolm
from pekolm.plot import channel_label, plot_recording

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
    ("display", ["channel 1 (kg, N,m)", "channel 2 (kg, µm/m)", "channel 3 (g)", "channel 4 (°C, N)"]),
    ("normalised", ["channel 1 (normalised)", "channel 2 (normalised)"]),
])
def test_axes_carry_the_units_of_display_values_only(recording_file, kind, labels):
    recording = pekolm.read_recording(recording_file)
    recording.values_kind = kind
    assert [channel_label(recording, c) for c in range(1, len(labels) + 1)] == labels
    figure = plot_recording(recording)
    assert figure.axes[0].get_ylabel() == labels[0]
    assert [t.get_text() for t in figure.axes[0].get_legend().get_texts()] == ["port 1 (00012345)",
                                                                               "port 3 (00067890)"]


def test_texts_of_the_file_and_the_title_are_drawn_as_they_stand(tmp_path):
    from matplotlib.text import Text

    path = tmp_path / "tex.csv"
    path.write_text(RECORDING.replace("00012345", TEX).replace("kg,kg,g", f"{TEX},kg,$x_1$"), encoding="utf-8")
    figure = plot_recording(pekolm.read_recording(path), tmp_path / "tex.png", title=TEX)
    texts = [t for t in figure.findobj(Text) if "$" in t.get_text()]
    assert sorted(t.get_text() for t in texts) == sorted([TEX, f"port 1 ({TEX})", f"channel 1 ({TEX}, N,m)",
                                                          "channel 3 ($x_1$)"])
    assert not any(t.get_parse_math() or t.get_usetex() for t in texts)


def test_plot_command_writes_a_png(recording_file, tmp_path):
    image = tmp_path / "run.png"
    done = subprocess.run([sys.executable, "-m", "pekolm", "plot", str(recording_file), "-o", str(image)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert image.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


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
