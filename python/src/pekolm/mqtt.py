"""Collects the measured values that kolmrec publishes to an MQTT broker (needs paho-mqtt).

    from pekolm.mqtt import subscribe
    with subscribe("mqtt://broker.example/lab") as subscription:
        for block in subscription:
            print(block.node, block.port, block.index[0], block.values.mean(axis=0))

kolmrec publishes under a topic prefix, one prefix per recording computer (a "node"):
<node>/status ("online" or "offline", retained), <node>/com<n>/info (a JSON object about port n and its
recording, retained) and <node>/com<n>/values (a JSON object per block of values, with "seq" counting the
port's blocks from 0). The subscription takes every node at any depth below the URL's prefix, so that
mqtt://broker/lab collects lab/rig7 and lab/rig8. QoS 1 can deliver a block twice; the copy is dropped.
Where a stream's blocks are not contiguous the block that follows says how many blocks (dropped by the
publisher while the broker was out of reach) and samples (also those the amplifier's buffer lost) are
missing before it.
"""

from __future__ import annotations

import datetime
import json
import math
import os
import queue
import re
import socket
import ssl
import threading
import time
import urllib.parse
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

import numpy as np

__all__ = ["Block", "BrokerUrl", "MqttError", "MqttUrlError", "PASSWORD_VARIABLE", "StreamGap", "Subscription",
           "parse_url", "subscribe"]

PASSWORD_VARIABLE = "PEKOLM_MQTT_PASSWORD"
_PORTS = {"mqtt": 1883, "mqtts": 8883}
_COM = re.compile(r"com([1-9][0-9]{0,2})")
# The broker's refusals of a login (CONNACK return codes of MQTT 3.1.1).
_REFUSALS = {1: "unacceptable protocol version", 2: "client id rejected", 3: "server unavailable",
             4: "bad user name or password", 5: "not authorised"}
_SUBSCRIBE_FAILED = 0x80
# Paho retries a lost connection after this many seconds, doubling up to the maximum: a broker back after
# a restart is reached again within a second or two.
_RECONNECT_DELAYS = (0.25, 4)
_STOP = object()


class MqttError(RuntimeError):
    """Subscribing failed: a bad URL or option, a broker that cannot be reached, a refused login, a TLS
    certificate that is not trusted. The message is one line."""


class MqttUrlError(MqttError, ValueError):
    """The URL is not mqtt://[user[:password]@]host[:port]/prefix (or mqtts://)."""


@dataclass(frozen=True)
class BrokerUrl:
    """A parsed URL. prefix is the topic prefix without a trailing "/"; str() leaves out the password."""

    tls: bool
    host: str
    port: int
    prefix: str
    user: str | None = None
    password: str | None = None

    def __str__(self) -> str:
        host = f"[{self.host}]" if ":" in self.host else self.host
        user = f"{urllib.parse.quote(self.user, safe='')}@" if self.user else ""
        return f"{'mqtts' if self.tls else 'mqtt'}://{user}{host}:{self.port}/{self.prefix}"


def parse_url(url: str) -> BrokerUrl:
    """Parses mqtt://[user[:password]@]host[:port]/prefix (port 1883) or mqtts://... (TLS, port 8883);
    user, password and prefix may be percent-encoded. Raises MqttUrlError saying what is wrong."""
    def bad(reason: str) -> MqttUrlError:
        return MqttUrlError(f"bad URL {url!r}: {reason}")

    scheme, found, rest = url.partition("://")
    if not found:
        raise bad("it is not of the form mqtt://[user[:password]@]host[:port]/prefix")
    if scheme.lower() not in _PORTS:
        raise bad(f"the scheme is {scheme!r}, not mqtt or mqtts")
    if "?" in rest:
        raise bad("a URL here has no query ('?...')")
    authority, _, path = rest.partition("/")
    login, at, hostport = authority.rpartition("@")
    if hostport.startswith("["):  # an IPv6 address
        host, bracket, port_text = hostport[1:].partition("]")
        if not bracket or (port_text and not port_text.startswith(":")):
            raise bad("an IPv6 address goes in brackets: [::1]:1883")
        port_text = port_text[1:] if port_text else None
    else:
        host, colon, port_text = hostport.partition(":")
        port_text = port_text if colon else None
    if not host:
        raise bad("it names no host")
    port = _PORTS[scheme.lower()]
    if port_text is not None:
        if not port_text.isdigit() or not 1 <= int(port_text) <= 65535:
            raise bad(f"the port {port_text!r} is not a number 1..65535")
        port = int(port_text)
    user = password = None
    if at:
        name, colon, secret = login.partition(":")
        user = urllib.parse.unquote(name) or None
        password = urllib.parse.unquote(secret) if colon else None
    prefix = urllib.parse.unquote(path)
    if prefix.endswith("/"):
        prefix = prefix[:-1]
    if not prefix:
        raise bad("it names no topic prefix (the path after the host, as in mqtt://host/lab/rig7)")
    if "#" in prefix:
        raise bad("the topic prefix may not hold '#': everything below it is taken anyway")
    levels = prefix.split("/")
    if "" in levels:
        raise bad(f"the topic prefix {prefix!r} has an empty level")
    if any("+" in level and level != "+" for level in levels):
        raise bad(f"in the topic prefix {prefix!r} a '+' must stand for a whole level")
    if "\0" in prefix:
        raise bad("the topic prefix holds a NUL character")
    return BrokerUrl(scheme.lower() == "mqtts", host, port, prefix, user, password)


