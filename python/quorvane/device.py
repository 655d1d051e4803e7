"""A device context: its parameters by display name, its settings files, and
its measurement."""

import atexit
import ctypes
import threading
import time
from pathlib import Path

from . import _driver as drv
from ._errors import QuorvaneError
from ._sim import SimulatedDevice
from ._stream import ChannelInfo, Receiver, Recording

_OPEN_RESULTS = {-1: "all 10 device contexts are in use", -2: "no such device model",
                 -3: "the context could not be selected"}
_STR2PARAM = {1: "not a valid value of its kind", 2: "no such option, or the value is refused",
              3: "constant, or not applicable with the current settings",
              4: "no such parameter for this model on that channel"}
_SETDEVCONFIG = {-1: "invalid context", -2: "not a settings file of this driver, or of an unknown storage version",
                 -3: "settings of a device model this one cannot take", -4: "no context could be opened for it",
                 -5: "the settings could not be converted to this model",
                 -6: "the parameter dependencies could not be rebuilt"}
_START = {1: "the link did not open (no such device, or it is in use)",
          2: "the link library could not start, or the connection thread was not created",
          4: "Bluetooth LE needs a newer operating system", -1: "invalid context, or the context is not idle",
          -2: "start mode not accepted by the device family"}
_KINDS = {drv.KIND_BOOL: "0 or 1 (off or on)", drv.KIND_INT: "a whole number", drv.KIND_FLOAT: "a number",
          drv.KIND_STRING: "a text"}
_STOP_WAIT = 5.0
_WORDS = {"on": "1", "true": "1", "yes": "1", "off": "0", "false": "0", "no": "0"}
_devices = set()        # open devices, closed at exit


def models():
    """The names of the device models the driver knows (without deciding
    whether the driver will run with the simulator)."""
    return drv.model_names()


def open(model, simulate=False, *, signal=None, amplitude=1000, frequency=1.0, offset=0, faults=(),
         sim_library=None, driver=None, shared_dir=None, buffer_seconds=30.0):
    """Opens a device context for a model name. simulate=True puts a simulated
    device of that model where its link looks for it (behind a simulated USB
    transceiver, in Bluetooth or IrDA range, or as a Bluetooth LE device),
    loading the simulator before the driver; signal ("sine", "ramp", "square", "const"),
    amplitude, frequency and offset (device units, Hz) replace every channel's
    signal, faults lists faults to inject during a measurement (as for qdacq
    --sim-fault). buffer_seconds: how much unread data the rings hold."""
    drv.load(driver, simulate, sim_library, shared_dir)
    return Device(model, simulate, dict(signal=signal, amplitude=amplitude, frequency=frequency, offset=offset,
                                        faults=faults), buffer_seconds)


def _channel_name(index):
    return chr(ord("A") + index)


