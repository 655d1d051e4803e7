"""What arrives during a measurement: the samples of each data message copied
into preallocated rings (one per sampling rate), phase continuity, and the
indicators and user messages as events.

Samples are kept as the driver delivers them (32-bit, the device value times
65536) and turned into physical units when they are read:
    value = sample * R / 2^31 = device value * R / 32768,  R = "Measurement range",
the line the EDF header describes.

A tick is one period of the fastest channel; the driver's 16-bit phase counts
ticks. The time of each sample comes from a clock model: the ticks (the phase
unwrapped) against the packets' arrival times on time.monotonic(), fitted by
their lower envelope (the edge of the arrivals' lower convex hull above their
mean tick; the nominal period until a second is covered), so that times are
regular on the device's clock and free of drift against the host's. A gap in the phase (data the device or the link lost) and a packet that
finds its ring full are both lost samples: they are counted, and they show in
the data read as NaN at their place, so that every block keeps its time axis.
"""

import ctypes
import datetime
import threading
import time
from collections import deque
from dataclasses import dataclass

import numpy as np

from . import _driver as drv

_FULL_SCALE = 2147483648.0
_LINK = {0: "disconnected", 1: "connected", 2: "link error", 3: "connecting"}
_BATTERY = {0: "empty", 1: "low", 2: "good", 3: "full"}
_SIGNAL = {0: "good", 1: "fair", 2: "overflow", 3: "fault"}
_MAX_EVENTS = 10000
_MAX_ANNOTATIONS = 100000
_ANNOTATION_TEXT = 120     # bytes of an annotation's UTF-8 text, as the EDF+ writer keeps
_EMPTY_MARKER = "Marker"
_memmove = ctypes.memmove


def annotation_text(text):
    """What a marker keeps of a text: control characters become spaces, it is
    cut to 120 bytes of UTF-8 at a character, surrounding spaces go; an empty
    text is "Marker"."""
    clean = "".join(" " if ord(c) < 32 or ord(c) == 127 else c for c in str(text))
    data = clean.encode("utf-8", "replace")[:_ANNOTATION_TEXT]
    return data.decode("utf-8", "ignore").strip() or _EMPTY_MARKER


class ClockFit:
    """Host seconds against ticks: the lower envelope of (tick, arrival)."""

    def __init__(self, tick_rate):
        self.nominal = 1.0 / tick_rate
        self.hull, self.sum, self.n = [], 0.0, 0
        self.offset, self.period = 0.0, self.nominal

    def add(self, tick, host):
        h = self.hull
        self.sum += tick
        self.n += 1
        if h and tick <= h[-1][0]:
            if host >= h[-1][1]:
                return
            h.pop()
        while len(h) >= 2 and ((h[-1][0] - h[-2][0]) * (host - h[-2][1]) -
                               (h[-1][1] - h[-2][1]) * (tick - h[-2][0])) <= 0:
            h.pop()
        h.append((tick, host))

    def line(self):
        """(offset, period): host = offset + tick * period."""
        h = self.hull
        if len(h) >= 2 and (h[-1][0] - h[0][0]) * self.nominal >= 1.0:
            mean = self.sum / self.n
            i = max(0, min(len(h) - 2, np.searchsorted([p[0] for p in h], mean, side="right") - 1))
            period = (h[i + 1][1] - h[i][1]) / (h[i + 1][0] - h[i][0])
            if abs(period / self.nominal - 1) <= 0.01:
                return h[i][1] - h[i][0] * period, period
        return min(p[1] - p[0] * self.nominal for p in h), self.nominal

    @property
    def ppm(self):
        return (self.nominal / self.line()[1] - 1) * 1e6 if self.hull else 0.0


@dataclass
class Annotation:
    """A marker (Device.annotate) or a span without samples ("BAD_ACQ_SKIP"):
    tick since the start (fractional), duration in seconds, text."""
    tick: float
    duration: float
    text: str


@dataclass
class Event:
    """An indicator change, a user message or a loss, with its meaning in words.
    kind: "link", "battery", "pause", "signal", "message", "lost" or "indicator";
    time: seconds since the measurement started."""
    time: float
    kind: str
    value: object
    text: str
    error: bool = False