@dataclass(frozen=True)
class StreamGap:
    """Values missing on a stream before the sample `before_index`: `blocks` the publisher dropped (from
    the jump in seq) and `samples` in all (from the jump in the index; those of the dropped blocks and any
    the amplifier's buffer lost)."""

    node: str
    port: int
    before_index: int
    blocks: int
    samples: int


@dataclass(frozen=True, eq=False)
class Block:
    """One block of values of one port of one node.

    node is the topic prefix of the publishing kolmrec, port the amplifier's port number there. Sample k
    has the index first_index + k (the amplifier's sample clock: index[k]) and was taken at
    time + k / rate_hz (time is UTC, timezone-aware). values has shape (n, 4), channel c + 1 in column c,
    display values (normalised value times the display norm, in the port's units) unless normalised; a
    value the publisher could not give is nan. info is the port's latest info object (a dict) or None when
    none has come yet. missing_blocks and missing_samples are how many are missing right before this block
    on its stream (see StreamGap); 0 where it follows its predecessor."""

    node: str
    port: int
    seq: int
    first_index: int
    rate_hz: float
    time: datetime.datetime
    index: np.ndarray
    values: np.ndarray
    normalised: bool
    info: dict[str, Any] | None
    missing_blocks: int = 0
    missing_samples: int = 0


class _Stream:
    """What the next block of a port of a node should be. next_seq is None where nothing is expected: at
    the start and after a new recording began."""

    __slots__ = ("next_seq", "next_index", "start", "first")

    def __init__(self) -> None:
        self.next_seq: int | None = None
        self.next_index = 0
        self.start: str | None = None  # the info's "start": a new one is a new recording
        self.first: tuple[int, str] | None = None  # first_index and time of the recording's block 0


def _is_int(value: object) -> bool:
    return type(value) is int  # bool is an int to isinstance, and true is no sequence number


def _is_number(value: object) -> bool:
    return type(value) is int or type(value) is float


def _time(text: object) -> datetime.datetime | None:
    if not isinstance(text, str):
        return None
    try:
        # Before Python 3.11 fromisoformat takes no "Z" for UTC.
        moment = datetime.datetime.fromisoformat(text[:-1] + "+00:00" if text.endswith("Z") else text)
    except ValueError:
        return None
    return moment if moment.tzinfo is not None else None


def _channels(data: dict) -> np.ndarray | None:
    """The four arrays as values of shape (n, 4), or None where they are not four equally long, non-empty
    arrays of numbers (null is nan)."""
    channels = [data.get("ch1"), data.get("ch2"), data.get("ch3"), data.get("ch4")]
    if any(type(channel) is not list for channel in channels):
        return None
    n = len(channels[0])
    if n == 0 or any(len(channel) != n for channel in channels):
        return None
    try:
        array = np.array(channels)
    except ValueError:  # arrays within some of them
        return None
    if array.dtype.kind == "O":  # a null among them, or a whole number beyond 64 bits
        if not all(value is None or _is_number(value) for channel in channels for value in channel):
            return None
        array = np.array(channels, dtype=np.float64)
    elif array.dtype.kind not in "fi" or array.ndim != 2:  # texts, booleans, nested arrays
        return None
    return np.ascontiguousarray(array.T, dtype=np.float64)


