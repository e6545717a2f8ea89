"""A mosquitto broker of a test's own, on 127.0.0.1 at a free port, and the certificates for its TLS listener.

    broker = start_broker(tmp_path, users={"rig": "pw"}, acl="user rig\\ntopic readwrite lab/#\\n", tls=True)
    subscribe(broker.url("lab", tls=True, user="rig"), password="pw", ca_file=broker.ca_file)
    ...
    broker.stop()

The broker writes its configuration, password file, persistence and log into the directory it is given;
stop(), kill() and restart() act on the one process, and restart() keeps the ports (and, with persistence,
the sessions and queued messages). Certificates come from openssl: make_certificates() writes a CA, a
server certificate signed by it for the given names, a client certificate and a second, unrelated CA.
"""

from __future__ import annotations

import os
import shutil
import signal
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

MOSQUITTO = shutil.which("mosquitto", path=os.pathsep.join([os.environ.get("PATH", ""), "/usr/sbin", "/sbin"]))
MOSQUITTO_PASSWD = shutil.which("mosquitto_passwd",
                                path=os.pathsep.join([os.environ.get("PATH", ""), "/usr/bin", "/usr/sbin"]))
HOST = "127.0.0.1"


def missing() -> str | None:
    """Why the broker cannot run here, or None when it can."""
    if not MOSQUITTO:
        return "mosquitto is not installed (Debian package mosquitto)"
    if not shutil.which("openssl"):
        return "openssl is not installed"
    try:
        import paho.mqtt.client  # noqa: F401
    except ImportError:
        return "paho-mqtt is not installed for this Python (Debian package python3-paho-mqtt)"
    return None


@dataclass(frozen=True)
class Certificates:
    """PEM files: ca_file signed server_cert/server_key and client_cert/client_key; wrong_ca_file has signed
    nothing here."""

    ca_file: Path
    server_cert: Path
    server_key: Path
    client_cert: Path
    client_key: Path
    wrong_ca_file: Path


def _openssl(*arguments, directory: Path) -> None:
    subprocess.run(["openssl", *arguments], cwd=directory, check=True, capture_output=True)


