"""Amplifier against kolmsim: values, every family of settings, round trips, errors, a vanished device,
arguments refused before they reach the library."""

import errno
import os
import time

import numpy as np
import pytest

import pekolm


def _one_more_set(amp):
    amp.request_value()
    amp.mode  # the answer to a query comes after the value asked for before it, so that one is in


def test_values_come_as_sets_of_four(amp):
    _one_more_set(amp)
    assert amp.received >= 1
    values = amp.read()
    assert values.dtype == np.float64 and values.ndim == 2 and values.shape[0] >= 1 and values.shape[1] == 4
    assert np.all(np.abs(values) <= 1.05)
    _one_more_set(amp)
    assert amp.read(max_samples=1).shape == (1, 4)
    _one_more_set(amp)
    assert amp.read_channel(3).shape[0] >= 1
    amp.clear()


@pytest.mark.parametrize("reading, kind", [
    (lambda a: a.tx_mode, int),
    (lambda a: a.mode, int),
    (lambda a: a.firmware_version, int),
    (lambda a: a.serial_number, str),
    (lambda a: a.data_rate, float),
    (lambda a: a.get_threshold(1), tuple),
    (lambda a: a.get_scale(1, 1), int),
    (lambda a: a.get_gain(1), int),
    (lambda a: a.gains, tuple),
    (lambda a: a.analogue_types, tuple),
    (lambda a: a.display_norms, tuple),
    (lambda a: a.get_offset(1, 1), int),
    (lambda a: a.get_digital_io_type(1), int),
    (lambda a: a.get_digital_io(1), bool),
    (lambda a: a.digital_io_states, int),
    (lambda a: a.serial_baud, int),
    (lambda a: a.can_baud, int),
    (lambda a: a.get_can_id(1), int),
    (lambda a: a.get_unit(1), int),
    (lambda a: a.units, tuple),
    (lambda a: a.free_unit_text, str),
])
def test_every_setting_reads(amp, reading, kind):
    assert isinstance(reading(amp), kind)


def test_a_fresh_amplifier(amp):
    assert amp.startup_error is None
    assert amp.data_rate == 25.0
    assert amp.tx_mode & 0x02  # kolmsim starts transmitting
    assert amp.serial_baud == 115200


@pytest.mark.parametrize("get, set, value", [
    (lambda a: a.data_rate, lambda a, v: setattr(a, "data_rate", v), 12.5),
    (lambda a: a.tx_mode, lambda a, v: setattr(a, "tx_mode", v), 0x06),  # the other bits pass through
    (lambda a: a.get_unit_text(2), lambda a, v: a.set_unit_text(2, v), "µm/m"),  # 0xB5 on the wire
    (lambda a: a.free_unit_text, lambda a, v: setattr(a, "free_unit_text", v), "°C"),
    (lambda a: a.get_display_norm(3), lambda a, v: a.set_display_norm(3, v), -1.0),  # -1.0 is no failure
    (lambda a: a.get_can_id(4), lambda a, v: a.set_can_id(4, v), 0xFFFFFFFF),  # nor is -1 from the C call
    (lambda a: a.serial_number, lambda a, v: setattr(a, "serial_number", v), "AB12CD34"),
    (lambda a: a.get_threshold(2), lambda a, v: a.set_threshold(2, *v), (0.5, -0.25)),
], ids=["data_rate", "tx_mode", "unit_text", "free_unit_text", "display_norm", "can_id", "serial_number",
        "threshold"])
def test_set_then_get(amp, get, set, value):
    before = get(amp)
    try:
        set(amp, value)
        assert get(amp) == pytest.approx(value, abs=1e-4)
    finally:
        set(amp, before)


@pytest.mark.parametrize("call, code, name, text", [
    (lambda a: pekolm.Amplifier(2, 115200).open(), 2, "ENOENT", os.strerror(2)),  # kolmsim plays port 1 only
    (lambda a: a.set_gain(1, 9), 0x30000100, "bad_argument", "out of range"),
    (lambda a: a.set_unit_text(1, "KG"), 0x30000100, "bad_argument", "out of range"),  # the table has "kg"
    (lambda a: pekolm.Amplifier(300).open(), 0x30000101, "bad_port", "not open"),
])
def test_failures_raise_with_the_library_code(amp, call, code, name, text):
    with pytest.raises(pekolm.PekolmError) as raised:
        call(amp)
    assert (raised.value.code, raised.value.name) == (code, name)
    assert text in raised.value.message and raised.value.message in str(raised.value)