class Subscription:
    """Blocks from the broker, as subscribe() made it. Iterating waits for blocks and yields them in the
    order of arrival (in order within a stream) until close(); blocks() and poll() wait for a while only.
    Messages are taken in the iterating thread, so the attributes below are as of the last block taken:

        duplicates: blocks that came again (QoS 1 may deliver twice) and were dropped.
        skipped: messages on the topics that were no status, info or values, or malformed (not JSON, a
            field missing or of the wrong type, arrays of unequal lengths, com0): dropped, never raising.
        gaps: a StreamGap for each place where values are missing, in order.
        infos: (node, port) -> the latest info object. status: node -> "online" or "offline".
        streams: (node, port) of every stream seen (by info or values), in order of appearance.

    Paho's network thread reconnects by itself when the connection is lost; `connected` says whether it
    is up now."""

    def __init__(self, client, url: BrokerUrl):
        self.url = url
        self.duplicates = 0
        self.skipped = 0
        self.gaps: list[StreamGap] = []
        self.infos: dict[tuple[str, int], dict[str, Any]] = {}
        self.status: dict[str, str] = {}
        self._streams: dict[tuple[str, int], _Stream] = {}
        self._client = client
        self._messages: queue.SimpleQueue = queue.SimpleQueue()
        self._closed = False
        self.connected = False

    @property
    def streams(self) -> list[tuple[str, int]]:
        return list(self._streams)

    def poll(self, timeout: float | None = None) -> list[Block]:
        """The blocks that have arrived, waiting up to timeout seconds (None: for ever) for the first;
        [] when none came in time, or once closed."""
        deadline = None if timeout is None else time.monotonic() + timeout
        blocks: list[Block] = []
        while not blocks and not self._closed:
            try:
                if deadline is None:
                    message = self._messages.get()
                else:
                    message = self._messages.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            # What has come meanwhile goes along, up to a batch that keeps the caller responsive.
            for _ in range(4096):
                if message is _STOP:
                    break
                block = self._take(*message)
                if block is not None:
                    blocks.append(block)
                try:
                    message = self._messages.get_nowait()
                except queue.Empty:
                    break
        return blocks

    def blocks(self, duration: float | None = None, idle_timeout: float | None = None) -> Iterator[Block]:
        """Yields blocks as they arrive, for `duration` seconds from now, or until none has come for
        idle_timeout seconds, or until close() (None: no limit)."""
        end = None if duration is None else time.monotonic() + duration
        while not self._closed:
            wait = idle_timeout
            if end is not None:
                left = end - time.monotonic()
                if left <= 0:
                    return
                wait = left if wait is None else min(wait, left)
            batch = self.poll(wait)
            if not batch and (idle_timeout is not None and wait == idle_timeout):
                return
            yield from batch

    def __iter__(self) -> Iterator[Block]:
        return self.blocks()

    def close(self) -> None:
        """Disconnects; iterating ends. Safe to call more than once, and from another thread."""
        if self._closed:
            return
        self._closed = True
        self._messages.put(_STOP)
        self._client.disconnect()
        self._client.loop_stop()

    def __enter__(self) -> Subscription:
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def _stream(self, node: str, port: int) -> _Stream:
        stream = self._streams.get((node, port))
        if stream is None:
            stream = self._streams[(node, port)] = _Stream()
        return stream

    def _take(self, topic: str, payload: bytes) -> Block | None:
        levels = topic.split("/")
        kind = levels[-1]
        if kind == "status" and len(levels) >= 2:
            text = payload.decode("utf-8", "replace")
            if text in ("online", "offline"):
                self.status[topic[: -len("/status")]] = text
                return None
        elif kind in ("info", "values") and len(levels) >= 3:
            match = _COM.fullmatch(levels[-2])
            if match and int(match.group(1)) <= 255:
                node, port = "/".join(levels[:-2]), int(match.group(1))
                try:
                    data = json.loads(payload)
                except ValueError:  # UnicodeDecodeError is one
                    data = None
                if type(data) is dict:
                    taken = self._info(node, port, data) if kind == "info" else self._values(node, port, data)
                    if taken is not False:
                        return taken
        self.skipped += 1
        return None

    def _info(self, node: str, port: int, info: dict) -> Block | bool | None:
        start = info.get("start")
        if info.get("port", port) != port or not isinstance(start, (str, type(None))):
            return False
        stream = self._stream(node, port)
        if start is not None and stream.start is not None and start != stream.start:
            stream.next_seq = None  # a new recording: its blocks count from 0 again
        stream.start = start if start is not None else stream.start
        self.infos[(node, port)] = info
        return None

    def _values(self, node: str, port: int, data: dict) -> Block | bool:
        seq, first_index, rate_hz = data.get("seq"), data.get("first_index"), data.get("rate_hz")
        normalised, time_text = data.get("normalised"), data.get("time")
        if not (_is_int(seq) and seq >= 0 and _is_int(first_index) and first_index >= 0 and _is_number(rate_hz)
                and math.isfinite(rate_hz) and rate_hz > 0 and type(normalised) is bool):
            return False
        moment = _time(time_text)
        values = _channels(data)
        if moment is None or values is None:
            return False
        stream = self._stream(node, port)
        if stream.next_seq is not None:
            if seq == 0 and stream.first != (first_index, time_text):
                stream.next_seq = None  # block 0 of a new recording, without a new info before it
            elif seq < stream.next_seq:
                self.duplicates += 1
                return None
        missing_blocks = missing_samples = 0
        if stream.next_seq is not None:
            missing_blocks = seq - stream.next_seq
            missing_samples = max(0, first_index - stream.next_index)
            if missing_blocks or missing_samples:
                self.gaps.append(StreamGap(node, port, first_index, missing_blocks, missing_samples))
        n = len(values)
        stream.next_seq, stream.next_index = seq + 1, first_index + n
        if seq == 0:
            stream.first = (first_index, time_text)
        return Block(node, port, seq, first_index, float(rate_hz), moment,
                     np.arange(first_index, first_index + n, dtype=np.int64), values, normalised,
                     self.infos.get((node, port)), missing_blocks, missing_samples)


