"""The simulated device: a device of the context's model where its link looks
for it (behind a simulated USB transceiver, in Bluetooth or IrDA range, or as
a Bluetooth LE device), its signals, and the faults a measurement can be
given, written as for qdacq --sim-fault:

    lost-reply[=CMD]   the device never answers CMD once (default stop)
    link-loss@S[+MS]   at second S the radio link is down for MS ms (500), then
                       the device reports the link failure (event 0x61); a
                       Bluetooth or IrDA device's connection breaks at once
    unplug@S[+MS]      the transceiver is pulled out (and plugged in after MS)
    phase-gap@S[xN]    N data messages (1) are lost
    silence@S[+MS]     no data for MS ms (2500)
    garbage@S[xN]      N bytes of noise (16) reach the driver
    event@S=CODE[,DATA], battery@S=STATE, signal@S=CH:STATE (CH 0.. or sum)
"""

import collections
import ctypes
import re
import threading
import time

import numpy as np

from . import _driver as drv
from ._errors import QuorvaneError

_SIGNALS = {"sine": 0, "ramp": 1, "const": 2, "square": 3}
_COMMANDS = {"info": 0x00, "firmware": 0x01, "state": 0x03, "notif": 0x04, "config": 0x07, "start": 0x08,
             "stop": 0x0A, "test-start": 0x0B, "test-stop": 0x0C, "restart": 0x0D}
# name: (pattern after the name, default duration ms, default count)
_FAULTS = {
    "link-loss": (r"\+(?P<ms>[\d.]+)", 500, 0), "unplug": (r"\+(?P<ms>[\d.]+)", 0, 0),
    "silence": (r"\+(?P<ms>[\d.]+)", 2500, 0), "phase-gap": (r"x(?P<count>\d+)", 0, 1),
    "garbage": (r"x(?P<count>\d+)", 0, 16), "event": (r"=(?P<code>\w+)(,(?P<data>\w+))?", 0, 0),
    "battery": (r"=(?P<data>\w+)", 0, 0), "signal": (r"=(?P<channel>sum|[0-5]):(?P<data>[0-3])", 0, 0),
}


class FtSimSignal(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("amplitude", ctypes.c_int), ("offset", ctypes.c_int),
                ("frequency", ctypes.c_float)]


SAMPLE_RECORD = np.dtype([("tick", "<u4"), ("index", "<u4"), ("value", "<i2"), ("fate", "u1"), ("reserved", "u1")])


def _number(text):
    return int(text, 0) if re.fullmatch(r"0[xX][0-9a-fA-F]+|\d+", text) else None


def parse_fault(text):
    """A fault as a dict: kind, at (s), ms, count, code, data, channel."""
    name, _, rest = text.partition("@") if "@" in text else text.partition("=")
    if name == "lost-reply":
        code = _COMMANDS.get(rest or "stop", _number(rest or "x"))
        if "@" in text or code is None or code >= 0x40:
            raise QuorvaneError("lost-reply needs a command: %s or a code below 0x40" % ", ".join(_COMMANDS))
        return {"kind": name, "code": code, "at": 0.0}
    if name not in _FAULTS:
        raise QuorvaneError("unknown fault %r; the faults are:\n%s" % (name, __doc__.split("\n\n")[1]))
    tail, ms, count = _FAULTS[name]
    optional = "" if name in ("event", "battery", "signal") else "?"
    m = re.fullmatch(r"(?P<at>[\d.]+)(%s)%s" % (tail, optional), rest)
    if not m:
        raise QuorvaneError("cannot read the fault %r; the faults are:\n%s" % (text, __doc__.split("\n\n")[1]))
    g = m.groupdict()
    data = _number(g["data"]) if g.get("data") else -1
    code = _number(g["code"]) if g.get("code") else 0
    if data is None or code is None or data > 255 or code > 255 or (g.get("count") and int(g["count"]) < 1):
        raise QuorvaneError("cannot read the fault %r" % text)
    channel = -1 if g.get("channel") == "sum" else int(g.get("channel") or 0)
    return {"kind": name, "at": float(g["at"]), "ms": int(float(g.get("ms") or ms)),
            "count": int(g.get("count") or count), "code": code, "data": data, "channel": channel}