def test_a_device_that_went_away_fails_every_read(start_kolmsim, tmp_path, monkeypatch):
    port = 9  # a kolmsim of its own: the session's amplifier stays
    simulator = start_kolmsim(tmp_path, port)
    monkeypatch.setenv("PEKOLM_PORT_DIR", str(tmp_path))
    with pekolm.Amplifier(port, 115200) as amp:
        simulator.kill()
        simulator.wait()
        # The receive thread notices the hang-up on its own time; until then reads succeed.
        deadline = time.monotonic() + 60
        while True:
            try:
                amp.read()
            except pekolm.PekolmError as error:
                first = error
                break
            assert time.monotonic() < deadline, "no read reported the vanished device"
        assert (first.name, first.errno) == ("EIO", errno.EIO) and first.values.shape[1:] == (4,)
        # Values decoded just before the hang-up may still wait; they come with the error too.
        while amp.received:
            with pytest.raises(pekolm.PekolmError):
                amp.read()
        # With nothing waiting only a read asks the library, since Kolmreceived does not report the error.
        for read, shape in ((amp.read, (0, 4)), (lambda: amp.read_channel(2), (0,))):
            with pytest.raises(pekolm.PekolmError) as raised:
                read()
            assert raised.value.name == "EIO" and raised.value.values.shape == shape


@pytest.mark.parametrize("call, error, says", [
    # ctypes would pass the low 32 bits: port 1, channel 2, a scale of -2**31, slot 1 set to 0.
    (lambda a: pekolm.Amplifier(2**32 + 1), ValueError, "port must fit a C int"),
    (lambda a: a.get_gain(2**32 + 2), ValueError, "channel must fit a C int (-2147483648..2147483647), not 42949"),
    (lambda a: a.get_gain(-(2**31) - 1), ValueError, "channel must fit a C int"),
    (lambda a: a.get_gain(10**5000), ValueError, "channel must fit a C int (-2147483648..2147483647), not an int"),
    (lambda a: a.set_scale(1, 5, 2**31), ValueError, "value must fit a C int"),
    (lambda a: setattr(a, "tx_mode", 2**32 + 2), ValueError, "tx_mode must fit a C int"),
    (lambda a: a.read_channel(2**32 + 3, max_samples=1), ValueError, "channel must fit a C int"),
    (lambda a: a.set_can_id(1, 2**32), ValueError, "identifier must be -2147483648..4294967295"),
    # The library would clamp these to a buffer of 1 and of its largest size.
    (lambda a: pekolm.Amplifier(1, buffer_size=-5), ValueError, "buffer_size must be 1..390451572, not -5"),
    (lambda a: pekolm.Amplifier(1, buffer_size=pekolm.MAX_BUFFER_SIZE + 1), ValueError, "buffer_size must be"),
    (lambda a: pekolm.Amplifier(1, flags=-1), ValueError, "flags must be 0..2147483647"),
    # int() and float() would take these: 115200.7 baud as 115200, True as channel 1, the text "25" as 25 Hz.
    (lambda a: pekolm.Amplifier(1, 115200.7), TypeError, "baud must be an int, not float"),
    (lambda a: pekolm.Amplifier(True), TypeError, "port must be an int, not bool"),
    (lambda a: pekolm.Amplifier(1.0), TypeError, "port must be a port number (int) or a device path"),
    (lambda a: pekolm.Amplifier(b"/dev/ttyUSB0"), TypeError, "a device path (str or os.PathLike), not bytes"),
    (lambda a: pekolm.Amplifier(""), ValueError, "not an empty path"),
    (lambda a: a.get_gain("2"), TypeError, "channel must be an int, not str"),
    (lambda a: a.zero(None), TypeError, "channel must be an int, not NoneType"),
    (lambda a: a.read(max_samples=1.5), TypeError, "max_samples must be an int, not float"),
    (lambda a: setattr(a, "data_rate", "25"), TypeError, "data_rate must be a real number, not str"),
    (lambda a: a.set_threshold(1, True, 0.0), TypeError, "on must be a real number, not bool"),
    (lambda a: a.set_display_norm(1, 10**400), ValueError, "norm is too large for a C double"),
    (lambda a: a.set_unit_text(1, None), TypeError, "text must be a str, not NoneType"),
    (lambda a: setattr(a, "serial_number", "AB12CD3Ω"), ValueError, "serial_number holds a character"),
])
def test_arguments_are_checked_before_the_library_sees_them(amp, call, error, says):
    def settings():  # those that a wrapped or truncated argument would have changed
        return amp.get_gain(2), amp.get_scale(1, 5), amp.tx_mode, amp.get_can_id(1), amp.get_threshold(1)

    before = settings()
    with pytest.raises(error) as raised:
        call(amp)
    assert says in str(raised.value)
    assert settings() == before