def _password(password: str | None, password_file: str | os.PathLike | None, url: BrokerUrl) -> str | None:
    if password is not None:
        return password
    if password_file is not None:
        try:
            with open(password_file, encoding="utf-8") as file:
                return file.readline().rstrip("\r\n")
        except (OSError, UnicodeDecodeError) as error:
            raise MqttError(f"password file {os.fspath(password_file)}: "
                            f"{getattr(error, 'strerror', None) or error}") from None
    if url.password is not None:
        return url.password
    return os.environ.get(PASSWORD_VARIABLE)


def _tls_context(ca_file, cert_file, key_file) -> ssl.SSLContext:
    try:
        # The system's CAs unless a file is given; the host name is checked against the certificate.
        context = ssl.create_default_context(cafile=os.fspath(ca_file) if ca_file is not None else None)
    except (OSError, ssl.SSLError) as error:
        raise MqttError(f"CA file {os.fspath(ca_file)}: {getattr(error, 'strerror', None) or error}") from None
    if cert_file is not None:
        try:
            context.load_cert_chain(os.fspath(cert_file), os.fspath(key_file) if key_file is not None else None)
        except (OSError, ssl.SSLError) as error:
            raise MqttError(f"client certificate {os.fspath(cert_file)}"
                            f"{f' or key {os.fspath(key_file)}' if key_file is not None else ''}: "
                            f"{getattr(error, 'strerror', None) or error}") from None
    return context


def _connect_error(error: OSError, url: BrokerUrl, timeout: float) -> MqttError:
    where = f"broker {url.host}:{url.port}"
    if isinstance(error, socket.gaierror):
        return MqttError(f"unknown host {url.host}: {error.strerror}")
    if isinstance(error, ssl.SSLCertVerificationError):
        return MqttError(f"{where}: its TLS certificate is not accepted: {error.verify_message}")
    if isinstance(error, ssl.CertificateError):
        return MqttError(f"{where}: its TLS certificate is not accepted: {error}")
    if isinstance(error, ssl.SSLError):
        return MqttError(f"{where}: TLS failed ({error.reason or error}); is it a TLS listener?")
    if url.tls and isinstance(error, ConnectionResetError):
        return MqttError(f"{where} broke off the TLS handshake: is it a TLS listener?")
    if isinstance(error, ConnectionRefusedError):
        return MqttError(f"{where} refused the connection: no broker listens there")
    if isinstance(error, (socket.timeout, TimeoutError)):
        return MqttError(f"{where} did not answer within {timeout:g} s")
    return MqttError(f"cannot reach {where}: {error.strerror or error}")


