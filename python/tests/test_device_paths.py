"""Amplifier by device path: the private folder of com<n> links, numbers that keep their devices beside
paths, and open errors that name the device and how the number maps."""

import os
import pathlib

import pytest

import pekolm
from pekolm import _ports


def _links():
    return sorted(os.listdir(_ports.folder.path)) if _ports.folder.path else []


@pytest.mark.parametrize("given", [str, pathlib.Path, "relative"])
def test_a_device_path_opens_its_amplifier(simulated, monkeypatch, given):
    link = simulated(5)
    if given == "relative":
        monkeypatch.chdir(link.parent)
        path = link.name  # linked as an absolute path, or the link would lead nowhere from the folder
    else:
        path = given(link)
    amp = pekolm.Amplifier(path, 115200)
    assert amp.device == str(link) and amp.port is None and str(link) in repr(amp)
    with amp:
        assert amp.serial_number == "00000005"
        assert 1 <= amp.port <= 255 and f"as port {amp.port}" in repr(amp)
        assert os.environ["PEKOLM_PORT_DIR"] == _ports.folder.path
        assert os.readlink(os.path.join(_ports.folder.path, f"com{amp.port}")) == str(link)
        others = set(_links()) - {f"com{amp.port}"}  # those of the ports open by number
    assert amp.port is None and set(_links()) == others
    # Closed, it reaches no port, not even the number it was lent.
    with pytest.raises(pekolm.PekolmError) as raised:
        amp.mode
    assert raised.value.name == "bad_port"


@pytest.mark.parametrize("order", ["path first", "number first", "relative PEKOLM_PORT_DIR"])
def test_numbers_keep_their_device_beside_paths(simulated, monkeypatch, order):
    by_path, by_number = simulated(5), simulated(6)
    monkeypatch.setenv("PEKOLM_PORT_DIR", str(by_number.parent))
    if order.startswith("relative"):
        monkeypatch.chdir(by_number.parent.parent)
        monkeypatch.setenv("PEKOLM_PORT_DIR", by_number.parent.name)  # the link must not lead nowhere
    path_amp, number_amp = pekolm.Amplifier(by_path), pekolm.Amplifier(6)
    first, second = (path_amp, number_amp) if order == "path first" else (number_amp, path_amp)
    with first, second:
        if order == "number first":
            # Opened before the folder took over: its number must lead to the same device when opened again.
            assert os.readlink(os.path.join(_ports.folder.path, "com6")) == str(by_number)
            number_amp.close()
            number_amp.open()
        assert (path_amp.serial_number, number_amp.serial_number) == ("00000005", "00000006")
        assert number_amp.device == str(by_number) and path_amp.port != 6
        others = set(_links()) - {f"com{path_amp.port}", "com6"}
    assert os.environ["PEKOLM_PORT_DIR"] == _ports.folder.path and set(_links()) == others


def _number_under_port_dir(tmp_path, monkeypatch):
    monkeypatch.setenv("PEKOLM_PORT_DIR", str(tmp_path))
    return 7, f"{tmp_path}/com7", f"port 7 is $PEKOLM_PORT_DIR/com7, PEKOLM_PORT_DIR being {tmp_path}"


def _number_after_a_path(tmp_path, monkeypatch):
    monkeypatch.setenv("PEKOLM_PORT_DIR", str(tmp_path))
    with pytest.raises(pekolm.PekolmError):
        pekolm.Amplifier(tmp_path / "gone").open()  # the folder takes over PEKOLM_PORT_DIR all the same
    return 7, f"{_ports.folder.path}/com7 -> {tmp_path}/com7", f"PEKOLM_PORT_DIR being {tmp_path}"


def _number_without_port_dir(tmp_path, monkeypatch):
    monkeypatch.delenv("PEKOLM_PORT_DIR", raising=False)
    if os.path.lexists("/dev/ttyS199") or os.path.lexists(f"{_ports.default_port_dir()}/com200"):
        pytest.skip("this machine has a port 200")
    return 200, "/dev/ttyS199", "port 200 is /dev/ttyS199, since PEKOLM_PORT_DIR is not set and there is no link"


def _number_with_a_dangling_default_link(tmp_path, monkeypatch):
    if not os.environ.get("PEKOLM_DEFAULT_PORT_DIR"):
        pytest.skip("PEKOLM_DEFAULT_PORT_DIR does not name the library's default folder of links")
    monkeypatch.delenv("PEKOLM_PORT_DIR", raising=False)
    link = pathlib.Path(os.environ["PEKOLM_DEFAULT_PORT_DIR"]) / "com201"
    link.parent.mkdir(parents=True, exist_ok=True)
    if os.path.lexists(link):
        link.unlink()
    link.symlink_to(tmp_path / "unplugged")
    return 201, f"{link} -> {tmp_path}/unplugged", f"port 201 is the link {link}, since PEKOLM_PORT_DIR is not set"


def _path(tmp_path, monkeypatch):
    return tmp_path / "absent", f"-> {tmp_path}/absent)", None


@pytest.mark.parametrize("case", [_number_under_port_dir, _number_after_a_path, _number_without_port_dir,
                                  _number_with_a_dangling_default_link, _path])
def test_a_missing_device_is_named_with_how_its_number_maps(lib, tmp_path, monkeypatch, case):
    port, device, mapping = case(tmp_path, monkeypatch)
    try:
        with pytest.raises(pekolm.PekolmError) as raised:
            pekolm.Amplifier(port).open()
    finally:
        if case is _number_with_a_dangling_default_link:
            (pathlib.Path(os.environ["PEKOLM_DEFAULT_PORT_DIR"]) / "com201").unlink()
    lines = str(raised.value).splitlines()
    assert raised.value.name == "ENOENT" and device in lines[0] and "ENOENT (2," in lines[0]
    if mapping is None:  # a path's number is the folder's business, not the user's
        assert len(lines) == 1 and raised.value.mapping is None
    else:
        assert len(lines) == 2 and mapping in lines[1]


@pytest.mark.parametrize("path, number", [
    ("COM5", 5), ("com255", 255), ("\\\\.\\COM12", 12),
    ("COM0", None), ("COM256", None), ("/dev/ttyUSB0", None), ("\\\\.\\COM", None), ("C:\\COM5", None),
])
def test_windows_ports_are_com_numbers(path, number):
    if number is None:
        with pytest.raises(ValueError, match="COM1..COM255"):
            _ports.windows_port_number(path)
    else:
        assert _ports.windows_port_number(path) == number