class Device:
    def __init__(self, model, simulate, sim_options, buffer_seconds):
        self.lib = drv.driver()
        mark = drv.log_mark()
        context = self.lib.QdOpenDevContext(model.encode("latin-1"))
        if context < 0:
            raise QuorvaneError("the driver refused the model %r: QdOpenDevContext %d (%s)"
                                % (model, context, _OPEN_RESULTS.get(context, "unknown result")), context,
                                drv.log_errors_since(mark), models() if context == -2 else None)
        self.context, self.model, self.buffer_seconds = context, model, buffer_seconds
        self.sim, self._rx, self._active, self._closed, self._poller = None, None, False, False, None
        self._ended = None
        try:
            self.channel_count = self._number(drv.PAR_CHANNEL_COUNT, 0)
            self._names = self._name_table()
            if simulate:
                self._simulate(sim_options)
        except BaseException:
            if self.sim:
                self.sim.close()
            self.lib.QdCloseDevContext(context)
            raise
        _devices.add(self)

    def _simulate(self, options):
        self.sim = SimulatedDevice(self.model, self._number(drv.PAR_LINK_TYPE, 0, code=True), **options)
        if self.sim.device_id:
            self.set("Device id", self.sim.device_id)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<quorvane.Device %r context %d%s%s>" % (self.model, self.context, " simulated" if self.sim else "",
                                                       " closed" if self._closed else "")

    # -- parameters ---------------------------------------------------------

    def _select(self):
        if self._closed:
            raise QuorvaneError("the device is closed")
        if self.lib.QdGetSelectedDevContext() != self.context and self.lib.QdSelectDevContext(self.context) < 0:
            raise QuorvaneError("the driver cannot select context %d" % self.context)

    def _number(self, pid, channel, code=False):
        self._select()
        value = drv.QdParamValue()
        if self.lib.QdGetParam(pid, channel, ctypes.byref(value)) != 0:
            return None
        if code:
            return value.code
        kind = value.type & drv.KIND_MASK
        return value.value.f if kind == drv.KIND_FLOAT else value.value.i if kind == drv.KIND_INT else \
            value.value.bytes[0] if kind == drv.KIND_BOOL else None

    def _ids(self, channel):
        ids = (ctypes.c_uint16 * 128)()
        n = self.lib.QdEnumParams(channel, ids, ctypes.sizeof(ids))
        return list(ids[:n])

    def _name_table(self):
        """Display name (lower case) -> (id, display name), general and channel parameters."""
        self._select()
        table = {}
        for channel in range(-1, self.channel_count):
            for pid in self._ids(channel):
                d = self.lib.QdParamInfo(pid, max(channel, 0))
                if d and d.contents.name:
                    table.setdefault(drv.text(d.contents.name).lower(), (pid, drv.text(d.contents.name)))
        return table

    def names(self):
        """The display names of the model's parameters."""
        return [name for _, name in self._names.values()]

    def _param(self, name):
        found = self._names.get(str(name).lower())
        if found is None:
            raise QuorvaneError("the model %r has no parameter %r" % (self.model, name), valid=self.names())
        return found

    def _channel(self, channel):
        if isinstance(channel, str) and len(channel) == 1 and channel.isalpha():
            return ord(channel.upper()) - ord("A")
        if isinstance(channel, int) and not isinstance(channel, bool) and 0 <= channel < 0x8000:
            return channel
        raise QuorvaneError("%r is not a channel: give a number from 0 or a letter A to %s"
                            % (channel, _channel_name(max(self.channel_count - 1, 0))))

    def _targets(self, pid, name, channel):
        if pid < 128:
            if channel is not None:
                raise QuorvaneError("%r is a general parameter: it takes no channel" % name)
            return [0]
        if channel is not None:
            return [self._channel(channel)]
        return [c for c in range(self.channel_count) if self.lib.QdParamExists(pid, c)]

    def _where(self, pid, channel):
        if pid < 128:
            return ""
        exists = "" if channel < self.channel_count else " (no such channel: the model has channels A to %s)" \
            % _channel_name(self.channel_count - 1)
        return " on channel %s%s" % (_channel_name(channel) if channel < 26 else channel, exists)

    def _convert(self, text, definition):
        kind = definition.type & drv.KIND_MASK
        if kind == drv.KIND_BOOL:
            return text not in ("0", "")
        if kind == drv.KIND_INT:
            return int(text)
        return float(text) if kind == drv.KIND_FLOAT else text

    def get(self, name, channel=None):
        """A parameter's value: bool, int, float or text (an option list's
        option value). A channel parameter without a channel gives a list over
        the channels (None where a channel lacks it)."""
        pid, display = self._param(name)
        self._select()
        if pid >= 128 and channel is None:
            return [self.get(name, c) if self.lib.QdParamExists(pid, c) else None for c in range(self.channel_count)]
        channel = self._targets(pid, display, channel)[0]
        mark = drv.log_mark()
        buffer = ctypes.create_string_buffer(256)
        value = self.lib.QdParam2Str(pid, channel, buffer)
        definition = self.lib.QdParamInfo(pid, channel)
        if value is None or not definition:
            raise QuorvaneError("cannot read %r%s" % (display, self._where(pid, channel)), None,
                                drv.log_errors_since(mark))
        return self._convert(drv.text(value), definition.contents)

    def set(self, name, value, channel=None):
        """Sets a parameter from a value or its text, through the driver's text
        conversion. A channel parameter without a channel is set on every
        channel that has it."""
        pid, display = self._param(name)
        if self._active:
            raise QuorvaneError("stop the measurement before changing settings")
        self._select()
        text = str(int(value)) if isinstance(value, bool) else repr(value) if isinstance(value, float) else str(value)
        targets = self._targets(pid, display, channel)
        if not targets:
            raise QuorvaneError("no channel of the model %r has %r" % (self.model, display))
        for c in targets:
            d = self.lib.QdParamInfo(pid, c)
            if d and d.contents.type & drv.KIND_MASK == drv.KIND_BOOL and text.strip().lower() in _WORDS:
                text = _WORDS[text.strip().lower()]
            mark = drv.log_mark()
            rc = self.lib.QdStr2Param(text.encode("latin-1"), pid, c)
            if rc != 0:
                raise QuorvaneError("the driver refused %r for %r%s: QdStr2Param %d (%s)"
                                    % (value, display, self._where(pid, c), rc, _STR2PARAM.get(rc, "unknown result")),
                                    rc, drv.log_errors_since(mark), self._valid(pid, c) if rc in (1, 2) else None)

    def _valid(self, pid, channel):
        d = self.lib.QdParamInfo(pid, channel)
        if not d:
            return None
        d = d.contents
        kind = d.type & drv.KIND_MASK
        if d.type & drv.TYPE_OPTION_LIST:
            return self._option_list(d)
        if kind == drv.KIND_INT:
            return "a whole number from %d to %d" % (d.domain.i.min, d.domain.i.max)
        if kind == drv.KIND_FLOAT:
            return "a number from %g to %g" % (d.domain.f.min, d.domain.f.max)
        if kind == drv.KIND_STRING:
            return "a text of at most %d characters" % max(d.domain.size - 1, 0)
        return _KINDS.get(kind)

    def _option_list(self, definition):
        count = 0
        while definition.domain.options[count].code != drv.LIST_END:
            count += 1
        buffer = ctypes.create_string_buffer(96 * (count + 1))
        pointers = (ctypes.c_char_p * (count + 1))()
        if self.lib.QdParamList2Str(ctypes.byref(definition), buffer, pointers) is None:
            return []
        return [self._convert(drv.text(pointers[i]), definition) for i in range(count)]

    def options(self, name, channel=None):
        """The values an option-list parameter offers now (empty for others)."""
        pid, display = self._param(name)
        self._select()
        targets = self._targets(pid, display, channel)
        d = self.lib.QdParamInfo(pid, targets[0]) if targets else None
        if not d:
            raise QuorvaneError("%r does not exist%s" % (display, self._where(pid, targets[0] if targets else 0)))
        return self._option_list(d.contents) if d.contents.type & drv.TYPE_OPTION_LIST else []

    def channel_info(self, enabled_only=False):
        """What the package needs to know of each channel (ChannelInfo)."""
        infos = []
        for c in range(self.channel_count):
            on = self._number(drv.PAR_CHANNEL_ENABLE, c)
            if enabled_only and on == 0:
                continue        # a channel without "Channel enable" is always on
            d = self.lib.QdParamInfo(drv.PAR_MEASUREMENT_RANGE, c)
            unit = drv.text(d.contents.unit) if d and d.contents.unit else ""
            texts = [self._text(pid, c) for pid in (drv.PAR_CHANNEL_NAME, drv.PAR_CHANNEL_LABEL,
                                                    drv.PAR_CHANNEL_FUNCTION, drv.PAR_CHANNEL_PROFILE)]
            infos.append(ChannelInfo(c, texts[0] or _channel_name(c), texts[1], unit,
                                     self._number(drv.PAR_MEASUREMENT_RANGE, c) or 0.0,
                                     self._number(drv.PAR_SAMPLE_RATE, c) or 0.0, texts[2], texts[3]))
        return infos

    def _text(self, pid, channel):
        buffer = ctypes.create_string_buffer(256)
        return drv.text(self.lib.QdParam2Str(pid, channel, buffer)) or ""

    # -- settings files -----------------------------------------------------

    def save(self, path):
        """Writes the context's settings into a settings file (".qvc")."""
        self._select()
        mark = drv.log_mark()
        size = self.lib.QdGetDevConfig(self.context, None, 0)
        buffer = ctypes.create_string_buffer(max(size, 1))
        if size <= 0 or self.lib.QdGetDevConfig(self.context, buffer, size) != size:
            raise QuorvaneError("the driver cannot give the settings of context %d" % self.context, size,
                                drv.log_errors_since(mark))
        Path(path).write_bytes(buffer.raw[:size])

    def load(self, path):
        """Loads a settings file into the context (a model of the same family
        is converted; the machine's mains frequency is kept)."""
        if self._active:
            raise QuorvaneError("stop the measurement before loading settings")
        try:
            data = Path(path).read_bytes()
        except OSError as e:
            raise QuorvaneError("cannot read the settings file %s: %s" % (path, e.strerror))
        self._select()
        mark = drv.log_mark()
        buffer = ctypes.create_string_buffer(data, len(data))
        rc = self.lib.QdSetDevConfig(self.context, buffer, len(data))
        if rc < 0:
            raise QuorvaneError("the driver refused the settings file %s: QdSetDevConfig %d (%s)"
                                % (path, rc, _SETDEVCONFIG.get(rc, "unknown result")), rc, drv.log_errors_since(mark))

    # -- measurement --------------------------------------------------------

    @property
    def serial(self):
        return drv.text(self.lib.QdGetDevSN(self.context))

    @property
    def running(self):
        return self._still_running()

    def _still_running(self):
        if self._active and self.lib.QdComState(self.context) == 0:
            self._active = False
            self._ended = self._rx.last_error or "the device stopped"
            self._finish()
        return self._active

    def start(self):
        """Starts a measurement on the driver's engine thread."""
        self._select()
        if self._active:
            raise QuorvaneError("a measurement is already running")
        channels = [c for c in self.channel_info(enabled_only=True)]
        if not channels:
            raise QuorvaneError('no channel is on: enable channels, e.g. dev.set("Channel enable", 1)')
        rx = Receiver(channels, self.buffer_seconds)
        drv.loaded.receivers[self.context] = self._rx = rx
        self._ended = None
        if self.sim:
            self.sim.start_faults()
        mark = drv.log_mark()
        rc = self.lib.QdStartMeasurement(self.context, drv.START_ENGINE_THREAD)
        if rc not in (0, 3, -3):
            if self.sim:
                self.sim.stop_faults()
            raise QuorvaneError("the measurement did not start: QdStartMeasurement %d (%s)"
                                % (rc, _START.get(rc, "unknown result")), rc, drv.log_errors_since(mark))
        self._active = True
        if rc == -3:
            # No engine thread: this package runs the engine itself.
            self._poller = threading.Thread(target=self._poll, daemon=True)
            self._poller.start()

    def _poll(self):
        while self._active and self.lib.QdProtocolEngine():
            time.sleep(0.002)

    def _finish(self):
        if self.sim:
            self.sim.stop_faults()
        if self._poller is not None and self._poller is not threading.current_thread():
            self._poller.join()
            self._poller = None

    def stop(self):
        """Stops the measurement and waits until the device is idle; what
        arrived and was not read yet stays readable."""
        if not self._still_running():
            return
        self.lib.QdStopMeasurement(self.context)
        deadline = time.monotonic() + _STOP_WAIT
        while self.lib.QdComState(self.context) != 0 and time.monotonic() < deadline:
            time.sleep(0.002)
        idle = self.lib.QdComState(self.context) == 0
        self._active = False
        self._finish()
        if not idle:
            raise QuorvaneError("the device did not stop within %g s" % _STOP_WAIT)

    def read(self, timeout=1.0):
        """What has arrived since the last read, as a Recording (one Block per
        sampling rate, channels x samples in physical units, with the tick,
        phase and lost-sample counts, and each sample's time: Block.times on
        the host's monotonic clock, Block.unix_times as Unix time; the
        markers and gaps as Recording.annotations); waits up to timeout seconds for the
        first data. After the measurement ended, the rest is returned once."""
        rx = self._rx
        if rx is None:
            raise QuorvaneError("no measurement: call start() first")
        deadline = time.monotonic() + timeout
        while not rx.pending() and self._still_running() and time.monotonic() < deadline:
            time.sleep(0.005)
        if not rx.pending() and not self._still_running():
            why = "the driver ended it: " + self._ended if self._ended else "it was stopped"
            raise QuorvaneError("no measurement is running (%s); start() a new one" % why)
        return rx.take()

    def record(self, seconds):
        """Measures for `seconds` and returns the Recording (exactly that long
        at every rate). The measurement is started and stopped here."""
        if self._active:
            raise QuorvaneError("record() runs a measurement of its own: stop() the running one, or use read()")
        self.start()
        rx, parts = self._rx, []
        try:
            while rx.expected < seconds * rx.tick_rate and self._still_running():
                time.sleep(0.05)
                if sum(g.head - g.tail for g in rx.groups) > 0.25 * rx.tick_rate:
                    parts.append(rx.take())
        finally:
            self.stop()
        parts.append(rx.take())
        recording = Recording.join(parts).cut(seconds)
        if self._ended:
            error = QuorvaneError("the driver ended the measurement after %.1f s of data: %s"
                                  % (rx.expected / rx.tick_rate, self._ended))
            error.recording = recording
            raise error
        return recording

    def annotate(self, text):
        """A marker at the sample instant of now, with its text (UTF-8, cut to
        120 bytes; control characters become spaces; empty: "Marker"). It
        comes back with the samples (Recording.annotations) and goes into
        to_mne's annotations. Refused when no measurement runs."""
        if self._rx is None or not self._still_running():
            raise QuorvaneError("no measurement is running: a marker needs one (start() first)")
        if not self._rx.annotate(text, time.monotonic()):
            raise QuorvaneError("too many markers are waiting: read() them")

    def clock_ppm(self):
        """How fast the device's clock runs against the host's, by the fit (ppm)."""
        return self._rx.fit.ppm if self._rx else 0.0

    def events(self):
        """The indicator changes, user messages and losses since the last call."""
        return self._rx.take_events() if self._rx else []

    def to_mne(self, data):
        from ._mne import to_mne
        return to_mne(data)

    def close(self):
        """Stops a running measurement and frees the context."""
        if self._closed:
            return
        try:
            self.stop()
        except QuorvaneError:
            pass        # closing the context ends it anyway
        finally:
            self.lib.QdCloseDevContext(self.context)
            drv.loaded.receivers[self.context] = None
            if self.sim:
                self.sim.close()
            self._closed = True
            _devices.discard(self)


@atexit.register
def _close_all():
    """No callback may reach Python while it shuts down."""
    for device in list(_devices):
        device.close()
    if drv.loaded.lib is not None:
        drv.loaded.lib.QdSetCallbacks(drv.PROC_SAMPLES(), drv.USER_IND(), drv.USER_MSG())
