"""Shared fixtures: the library, one kolmsim for the whole session and one amplifier activated on it.

PEKOLM_LIBRARY names the library under test, PEKOLM_KOLMSIM the simulator and PEKOLM_KOLMSCAN the port
scanner (python/run-tests.sh sets them from the build tree); tests that need one that is missing are
skipped.
"""

import os
import subprocess

import pytest

import pekolm

SIMULATED_PORT = 1


@pytest.fixture(scope="session")
def lib():
    try:
        return pekolm.library()
    except pekolm.LibraryNotFoundError as error:
        pytest.skip(str(error))


@pytest.fixture(scope="session")
def start_kolmsim(lib):
    """start_kolmsim(directory, port, *options): a kolmsim playing an amplifier as port `port` in
    directory, once its link is in place. Each is ended at the end of the session, unless it has ended
    before."""
    kolmsim = os.environ.get("PEKOLM_KOLMSIM")
    if not kolmsim:
        pytest.skip("PEKOLM_KOLMSIM does not name kolmsim")
    processes = []

    def start(directory, port, *options):
        process = subprocess.Popen([kolmsim, "--com", str(port), "--port-dir", str(directory), *options],
                                   stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        processes.append(process)
        # kolmsim says where the amplifier is once its link is in place.
        announcement = process.stderr.readline()
        if not announcement.startswith("kolmsim: amplifier"):
            process.kill()
            pytest.fail(f"kolmsim did not start: {announcement}{process.communicate()[1]}")
        return process

    yield start
    for process in processes:
        if process.poll() is None:
            process.terminate()
        process.communicate()


@pytest.fixture(scope="session")
def port_dir(start_kolmsim, tmp_path_factory):
    """The directory in which kolmsim plays an amplifier as port SIMULATED_PORT; PEKOLM_PORT_DIR names it."""
    directory = tmp_path_factory.mktemp("ports")
    start_kolmsim(directory, SIMULATED_PORT)
    environment = pytest.MonkeyPatch()
    environment.setenv("PEKOLM_PORT_DIR", str(directory))
    yield directory
    environment.undo()


@pytest.fixture(scope="session")
def amp(port_dir):
    """The simulated amplifier, activated at 115200 baud for the whole session. Tests that change a setting
    put it back."""
    with pekolm.Amplifier(SIMULATED_PORT, 115200) as amplifier:
        yield amplifier


@pytest.fixture
def simulated(start_kolmsim, tmp_path_factory):
    """simulated(port): the link of a kolmsim of its own, port `port` in a new directory, whose amplifier
    has the serial number 000000<port>, so that a test tells which device it reached."""
    def start(port):
        directory = tmp_path_factory.mktemp(f"sim{port}")
        start_kolmsim(directory, port, "--serial", f"{port:08d}")
        return directory / f"com{port}"

    return start


@pytest.fixture
def kolmscan(monkeypatch, tmp_path_factory):
    """The kolmscan under test, through PEKOLM_KOLMSCAN, seeing no serial port of this machine (each
    silent one would take 40 s to probe): only the com<n> links of PEKOLM_PORT_DIR."""
    program = os.environ.get("PEKOLM_KOLMSCAN")
    if not program:
        pytest.skip("PEKOLM_KOLMSCAN does not name kolmscan")
    monkeypatch.setenv("KOLMSCAN_SYSFS", str(tmp_path_factory.mktemp("no-sysfs")))
    return program
