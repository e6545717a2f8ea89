"""kolmrec publishing to a real broker, gathered by pekolm.mqtt: two nodes at once, a node that dies, a
broker that goes away, and the broker's security as kolmrec meets it."""

import os
import signal
import subprocess
import time

import numpy as np
import pytest

from pekolm import mqtt

RATE_HZ = 25  # kolmsim's default


@pytest.fixture(scope="module")
def kolmrec():
    program = os.environ.get("PEKOLM_KOLMREC")
    if not program:
        pytest.skip("PEKOLM_KOLMREC does not name kolmrec")
    return program


@pytest.fixture
def node(kolmrec, start_kolmsim, tmp_path_factory):
    """node(url, name, *options, ports=(1, 2)): a kolmrec publishing under url as node `name` the ports of
    kolmsims of its own, whose serial numbers are <n>000000<port> for the n-th node started."""
    processes = []

    def start(url, name, *options, ports=(1, 2)):
        directory = tmp_path_factory.mktemp(name)
        for port in ports:
            start_kolmsim(directory, port, "--serial", f"{len(processes) + 1}{port:07d}")
        arguments = [kolmrec, "--mqtt", url, "--mqtt-node", name, *options]
        for port in ports:
            arguments += ["--port", str(port)]
        process = subprocess.Popen(arguments, env={**os.environ, "PEKOLM_PORT_DIR": str(directory)},
                                   stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        processes.append(process)
        return process

    yield start
    for process in processes:
        if process.poll() is None:
            process.kill()
        process.communicate()


def gather(subscription, done, timeout=30):
    """The blocks that arrive until done(blocks) or the timeout."""
    blocks = []
    deadline = time.monotonic() + timeout
    while not done(blocks) and time.monotonic() < deadline:
        blocks += subscription.poll(0.2)
    return blocks


def indices(blocks, node, port):
    chosen = [block.index for block in blocks if (block.node, block.port) == (node, port)]
    return np.concatenate(chosen) if chosen else np.array([], dtype=np.int64)


def finished(process):
    _, err = process.communicate(timeout=30)
    return process.returncode, err


def test_two_nodes_arrive_whole_and_a_node_that_dies_shows_offline(start_mqtt_broker, node):
    broker = start_mqtt_broker()
    with mqtt.subscribe(broker.url("lab")) as subscription:
        rigs = [node(broker.url(f"lab/{name}"), name, "--seconds", "2") for name in ("rig7", "rig8")]
        streams = [(f"lab/{name}", port) for name in ("rig7", "rig8") for port in (1, 2)]
        blocks = gather(subscription, lambda blocks: all(len(indices(blocks, *s)) >= 2 * RATE_HZ for s in streams)
                        and all(subscription.status.get(n) == "offline" for n in ("lab/rig7", "lab/rig8")))
        for rig in rigs:
            status, err = finished(rig)
            assert status == 0, err
        for number, (prefix, port) in enumerate(streams):
            # Every sample exactly once, in order.
            assert indices(blocks, prefix, port).tolist() == list(range(2 * RATE_HZ)), (prefix, port)
            info = subscription.infos[(prefix, port)]
            assert info["serial_number"] == f"{number // 2 + 1}{port:07d}"
            assert (info["node"], info["port"], info["rate_hz"]) == (prefix.split("/")[1], port, RATE_HZ)
            assert info["unit_texts"] == ["kg"] * 4 and info["values"] == "display"
        assert subscription.gaps == [] and subscription.status["lab/rig7"] == "offline"

        # Killed, the broker publishes its last will; failed, it says so itself.
        killed = node(broker.url("lab/rig9"), "rig9", "--seconds", "60")
        failed = node(broker.url("lab/rig10"), "rig10", "--seconds", "60", "-o", "/dev/full")
        gather(subscription, lambda blocks: any(block.node == "lab/rig9" for block in blocks))
        killed.send_signal(signal.SIGKILL)
        gather(subscription, lambda blocks: subscription.status.get("lab/rig9") == "offline", timeout=10)
        assert subscription.status.get("lab/rig9") == "offline"
        status, err = finished(failed)
        assert status == 1, err
        gather(subscription, lambda blocks: subscription.status.get("lab/rig10") == "offline", timeout=10)
        assert subscription.status.get("lab/rig10") == "offline", err


@pytest.mark.parametrize("queue_seconds, down_seconds", [(60, 1.5), (0.2, 3)], ids=["within", "beyond"])
def test_a_broker_that_goes_away_loses_nothing_within_the_bound_and_the_same_count_beyond(
        start_mqtt_broker, node, queue_seconds, down_seconds):
    broker = start_mqtt_broker(persistence=True)
    # A persistent session: the broker keeps the subscription across its restart and queues for it.
    with mqtt.subscribe(broker.url("lab"), client_id="collector", session=True) as subscription:
        rig = node(broker.url("lab/rig7"), "rig7", "--seconds", "5", "--mqtt-queue", str(queue_seconds), ports=(1,))
        blocks = gather(subscription, lambda blocks: len(indices(blocks, "lab/rig7", 1)) >= 10)
        broker.stop()
        time.sleep(down_seconds)
        broker.start()
        status, err = finished(rig)
        blocks += gather(subscription, lambda blocks: subscription.status.get("lab/rig7") == "offline")
        received = indices(blocks, "lab/rig7", 1)
        assert len(set(received.tolist())) == len(received), "a sample came twice"
        assert received.tolist() == sorted(received.tolist())
        if queue_seconds == 60:
            assert status == 0, err
            assert received.tolist() == list(range(5 * RATE_HZ)), err
            assert subscription.gaps == []
        else:
            assert status == 3, err
            line = next(line for line in err.splitlines() if "dropped from the MQTT queue" in line)
            dropped_blocks, dropped_samples = int(line.split()[3]), int(line.split()[5].strip("("))
            assert dropped_blocks > 0
            assert sum(gap.blocks for gap in subscription.gaps) == dropped_blocks, err
            assert sum(gap.samples for gap in subscription.gaps) == dropped_samples, err
            assert len(received) + dropped_samples == 5 * RATE_HZ


def test_kolmrec_meets_the_brokers_security(start_mqtt_broker, node, tmp_path):
    broker = start_mqtt_broker(users={"rig": "secret", "reader": "look"}, tls=True,
                               acl="user rig\ntopic readwrite lab/#\nuser reader\ntopic read lab/#\n")
    password_file = tmp_path / "password"
    password_file.write_text("secret\n")
    right = ["--mqtt-ca", str(broker.ca_file), "--mqtt-password-file", str(password_file)]
    cases = [
        (broker.url("lab/a"), [], "refused the connection: not authorised"),
        (broker.url("lab/a", user="rig", password="wrong"), [], "refused the connection: not authorised"),
        (broker.url("lab/a", tls=True, user="rig"), ["--mqtt-ca", str(broker.wrong_ca_file),
                                                      "--mqtt-password-file", str(password_file)],
         "certificate verify failed"),
    ]
    for url, options, message in cases:
        status, err = finished(node(url, "bad", "--seconds", "1", "--mqtt-wait", "5", *options, ports=(1,)))
        assert status == 1 and message in err, (url, err)
        assert len(err.strip().splitlines()) == 1, err

    with mqtt.subscribe(broker.url("lab", tls=True, user="reader", password="look"),
                        ca_file=broker.ca_file) as subscription:
        rig = node(broker.url("lab/rig7", tls=True, user="rig"), "rig7", "--seconds", "1", *right, ports=(1,))
        blocks = gather(subscription, lambda blocks: len(indices(blocks, "lab/rig7", 1)) >= RATE_HZ)
        status, err = finished(rig)
        assert status == 0, err
        assert indices(blocks, "lab/rig7", 1).tolist() == list(range(RATE_HZ))