def subscribe(url: str, *, username: str | None = None, password: str | None = None,
              password_file: str | os.PathLike | None = None, ca_file: str | os.PathLike | None = None,
              cert_file: str | os.PathLike | None = None, key_file: str | os.PathLike | None = None,
              client_id: str | None = None, session: bool = False, timeout: float = 10.0) -> Subscription:
    """Connects to the broker of url, subscribes to <prefix>/# with QoS 1 and returns the Subscription
    once the broker has confirmed it (retained status and info messages come right after).

    The user name is `username`, else the URL's. The password is `password`, else the first line of
    password_file, else the URL's, else $PEKOLM_MQTT_PASSWORD. mqtts:// verifies the broker's certificate
    and host name against ca_file (a PEM file; default: the system's CAs); cert_file and key_file are a
    client certificate to present (key_file may be left out when cert_file holds the key). With session
    and a client_id the broker keeps the subscription while the collector is away and (with persistence)
    queues the blocks for it. timeout is the seconds to wait for the broker's answers (also the keep-alive).
    Raises MqttError (MqttUrlError for the URL) with one line."""
    broker = parse_url(url)
    user = username if username is not None else broker.user
    secret = _password(password, password_file, broker)
    if user is None and (password is not None or password_file is not None):
        raise MqttError("a password needs a user name")
    if session and not client_id:
        raise MqttError("a persistent session needs a client id")
    if not broker.tls and (ca_file or cert_file or key_file):
        raise MqttError(f"certificates are for TLS, but {url.split('://')[0]}:// is plain: use mqtts://")
    if key_file is not None and cert_file is None:
        raise MqttError("a client key needs its certificate")
    context = _tls_context(ca_file, cert_file, key_file) if broker.tls else None
    try:
        import paho.mqtt.client as mqtt
    except ImportError:
        raise MqttError("collecting needs paho-mqtt (Debian package python3-paho-mqtt)") from None

    # paho 2 calls back in its old way only when asked to.
    version = {"callback_api_version": mqtt.CallbackAPIVersion.VERSION1} if hasattr(mqtt, "CallbackAPIVersion") \
        else {}
    client = mqtt.Client(client_id=client_id or "", clean_session=not session, protocol=mqtt.MQTTv311, **version)
    subscription = Subscription(client, broker)
    answered = threading.Event()
    outcome: dict[str, Any] = {}

    def on_connect(client, userdata, flags, rc):
        if rc == 0:
            subscription.connected = True
            # Also after a reconnection: a clean session has lost the subscription.
            outcome["mid"] = client.subscribe(broker.prefix + "/#", qos=1)[1]
        else:
            outcome.setdefault("refused", rc)
            answered.set()

    def on_subscribe(client, userdata, mid, granted):
        if mid == outcome.get("mid"):
            outcome["granted"] = granted[0]
            answered.set()

    def on_disconnect(client, userdata, rc):
        subscription.connected = False
        outcome.setdefault("closed", rc)
        answered.set()

    def on_message(client, userdata, message):
        # Only handed on: the iterating thread parses, so that this one is back to the socket at once.
        subscription._messages.put((message.topic, message.payload))

    client.on_connect, client.on_subscribe = on_connect, on_subscribe
    client.on_disconnect, client.on_message = on_disconnect, on_message
    if user is not None:
        client.username_pw_set(user, secret)
    if context is not None:
        client.tls_set_context(context)
    client.reconnect_delay_set(*_RECONNECT_DELAYS)
    # paho 1.6 has no setter for the time a TCP connection may take (default 5 s).
    if hasattr(type(client), "connect_timeout"):
        client.connect_timeout = timeout
    else:
        client._connect_timeout = timeout
    started = time.monotonic()
    try:
        # Paho gives the TLS handshake the keep-alive interval.
        client.connect(broker.host, broker.port, keepalive=max(1, math.ceil(timeout)))
    except OSError as error:
        raise _connect_error(error, broker, timeout) from None
    client.loop_start()
    where = f"broker {broker.host}:{broker.port}"
    failure = None
    if not answered.wait(max(0.0, timeout - (time.monotonic() - started))):
        failure = f"{where} did not answer within {timeout:g} s"
    elif "refused" in outcome:
        as_user = f" (user {user})" if user else " (no user name given)"
        code = outcome["refused"]
        failure = f"{where} refused the login{as_user}: {_REFUSALS.get(code, f'code {code}')}"
    elif "granted" not in outcome:
        failure = (f"{where} closed the connection before accepting the login"
                   + ("; is it a TLS listener (mqtts://)?" if not broker.tls else ""))
    elif outcome["granted"] == _SUBSCRIBE_FAILED:
        failure = f"{where} refused the subscription to {broker.prefix}/#"
    if failure:
        subscription.close()
        raise MqttError(failure)
    return subscription