def _bind(lib):
    c = ctypes
    protos = {
        "ftsimReset": (None, []), "ftsimAdd": (c.c_int, [c.c_char_p, c.c_char_p]),
        "ftsimRemove": (c.c_int, [c.c_int]), "ftsimUnplug": (c.c_int, [c.c_int]),
        "ftsimAddBluetooth": (c.c_int, [c.c_char_p, c.c_char_p]), "ftsimAddIrda": (c.c_int, [c.c_char_p]),
        "ftsimAddBle": (c.c_int, [c.c_char_p, c.c_char_p]), "ftsimDropConnection": (c.c_int, [c.c_int]),
        "ftsimReplug": (c.c_int, [c.c_int]),
        "ftsimAttachNewDeviceEx": (c.c_int, [c.c_int, c.c_char_p, c.c_char_p, c.POINTER(FtSimSignal), c.c_int]),
        "ftsimDeviceSetFault": (c.c_int, [c.c_int, c.c_int, c.c_int, c.c_uint32, c.c_int32]),
        "ftsimDeviceDropData": (c.c_int, [c.c_int, c.c_uint32]),
        "ftsimDeviceSilence": (c.c_int, [c.c_int, c.c_uint32]),
        "ftsimDeviceSetLinkUp": (c.c_int, [c.c_int, c.c_int]),
        "ftsimDeviceInjectBytes": (c.c_int, [c.c_int, c.c_void_p, c.c_size_t]),
        "ftsimDeviceSendEvent": (c.c_int, [c.c_int, c.c_int, c.c_int]),
        "ftsimDeviceSetSignalState": (c.c_int, [c.c_int, c.c_int, c.c_int]),
        "ftsimDeviceRecordSamples": (c.c_int, [c.c_int, c.c_int, c.c_void_p, c.c_uint32]),
        "ftsimDeviceRecordCount": (c.c_int32, [c.c_int, c.c_int]),
    }
    for name, (restype, argtypes) in protos.items():
        fn = getattr(lib, name, None)
        if fn is None:
            raise QuorvaneError("the library %s is not the device simulator: it lacks %s" % (drv.loaded.sim_path, name))
        fn.restype, fn.argtypes = restype, argtypes
    return lib


# Where a simulated device of each link kind sits, for the n-th simulated
# device of the process: how the simulator adds it, and the "Device id" the
# context needs when the model's default does not find it (None: the link
# takes the device in range), whether the driver reaches it through the
# Bluetooth LE stand-in, and whether its link loss is a dropped connection
# (a socket link) rather than its radio link going down. The first
# Bluetooth or Bluetooth LE device carries the default id ("Quorvane
# Halvex*") as its name, the others a name of their own, so that a search by
# the default name finds the first only. An IrDA link takes the first device
# in range, so there is one.
def _name(n):
    return b"Quorvane Halvex*" if n == 1 else b"Quorvane Halvex* %d" % n


_Port = collections.namedtuple("_Port", "add device_id ble_stand_in socket")
_PORTS = {
    drv.LINK_USB: _Port(lambda lib, n: lib.ftsimAdd(b"QVSIM%03d" % n, None), "QVSIM%03d", False, False),
    drv.LINK_BT: _Port(lambda lib, n: lib.ftsimAddBluetooth(b"00:80:98:51:56:%02X" % n, _name(n)),
                       "00:80:98:51:56:%02X", False, True),
    drv.LINK_BLE: _Port(lambda lib, n: lib.ftsimAddBle(_name(n), b"0A1B2C3D4E%02X" % n), "0A:1B:2C:3D:4E:%02X",
                        True, False),
    drv.LINK_IRDA: _Port(lambda lib, n: lib.ftsimAddIrda(b"Quorvane Brev"), None, False, True),
}