@dataclass
class ChannelInfo:
    index: int           # channel number from 0
    name: str            # "Channel name" (A, B, ...)
    label: str           # "Channel label" (may be empty)
    unit: str            # unit of "Measurement range"
    range: float         # "Measurement range"
    rate: float          # "Sample rate" (sps)
    function: str        # "Channel function"
    profile: str         # "Channel profile"


class Block:
    """The channels of one sampling rate: data is channels x samples in
    physical units (NaN where samples were lost). tick is the tick of the
    first sample since the start, phase its 16-bit phase; lost counts the
    samples per channel lost in phase gaps, dropped those of packets that
    found the ring full."""

    def __init__(self, channels, rate, data, tick, tick_rate, start_time, lost, dropped, clock=None, unix=0.0):
        self.channels, self.rate, self.data = channels, rate, data
        self.tick, self.phase, self.tick_rate = tick, tick & 0xFFFF, tick_rate
        self.lost, self.dropped = lost, dropped
        self.clock, self.unix = clock, unix
        self.start_time = start_time + datetime.timedelta(seconds=tick / tick_rate) if start_time else None

    @property
    def times(self):
        """Each sample's time in seconds on the host's monotonic clock
        (time.monotonic()), from the clock model; None before any data."""
        if self.clock is None:
            return None
        ticks = self.tick + np.arange(self.data.shape[1]) * (self.tick_rate / self.rate)
        return self.clock[0] + ticks * self.clock[1]

    @property
    def unix_times(self):
        """The same as Unix time (seconds since 1970)."""
        t = self.times
        return None if t is None else t + self.unix

    names = property(lambda self: [c.label or c.name for c in self.channels])
    units = property(lambda self: [c.unit for c in self.channels])
    shape = property(lambda self: self.data.shape)

    def __array__(self, dtype=None):
        return self.data if dtype is None else self.data.astype(dtype)

    def __repr__(self):
        return "<Block %g sps, channels %s, %d samples, %d lost>" % (
            self.rate, ",".join(c.name for c in self.channels), self.data.shape[1], self.lost)


class Recording:
    """What was read: one Block per sampling rate (rec[rate] or iteration),
    and the measurement's start time. A recording of one rate converts to
    its channels x samples array (numpy.asarray)."""

    def __init__(self, blocks, start_time, annotations=()):
        self.blocks, self.start_time = blocks, start_time
        self.annotations = list(annotations)     # Annotation, ticks since the start

    rates = property(lambda self: [b.rate for b in self.blocks])
    lost = property(lambda self: sum(b.lost for b in self.blocks))

    def __getitem__(self, rate):
        for b in self.blocks:
            if b.rate == rate:
                return b
        raise KeyError("no channels at %r sps; the rates are %s" % (rate, self.rates))

    def __iter__(self):
        return iter(self.blocks)

    def __len__(self):
        return len(self.blocks)

    def __array__(self, dtype=None):
        if len(self.blocks) != 1:
            raise TypeError("the recording has %d sampling rates (%s sps): take one block, e.g. rec[%g]"
                            % (len(self.blocks), ", ".join("%g" % r for r in self.rates), self.rates[0]))
        return self.blocks[0].__array__(dtype)

    def __repr__(self):
        return "<Recording %s>" % ", ".join(repr(b) for b in self.blocks)

    @staticmethod
    def join(parts):
        """One recording from consecutive reads."""
        first = parts[0]
        blocks = []
        for i, b in enumerate(first.blocks):
            same = [p.blocks[i] for p in parts]
            data = np.concatenate([s.data for s in same], axis=1)
            blocks.append(Block(b.channels, b.rate, data, b.tick, b.tick_rate, first.start_time,
                                sum(s.lost for s in same), sum(s.dropped for s in same), parts[-1].blocks[i].clock,
                                b.unix))
        return Recording(blocks, first.start_time, [a for p in parts for a in p.annotations])

    def cut(self, seconds):
        """The first `seconds` of every block."""
        blocks = [Block(b.channels, b.rate, b.data[:, :int(round(seconds * b.rate))], b.tick, b.tick_rate,
                        self.start_time, b.lost, b.dropped, b.clock, b.unix) for b in self.blocks]
        return Recording(blocks, self.start_time, self.annotations)


