"""list_ports() and scan() through kolmscan: the real one against kolmsim, a stand-in for what a kolmscan
may print or fail with, and `python3 -m pekolm scan`."""

import os
import subprocess
import sys

import pytest

import pekolm


@pytest.fixture
def scanned(simulated, kolmscan, monkeypatch):
    """A kolmsim as port 4, the only port kolmscan sees."""
    link = simulated(4)
    monkeypatch.setenv("PEKOLM_PORT_DIR", str(link.parent))
    return link


def test_list_ports_sees_the_numbers_of_the_user(scanned, tmp_path):
    # A device path takes PEKOLM_PORT_DIR over for this process; kolmscan must still number as the user does.
    with pytest.raises(pekolm.PekolmError):
        pekolm.Amplifier(tmp_path / "gone").open()
    [port] = pekolm.list_ports()
    assert isinstance(port, pekolm.SerialPort)
    assert (port.port, port.device, port.by_id, port.driver) == (4, str(scanned), (), None)
    assert port.target == os.path.realpath(scanned)


@pytest.mark.parametrize("devices", [None, "by path"])
def test_scan_finds_the_amplifier(scanned, devices):
    [port] = pekolm.scan(devices and [scanned])
    assert (port.port, port.device, port.probe, port.is_amplifier) == (4, str(scanned), "amplifier", True)
    assert (port.serial_number, port.baud, port.rate_hz, port.error, port.note) == ("00000004", 115200, 25.0,
                                                                                   None, None)
    assert isinstance(port.rate_hz, float) and isinstance(port.firmware, int)
    with pekolm.Amplifier(port.port, port.baud) as amp:  # the number it gives is the one the library opens
        assert amp.serial_number == port.serial_number


LATER = '[{"port": 3, "device": "/dev/ttyUSB0", "by_id": ["usb-x"], "later": {"a": 1}}]'
SILENT = '[{"port": 1, "device": "/dev/ttyS0", "probe": "silent", "note": "silent at every baud rate"}]'


@pytest.mark.parametrize("call, stdout, status, stderr, expected", [
    # Fields a later kolmscan adds are kept, those it leaves out are None.
    (pekolm.list_ports, LATER, 0, "",
     lambda ports: ports[0].extra == {"later": {"a": 1}} and ports[0].by_id == ("usb-x",) and ports[0].driver is None),
    (pekolm.scan, SILENT, 1, "", lambda ports: ports[0].probe == "silent" and not ports[0].is_amplifier),  # none found
    (pekolm.scan, "", 2, "kolmscan: unknown option '--probe'\nTry 'kolmscan --help'.\n",
     (pekolm.KolmscanError, "kolmscan --probe --json failed (exit status 2): kolmscan: unknown option '--probe'")),
    (pekolm.list_ports, "[]", 1, "", (pekolm.KolmscanError, "exit status 1")),  # 1 means none found with --probe only
    (pekolm.list_ports, "PORT DEVICE\n", 0, "", (pekolm.KolmscanError, "printed what is no JSON")),
    (pekolm.list_ports, '{"port": 1}', 0, "", (pekolm.KolmscanError, "printed no JSON array of objects")),
], ids=["later fields", "none found", "failed", "1 without probe", "no JSON", "no array"])
def test_what_kolmscan_says(tmp_path, monkeypatch, call, stdout, status, stderr, expected):
    stand_in = tmp_path / "kolmscan"
    stand_in.write_text(f"#!/bin/sh\nprintf '%s' '{stdout}'\nprintf '%s' \"{stderr}\" >&2\nexit {status}\n")
    stand_in.chmod(0o755)
    monkeypatch.setenv("PEKOLM_KOLMSCAN", str(stand_in))
    if callable(expected):
        assert expected(call())
    else:
        error, says = expected
        with pytest.raises(error) as raised:
            call()
        assert says in str(raised.value) and raised.value.returncode == status


@pytest.mark.parametrize("named", [None, "/nonexistent/kolmscan"])
def test_a_missing_kolmscan_says_what_to_install_or_set(tmp_path, monkeypatch, named):
    if named:
        monkeypatch.setenv("PEKOLM_KOLMSCAN", named)
    else:
        monkeypatch.delenv("PEKOLM_KOLMSCAN", raising=False)
        monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(pekolm.KolmscanNotFoundError) as raised:
        pekolm.list_ports()
    assert ("pekolm-tools" in str(raised.value) and "PEKOLM_KOLMSCAN" in str(raised.value)) if not named \
        else f"PEKOLM_KOLMSCAN names {named}" in str(raised.value)


def test_the_scan_command(scanned):
    done = subprocess.run([sys.executable, "-m", "pekolm", "scan", "--probe"], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    header, row = done.stdout.splitlines()
    assert header.split() == ["PORT", "DEVICE", "DESCRIPTION", "FOUND"]
    assert row.startswith(f"4     {scanned} -> ") and "amplifier 00000004, firmware 12, 115200 baud, 25 Hz" in row