class SimulatedDevice:
    """The simulated device of one context, and its faults."""

    _numbers = {}      # number -> link type of the simulated devices in use

    def __init__(self, model, link, signal=None, amplitude=1000, frequency=1.0, offset=0, faults=()):
        self.lib = _bind(drv.loaded.sim)
        self.faults = [parse_fault(f) for f in faults]
        if signal is not None and signal not in _SIGNALS:
            raise QuorvaneError("signal is sine, ramp, square or const, not %r" % (signal,))
        if link not in _PORTS:
            raise QuorvaneError("the simulator has no stand-in for the link of %r" % model)
        if _PORTS[link].ble_stand_in and drv.loaded.ble is None:
            raise QuorvaneError(drv.loaded.ble_error or "the simulator's Bluetooth LE stand-in is not loaded")
        add, device_id = _PORTS[link].add, _PORTS[link].device_id
        if device_id is None and link in SimulatedDevice._numbers.values():
            raise QuorvaneError("the simulator has one IrDA device in range at a time (the driver opens the first "
                                "one): close the other simulated %r first" % model)
        if not SimulatedDevice._numbers:
            self.lib.ftsimReset()
        number = min(set(range(1, 11)) - set(SimulatedDevice._numbers))
        self.tx = add(self.lib, number)
        signals, count = None, 0
        if signal is not None:
            count = 6
            signals = (FtSimSignal * 6)(*[FtSimSignal(_SIGNALS[signal], amplitude, offset, frequency)] * 6)
        if self.tx < 0 or self.lib.ftsimAttachNewDeviceEx(self.tx, model.encode(), None, signals, count) < 0:
            if self.tx >= 0:
                self.lib.ftsimRemove(self.tx)
            raise QuorvaneError("the simulator has no device of the model %r" % model)
        SimulatedDevice._numbers[number] = link
        self.number, self.link = number, link
        # Any but the first simulated device: the context asks for it by its own id.
        self.device_id = device_id % number if device_id and number > 1 else None
        self.records = {}
        self.thread = None
        self.stopping = threading.Event()

    def close(self):
        self.stop_faults()
        for channel in list(self.records):
            self.lib.ftsimDeviceRecordSamples(self.tx, channel, None, 0)
        self.lib.ftsimRemove(self.tx)
        SimulatedDevice._numbers.pop(self.number, None)

    def record(self, channel, capacity):
        """Keeps the next `capacity` samples the device generates on a channel."""
        buffer = np.zeros(capacity, SAMPLE_RECORD)
        self.records[channel] = buffer
        self.lib.ftsimDeviceRecordSamples(self.tx, channel, buffer.ctypes.data, capacity)

    def generated(self, channel):
        """What was recorded: fields tick, index, value (device units), fate (0 sent)."""
        buffer = self.records[channel]
        return buffer[:min(len(buffer), max(0, self.lib.ftsimDeviceRecordCount(self.tx, channel)))].copy()

    # -- faults -------------------------------------------------------------

    def start_faults(self):
        for f in self.faults:
            if f["kind"] == "lost-reply":
                self.lib.ftsimDeviceSetFault(self.tx, f["code"], 1, 0, 1)
        timed = sorted([f for f in self.faults if f["kind"] != "lost-reply"], key=lambda f: f["at"])
        if timed:
            self.stopping.clear()
            self.thread = threading.Thread(target=self._run, args=(timed, time.monotonic()), daemon=True)
            self.thread.start()

    def stop_faults(self):
        self.stopping.set()
        if self.thread is not None:
            self.thread.join()
            self.thread = None

    def _run(self, faults, start):
        steps = []
        socket_link = _PORTS[self.link].socket
        for f in faults:
            steps.append((f["at"], f, True))
            if (f["kind"] == "link-loss" and not socket_link) or (f["kind"] == "unplug" and f["ms"] > 0):
                steps.append((f["at"] + f["ms"] / 1000.0, f, False))
        for at, f, begin in sorted(steps, key=lambda s: s[0]):
            if self.stopping.wait(max(0.0, start + at - time.monotonic())):
                return
            self._apply(f, begin)

    def _apply(self, f, begin):
        lib, tx, kind = self.lib, self.tx, f["kind"]
        if kind == "link-loss" and _PORTS[self.link].socket:
            lib.ftsimDropConnection(tx)        # the driver reconnects
        elif kind == "link-loss":
            lib.ftsimDeviceSetLinkUp(tx, 0 if begin else 1)
            if not begin:
                lib.ftsimDeviceSendEvent(tx, 0x61, -1)
        elif kind == "unplug":
            (lib.ftsimUnplug if begin else lib.ftsimReplug)(tx)
        elif kind == "phase-gap":
            lib.ftsimDeviceDropData(tx, f["count"])
        elif kind == "silence":
            lib.ftsimDeviceSilence(tx, f["ms"])
        elif kind == "garbage":
            noise, x = bytearray(), 0x2545F491
            for _ in range(f["count"]):
                x ^= (x << 13) & 0xFFFFFFFF
                x ^= x >> 17
                x ^= (x << 5) & 0xFFFFFFFF
                noise.append(x & 0xFF)
            lib.ftsimDeviceInjectBytes(tx, bytes(noise), len(noise))
        elif kind in ("event", "battery"):
            lib.ftsimDeviceSendEvent(tx, f["code"] if kind == "event" else 0x40, f["data"])
        elif kind == "signal":
            lib.ftsimDeviceSetSignalState(tx, f["channel"], f["data"])
