"""Shared fixtures: the library, one kolmsim for the whole session and one amplifier activated on it;
mosquitto brokers (mqtt_broker.py) and paho publishers into them.

PEKOLM_LIBRARY names the library under test, PEKOLM_KOLMSIM the simulator and PEKOLM_KOLMSCAN the port
scanner (python/run-tests.sh sets them from the build tree); tests that need one that is missing are
skipped, as are the MQTT tests where mosquitto, openssl or paho-mqtt is missing.
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


@pytest.fixture(scope="session")
def start_mqtt_broker(tmp_path_factory):
    """start_mqtt_broker(**options): a mosquitto of its own in a new directory, as mqtt_broker.start_broker
    takes the options; each is stopped at the end of the session. Skips where mosquitto, openssl or
    paho-mqtt is missing."""
    import mqtt_broker

    reason = mqtt_broker.missing()
    if reason:
        pytest.skip(reason)
    brokers = []

    def start(**options):
        broker = mqtt_broker.start_broker(tmp_path_factory.mktemp("broker"), **options)
        brokers.append(broker)
        return broker

    yield start
    for broker in brokers:
        broker.stop()


@pytest.fixture
def mqtt_publisher():
    """mqtt_publisher(broker, user=None, password=None): publish(topic, payload, retain=False), which
    publishes with QoS 1 and returns once the broker has it. The clients are ended after the test."""
    clients = []

    def connect(broker, user=None, password=None):
        client = broker.client(user, password)
        clients.append(client)

        def publish(topic, payload, retain=False):
            client.publish(topic, payload, qos=1, retain=retain).wait_for_publish(5)

        return publish

    yield connect
    for client in clients:
        client.disconnect()  # first: the network loop then ends at once, not after its select's second
        client.loop_stop()
