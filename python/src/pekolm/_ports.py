"""Port numbers and device paths.

The library opens a port only by its number 1..255. On Linux port n is $PEKOLM_PORT_DIR/com<n> when that
variable is set (read at each activation), else the link /dev/pekolm/com<n> where it exists (the folder is a
build option of the library), else /dev/ttyS<n-1>; on Windows it is \\\\.\\COM<n>.

A device path becomes a number through a folder of this process's own: the path is linked there as
com<n> and PEKOLM_PORT_DIR is pointed at the folder. The variable then holds for every port of the
process, so each port opened by number is linked there too, to the device its number led to before.
"""

from __future__ import annotations

import atexit
import os
import re
import shutil
import sys
import tempfile
import threading

__all__ = ["PORT_DIR", "DEFAULT_PORT_DIR", "default_port_dir", "device_for", "expanded", "checked_path",
           "windows_port_number", "folder"]

PORT_DIR = "PEKOLM_PORT_DIR"
# The library's default folder is fixed when it is built; a build that moves it (the tests' builds point it
# into the build tree) has to be told to this side through the environment.
DEFAULT_PORT_DIR = "PEKOLM_DEFAULT_PORT_DIR"
LAST_PORT = 255


def default_port_dir() -> str:
    """The folder of com<n> links the library looks at when PEKOLM_PORT_DIR is not set."""
    return os.environ.get(DEFAULT_PORT_DIR) or "/dev/pekolm"


def device_for(number: int, port_dir: str | None, platform: str | None = None) -> tuple[str, str]:
    """(the device the library opens as port `number` with PEKOLM_PORT_DIR at port_dir (None: not set),
    the rule that gave it, in words)."""
    if (platform or sys.platform) == "win32":
        return f"\\\\.\\COM{number}", f"port {number} is \\\\.\\COM{number}"
    if port_dir:
        # Joined as the library joins them, a doubled slash and all; absolute, since a link in the folder of
        # links made from it must lead to it from there.
        port_dir = os.path.abspath(port_dir) if not os.path.isabs(port_dir) else port_dir
        return (f"{port_dir}/com{number}",
                f"port {number} is $PEKOLM_PORT_DIR/com{number}, PEKOLM_PORT_DIR being {port_dir}")
    default = default_port_dir()
    link = f"{default}/com{number}"
    # The library takes a dangling link as well (lstat), so that an unplugged adapter fails with ENOENT
    # rather than its number reaching another device.
    if os.path.lexists(link):
        return link, f"port {number} is the link {link}, since PEKOLM_PORT_DIR is not set and that link exists"
    return (f"/dev/ttyS{number - 1}",
            f"port {number} is /dev/ttyS{number - 1}, since PEKOLM_PORT_DIR is not set and there is no link "
            f"{link} (a device path opens any other device)")


def expanded(path: str) -> str:
    """path with the links it passes through: "/tmp/x/com1 -> /dev/ttyUSB0"."""
    shown, seen = [path], {path}
    while len(shown) < 8 and os.path.islink(shown[-1]):
        try:
            target = os.readlink(shown[-1])
        except OSError:
            break
        # A relative target is relative to the link's folder; shown as it is written would mislead.
        target = os.path.normpath(os.path.join(os.path.dirname(shown[-1]), target))
        if target in seen:
            break
        shown.append(target)
        seen.add(target)
    return " -> ".join(shown)


def checked_path(value) -> str:
    """A device path given for a port (str or os.PathLike), made absolute: the link to it lives elsewhere."""
    path = os.fspath(value)
    if not isinstance(path, str):
        raise TypeError(f"port must be an int or a device path given as str, not {type(path).__name__}")
    if not path:
        raise ValueError("port must be a port number or a device path, not an empty path")
    if "\0" in path:
        raise ValueError(f"port {path!r} holds a NUL character")
    return os.path.abspath(path)


_WINDOWS_PORT = re.compile(r"(?:\\\\\.\\)?COM([0-9]+)", re.IGNORECASE)


def windows_port_number(path: str) -> int:
    """The number of a Windows port given as COM<n> or \\\\.\\COM<n>; other paths the library cannot reach."""
    match = _WINDOWS_PORT.fullmatch(path)
    if not match or not 1 <= int(match.group(1)) <= LAST_PORT:
        raise ValueError(f"port {path!r}: on Windows the library reaches COM1..COM{LAST_PORT} only, given as "
                         f"COM<n> or \\\\.\\COM<n>")
    return int(match.group(1))