class _Group:
    """The ring of one sampling rate: int32 samples, channels x capacity."""

    def __init__(self, channels, period, capacity):
        self.channels = channels
        self.fields = [4 * c.index for c in channels]    # the channel's count in the unpacked blocks
        self.period = period                 # ticks per sample
        self.capacity = capacity
        self.ring = np.zeros((len(channels), capacity), dtype=np.int32)
        self.base = self.ring.ctypes.data
        self.head = 0                        # samples written (all time)
        self.tail = 0                        # samples read
        self.gaps = []                       # [position, lost, dropped] in order

    def due(self, tick, ticks):
        """Samples of this rate in the ticks [tick, tick + ticks)."""
        return (tick + ticks) // self.period - tick // self.period

    def gap(self, lost, dropped):
        if self.gaps and self.gaps[-1][0] == self.head:
            self.gaps[-1][1] += lost
            self.gaps[-1][2] += dropped
        else:
            self.gaps.append([self.head, lost, dropped])


class Receiver:
    """The samples and events of one measurement on one context."""

    def __init__(self, channels, seconds):
        self.channels = channels
        rates = sorted({c.rate for c in channels}, reverse=True)
        self.tick_rate = rates[0] if rates else 1.0
        self.groups = []
        for rate in rates:
            period = max(1, int(round(self.tick_rate / rate)))
            self.groups.append(_Group([c for c in channels if c.rate == rate], period,
                                      max(64, int(seconds * rate) + 64)))
        count = max([c.index for c in channels] + [0]) + 1
        layout = drv.block_struct(count)
        self.unpack, self.blocks_size = layout.unpack_from, layout.size
        self.blocks = {}                     # address -> ctypes view of the blocks
        self.lock = threading.Lock()
        self.expected = 0                    # tick the next packet should begin with
        self.read_tick = 0                   # tick at which the next read begins
        self.events = deque()
        self.events_lost = 0
        self.started = time.monotonic()
        self.start_time = None               # wall-clock time of tick 0
        self.last_error = None
        self.packets = 0
        self.overflowing = False
        self.fit = ClockFit(self.tick_rate)
        self.unix = time.time() - time.monotonic()   # Unix time less the monotonic clock
        self.annotations = []                 # Annotation, not yet read

    # -- engine thread ------------------------------------------------------

    def packet(self, phase, address):
        # Hot path: one struct call reads every block, one memmove per channel.
        view = self.blocks.get(address)
        if view is None:
            view = self.blocks[address] = (ctypes.c_char * self.blocks_size).from_address(address)
        f = self.unpack(view)
        ticks = max(f[0::4])
        if ticks == 0:
            return
        arrival = time.monotonic()
        with self.lock:
            self.packets += 1
            if (phase - self.expected) & 0xFFFF or self.start_time is None:
                self._irregular(phase, ticks)
            tick = self.expected
            self.expected = end = tick + ticks
            self.fit.add(end, arrival)
            due = [end // g.period - tick // g.period for g in self.groups]
            if any(g.capacity - g.head + g.tail < n for g, n in zip(self.groups, due)):
                self._overflow(due, ticks)
                return
            self.overflowing = False
            for g, n in zip(self.groups, due):
                at = g.head % g.capacity
                for row, c in enumerate(g.fields):
                    source = f[c + 1]
                    if source and at + n <= g.capacity:
                        _memmove(g.base + (row * g.capacity + at) * 4, source, min(f[c], n) * 4)
                    elif source:
                        self._copy(g, row, source, f[c], n)
                g.head += n

    def _irregular(self, phase, ticks):
        """The first packet (the start time) or a phase gap."""
        if self.start_time is None:
            self.start_time = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(
                seconds=ticks / self.tick_rate)
        gap = (phase - self.expected) & 0xFFFF
        if gap:
            if len(self.annotations) < _MAX_ANNOTATIONS:
                self.annotations.append(Annotation(self.expected, gap / self.tick_rate, "BAD_ACQ_SKIP"))
            self._lost(gap, phase)

    def _overflow(self, due, ticks):
        """A packet that finds a ring full: its samples are counted as dropped."""
        if not self.overflowing:
            self._event("lost", ticks, "buffer full: samples dropped until they are read", True)
        self.overflowing = True
        for g, n in zip(self.groups, due):
            if n:
                g.gap(0, n)

    def _copy(self, g, row, source, count, n):
        at = g.head % g.capacity
        first = min(n, g.capacity - at)
        count = min(count, n)
        dst = g.base + (row * g.capacity + at) * 4
        ctypes.memmove(dst, source, min(count, first) * 4)
        if count > first:
            ctypes.memmove(g.base + row * g.capacity * 4, source + first * 4, (count - first) * 4)

    def _lost(self, gap, phase):
        for g in self.groups:
            n = g.due(self.expected, gap)
            if n:
                g.gap(n, 0)
        self._event("lost", gap, "samples lost: %d ticks (phase %d, expected %d)"
                    % (gap, phase, self.expected & 0xFFFF), True)
        self.expected += gap

    def indicator(self, kind, value):
        if kind == drv.IND_LINK:
            self._event("link", value, "link: %s (%d)" % (_LINK.get(value, "unknown"), value), value == 2)
        elif kind == drv.IND_BATTERY:
            self._event("battery", value, "battery: %s (%d)" % (_BATTERY.get(value, "unknown"), value), value < 2)
        elif kind == drv.IND_PAUSE:
            self._event("pause", value, "pause: %s" % ("paused" if value else "running"))
        elif kind == drv.IND_SIGNAL:
            k, state = value >> 8, value & 0xFF
            who = "SUM (common voltage)" if k == 0 else "channel " + chr(ord("A") + k - 1)
            self._event("signal", value, "signal %s: %s (%d)" % (who, _SIGNAL.get(state, "unknown"), state),
                        state >= 2)
        else:
            self._event("indicator", value, "indicator %d = %d" % (kind, value))

    def message(self, text):
        error = text.startswith("!")
        if error:
            self.last_error = text[1:]
        self._event("message", None, ("error: " if error else "message: ") + text.lstrip("!"), error)

    def annotate(self, text, when):
        """A marker at host seconds `when`: the tick the clock puts there
        (before the first sample: on it)."""
        with self.lock:
            if not self.fit.hull:
                tick = 0.0
            else:
                offset, period = self.fit.line()
                tick = max(0.0, (when - offset) / period)
            if len(self.annotations) >= _MAX_ANNOTATIONS:
                return False
            self.annotations.append(Annotation(tick, 0.0, annotation_text(text)))
            return True

    def _event(self, kind, value, text, error=False):
        if len(self.events) >= _MAX_EVENTS:
            self.events_lost += 1
            return
        self.events.append(Event(round(time.monotonic() - self.started, 3), kind, value, text, error))

    # -- host thread --------------------------------------------------------

    def pending(self):
        return any(g.head > g.tail or g.gaps for g in self.groups)

    def take(self):
        """Everything that arrived since the last take, as a Recording."""
        with self.lock:
            tick, end = self.read_tick, self.expected
            parts = []
            for g in self.groups:
                n = g.head - g.tail
                at = g.tail % g.capacity
                raw = np.concatenate([g.ring[:, at:at + n], g.ring[:, :max(0, at + n - g.capacity)]], axis=1)
                parts.append((raw, g.gaps, g.tail))
                g.tail, g.gaps = g.head, []
            self.read_tick = end
            clock = self.fit.line() if self.fit.hull else None
            notes, self.annotations = self.annotations, []
        blocks = [self._block(g, raw, gaps, tail, tick, clock) for g, (raw, gaps, tail) in zip(self.groups, parts)]
        return Recording(blocks, self.start_time, notes)

    def _block(self, g, raw, gaps, tail, tick, clock):
        lost = sum(x[1] for x in gaps)
        dropped = sum(x[2] for x in gaps)
        scale = np.array([c.range / _FULL_SCALE for c in g.channels])[:, None]
        data = np.empty((len(g.channels), raw.shape[1] + lost + dropped))
        out = src = 0
        for position, n_lost, n_dropped in gaps + [[tail + raw.shape[1], 0, 0]]:
            n = position - tail - src
            data[:, out:out + n] = raw[:, src:src + n] * scale
            out, src = out + n, src + n
            data[:, out:out + n_lost + n_dropped] = np.nan
            out += n_lost + n_dropped
        first = (tick + g.period) // g.period * g.period - 1     # due when (t + 1) % period == 0
        return Block(g.channels, g.channels[0].rate, data, first, self.tick_rate, self.start_time, lost, dropped,
                     clock, self.unix)

    def take_events(self):
        out = []
        while self.events:
            out.append(self.events.popleft())
        return out