def make_certificates(directory: str | os.PathLike, server_names=("localhost", "127.0.0.1"),
                      client_name: str = "collector") -> Certificates:
    """Writes the certificates into directory (made if need be). The server's certificate names each of
    server_names in its subject alternative names (an IP address as one), the first also as its CN."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    # EC keys: made in milliseconds, where RSA keys would take most of a second each.
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for ca in ("ca", "wrong-ca"):
        _openssl("req", "-x509", *key, "-keyout", f"{ca}.key", "-out", f"{ca}.pem", "-days", "2",
                 "-subj", f"/CN=pekolm test {ca}", directory=directory)
    names = ",".join(("IP:" if name.replace(".", "").isdigit() or ":" in name else "DNS:") + name
                     for name in server_names)
    (directory / "server.ext").write_text(f"subjectAltName={names}\n")
    (directory / "client.ext").write_text("extendedKeyUsage=clientAuth\n")
    for name, subject in (("server", server_names[0]), ("client", client_name)):
        _openssl("req", "-new", *key, "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj", f"/CN={subject}",
                 directory=directory)
        _openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", f"{name}.pem", "-days", "2", "-extfile", f"{name}.ext", directory=directory)
    return Certificates(directory / "ca.pem", directory / "server.pem", directory / "server.key",
                        directory / "client.pem", directory / "client.key", directory / "wrong-ca.pem")


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


class Broker:
    """A running mosquitto; see start_broker."""

    def __init__(self, directory: Path, config: Path, port: int, tls_port: int | None,
                 certificates: Certificates | None):
        self.directory = directory
        self.config = config
        self.host = HOST
        self.port = port
        self.tls_port = tls_port
        self.certificates = certificates
        files = certificates or Certificates(*[None] * 6)  # no TLS listener: all None
        self.ca_file, self.wrong_ca_file = files.ca_file, files.wrong_ca_file
        self.client_cert, self.client_key = files.client_cert, files.client_key
        self.log = directory / "mosquitto.log"
        self.process: subprocess.Popen | None = None

    def url(self, prefix: str, tls: bool = False, user: str | None = None, password: str | None = None,
            host: str | None = None) -> str:
        """mqtt://[user[:password]@]127.0.0.1:port/prefix, or mqtts:// to the TLS listener (by default
        through the name localhost, which its certificate names)."""
        login = ""
        if user is not None:
            login = user + (f":{password}" if password is not None else "") + "@"
        if tls:
            return f"mqtts://{login}{host or 'localhost'}:{self.tls_port}/{prefix}"
        return f"mqtt://{login}{host or self.host}:{self.port}/{prefix}"

    def start(self, timeout: float = 10.0) -> None:
        """Starts the broker (again) and waits until every listener takes connections."""
        if self.process is not None and self.process.poll() is None:
            raise RuntimeError("the broker runs already")
        self.process = subprocess.Popen([MOSQUITTO, "-c", str(self.config)], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + timeout
        waiting = [port for port in (self.port, self.tls_port) if port]
        while waiting:
            if self.process.poll() is not None:
                raise RuntimeError(f"mosquitto ended with status {self.process.returncode}: "
                                   f"{self.process.stderr.read().strip()} {self.log_text()}")
            try:
                socket.create_connection((self.host, waiting[0]), timeout=0.5).close()
                waiting.pop(0)
            except OSError:
                if time.monotonic() > deadline:
                    self.kill()
                    raise RuntimeError(f"mosquitto does not listen on port {waiting[0]}: {self.log_text()}")
                time.sleep(0.02)

    def stop(self) -> None:
        """Ends the broker as a service manager would (SIGTERM): with persistence it saves its state."""
        self._end(signal.SIGTERM)

    def kill(self) -> None:
        """Ends the broker at once (SIGKILL): what it has not saved is lost, as in a crash."""
        self._end(signal.SIGKILL)

    def restart(self) -> None:
        """stop() and start(), on the same ports."""
        self.stop()
        self.start()

    def _end(self, how: signal.Signals) -> None:
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(how)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        self.process = None

    def log_text(self) -> str:
        try:
            return self.log.read_text(errors="replace")
        except OSError:
            return ""

    def client(self, user: str | None = None, password: str | None = None, client_id: str = ""):
        """A paho client connected to the plain listener, its network loop running; the caller ends it
        with disconnect() and then loop_stop()."""
        import paho.mqtt.client as mqtt

        client = mqtt.Client(client_id=client_id)
        if user is not None:
            client.username_pw_set(user, password)
        client.connect(self.host, self.port)
        client.loop_start()
        return client


def start_broker(directory: str | os.PathLike, *, users: dict[str, str] | None = None, acl: str | None = None,
                 tls: bool = False, certificates: Certificates | None = None, require_certificate: bool = False,
                 persistence: bool = False, anonymous: bool | None = None, max_queued_messages: int = 0,
                 extra: str = "") -> Broker:
    """Writes a configuration into directory and starts mosquitto with it on 127.0.0.1 (plain listener at
    .port; with tls also a TLS listener at .tls_port, with `certificates` or ones made in directory/certs).

    users: user name -> password, for a password file; anonymous clients are then refused unless anonymous
    is True. acl: the text of an ACL file. require_certificate: the TLS listener wants a client certificate
    signed by the CA. persistence: sessions and queued messages survive restart() (and are saved every
    second, so that some survive kill()). max_queued_messages: per client while it is away, 0 for no limit.
    extra: further configuration lines.
    """
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    port = free_port()
    lines = ["per_listener_settings false",
             # Run by root, mosquitto would become user mosquitto, who cannot read the test's files.
             *(["user root"] if os.geteuid() == 0 else []), f"log_dest file {directory / 'mosquitto.log'}",
             "log_type error", "log_type warning", "log_type notice", "log_type information",
             f"max_queued_messages {max_queued_messages}", "max_queued_bytes 0", f"listener {port} {HOST}"]
    tls_port = None
    if tls:
        certificates = certificates or make_certificates(directory / "certs")
        tls_port = free_port()
        lines += [f"listener {tls_port} {HOST}", f"cafile {certificates.ca_file}",
                  f"certfile {certificates.server_cert}", f"keyfile {certificates.server_key}",
                  f"require_certificate {'true' if require_certificate else 'false'}"]
    if users:
        passwords = directory / "passwords"
        passwords.unlink(missing_ok=True)
        for k, (user, password) in enumerate(users.items()):
            subprocess.run([MOSQUITTO_PASSWD, "-b", *(["-c"] if k == 0 else []), str(passwords), user, password],
                           check=True, capture_output=True)
        lines.append(f"password_file {passwords}")
    if anonymous is None:
        anonymous = not users
    lines.append(f"allow_anonymous {'true' if anonymous else 'false'}")
    if acl is not None:
        (directory / "acl").write_text(acl)
        lines.append(f"acl_file {directory / 'acl'}")
    if persistence:
        # mosquitto takes the location as a prefix: it wants the trailing slash.
        lines += ["persistence true", f"persistence_location {directory}/", "autosave_interval 1"]
    config = directory / "mosquitto.conf"
    config.write_text("\n".join(lines) + "\n" + extra)
    broker = Broker(directory, config, port, tls_port, certificates)
    broker.start()
    return broker