class _Folder:
    """This process's folder of com<n> links, and which numbers its ports hold."""

    def __init__(self):
        # Every folder this process or one it was forked from made: a PEKOLM_PORT_DIR naming one of them
        # is not the user's, who set the one kept as _original (None: not set) when a folder took over.
        self._ours: set[str] = set()
        self._original: str | None = None
        self._reset()

    def _reset(self):
        self._lock = threading.Condition(threading.Lock())
        self.path: str | None = None
        self._by_number: dict[int, str] = {}  # ports open by number: the device each was opened on
        self._by_path: dict[int, str] = {}  # numbers lent to device paths
        self._activating = 0

    def _forget_after_fork(self):
        # The child has forgotten every port (the library's fork handler); the folder is the parent's, and
        # the child's numbers (and those of programs it starts) must lead where the user's setting leads.
        original = self.user_port_dir()
        if os.environ.get(PORT_DIR) in self._ours:
            if original is None:
                os.environ.pop(PORT_DIR, None)
            else:
                os.environ[PORT_DIR] = original
        self._reset()

    def user_port_dir(self) -> str | None:
        """PEKOLM_PORT_DIR as the user set it (None: not set), also while it names this folder."""
        current = os.environ.get(PORT_DIR) or None
        return self._original if current in self._ours else current

    def user_environment(self) -> dict[str, str]:
        """os.environ with PEKOLM_PORT_DIR as the user set it, for programs that number ports themselves."""
        with self._lock:
            environment = dict(os.environ)
            user = self.user_port_dir()
        if user is None:
            environment.pop(PORT_DIR, None)
        else:
            environment[PORT_DIR] = user
        return environment

    def _in_charge(self) -> bool:
        return self.path is not None and os.environ.get(PORT_DIR) == self.path

    def _link(self, number: int, target: str) -> str:
        link = os.path.join(self.path, f"com{number}")
        # Replaced in one step: an activation of that number never finds the link missing.
        temporary = os.path.join(self.path, f".com{number}.new")
        if os.path.lexists(temporary):
            os.remove(temporary)
        os.symlink(target, temporary)
        os.replace(temporary, link)
        return link

    def _unlink(self, number: int) -> None:
        if self.path is not None:
            try:
                os.remove(os.path.join(self.path, f"com{number}"))
            except FileNotFoundError:
                pass

    def _take_over(self) -> None:
        if self._in_charge():
            return
        # Setting a variable while another thread's activation reads the environment is a race in C, so
        # the environment changes only while no activation runs.
        while self._activating:
            self._lock.wait()
        self._original = self.user_port_dir()
        if self.path is None:
            self.path = tempfile.mkdtemp(prefix="pekolm-ports-")
            self._ours.add(self.path)
            atexit.register(self._remove, self.path, os.getpid())
        # Ports open by number keep their descriptors; the links make a later activation of their numbers
        # reach the same devices.
        for number, device in self._by_number.items():
            self._link(number, device)
        os.environ[PORT_DIR] = self.path

    @staticmethod
    def _remove(path: str, owner: int) -> None:
        if os.getpid() == owner:  # not a forked child's exit
            shutil.rmtree(path, ignore_errors=True)

    def lend_number(self, path: str) -> tuple[int, str]:
        """A free number for the device path, counting down from 255, and its link to the path."""
        with self._lock:
            self._take_over()
            for number in range(LAST_PORT, 0, -1):
                if number not in self._by_path and number not in self._by_number:
                    break
            else:
                raise ValueError(f"port {path!r}: all {LAST_PORT} port numbers are in use in this process")
            link = self._link(number, path)
            self._by_path[number] = path
            return number, link

    def take_number(self, number: int) -> tuple[str, str, str, bool]:
        """For an activation of port `number`: (what the library will open, the device the number leads to
        for the user, the rule that gave it, whether this call registered the number: False when a port
        of this process holds it already, which the library then refuses)."""
        with self._lock:
            device, rule = device_for(number, self.user_port_dir())
            held = self._by_path.get(number) or self._by_number.get(number)
            if held is not None:
                return (os.path.join(self.path, f"com{number}") if self._in_charge() else held), device, rule, False
            opened = self._link(number, device) if self._in_charge() else device
            self._by_number[number] = device
            return opened, device, rule, True

    def release(self, number: int, lent: bool) -> None:
        """Port `number` was closed (or did not open): a lent number, or one taken by number, is free again."""
        with self._lock:
            if (self._by_path if lent else self._by_number).pop(number, None) is not None:
                self._unlink(number)

    def activating(self) -> _Activation:
        return _Activation(self)


class _Activation:
    """Counts an activation as running, so that the environment is not changed under it."""

    def __init__(self, owner: _Folder):
        self._owner = owner

    def __enter__(self):
        with self._owner._lock:
            self._owner._activating += 1

    def __exit__(self, *exc_info):
        with self._owner._lock:
            self._owner._activating -= 1
            self._owner._lock.notify_all()


folder = _Folder()
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=folder._forget_after_fork)
