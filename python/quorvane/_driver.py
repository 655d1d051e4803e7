"""The driver library loaded through ctypes: where it is found, the records of
the public header, the function prototypes, the driver log and the three
callbacks.

The driver (and, for simulated devices, the simulator library before it) is
loaded once per process. The callbacks are process-wide in the driver, so the
package installs one set at load time and hands each call to the receiver of
its context. They run on the driver's engine thread; ctypes takes the GIL for
them.
"""

import ctypes
import os
import struct
import sys
import threading
from pathlib import Path

from ._errors import QuorvaneError

MAX_CONTEXTS = 10
WINDOWS = sys.platform == "win32"
BITS = struct.calcsize("P") * 8

# Parameter ids, type and flag bits used by the package (public header).
PAR_LINK_TYPE, PAR_CHANNEL_COUNT, PAR_DEVICE_ID = 0, 1, 3
PAR_CHANNEL_NAME, PAR_CHANNEL_ENABLE, PAR_CHANNEL_LABEL = 128, 129, 132
PAR_CHANNEL_PROFILE, PAR_MEASUREMENT_RANGE, PAR_SAMPLE_RATE, PAR_CHANNEL_FUNCTION = 134, 135, 137, 140
TYPE_OPTION_LIST, KIND_MASK = 0x80, 0x7F
KIND_BOOL, KIND_INT, KIND_FLOAT, KIND_STRING = 0, 1, 2, 3
FLAG_CONSTANT, FLAG_NOT_APPLICABLE = 0x01, 0x02
LINK_USB = 2
IND_LINK, IND_BATTERY, IND_PAUSE, IND_SIGNAL, IND_MESSAGE = 0, 1, 2, 3, 4
START_ENGINE_THREAD = 0x4000
LIST_END = 0xFFFF


# ---------------------------------------------------------------------------
# Records that cross the boundary
# ---------------------------------------------------------------------------

class QdValue(ctypes.Union):
    _fields_ = [("code", ctypes.c_uint32), ("i", ctypes.c_int32), ("f", ctypes.c_float),
                ("s", ctypes.c_char_p), ("bytes", ctypes.c_ubyte * 8)]


class QdOption(ctypes.Structure):
    _fields_ = [("code", ctypes.c_uint32), ("value", QdValue), ("comment", ctypes.c_char_p)]


class _IntRange(ctypes.Structure):
    _fields_ = [("min", ctypes.c_int32), ("max", ctypes.c_int32)]


class _FloatRange(ctypes.Structure):
    _fields_ = [("min", ctypes.c_float), ("max", ctypes.c_float)]


class QdDomain(ctypes.Union):
    _fields_ = [("options", ctypes.POINTER(QdOption)), ("i", _IntRange), ("f", _FloatRange),
                ("size", ctypes.c_uint32), ("bytes", ctypes.c_ubyte * 8)]


class QdParamDef(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint16), ("name", ctypes.c_char_p), ("group", ctypes.c_char_p),
                ("type", ctypes.c_uint8), ("flags", ctypes.c_uint8), ("domain", QdDomain),
                ("unit", ctypes.c_char_p), ("def", QdValue), ("dependents", ctypes.POINTER(ctypes.c_uint16)),
                ("help", ctypes.c_char_p)]


class QdParamValue(ctypes.Structure):
    _fields_ = [("code", ctypes.c_uint32), ("value", QdValue), ("type", ctypes.c_uint8)]


class ChannelSamples(ctypes.Structure):
    _fields_ = [("count", ctypes.c_uint16), ("samples", ctypes.c_void_p),
                ("signalState", ctypes.c_uint16), ("rateMask", ctypes.c_uint16)]


# The blocks are read with one struct call per packet: count, samples
# pointer, signal state, rate mask, and the padding of the natural layout.
_BLOCK_FIELDS = "HPHH"
_BLOCK_PAD = ctypes.sizeof(ChannelSamples) - struct.calcsize("@" + _BLOCK_FIELDS)


def block_struct(channels):
    """A struct.Struct that unpacks the first `channels` sample blocks."""
    return struct.Struct("@" + (_BLOCK_FIELDS + "%dx" % _BLOCK_PAD) * channels)


PROC_SAMPLES = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint16, ctypes.c_uint16, ctypes.c_uint16, ctypes.c_void_p)
USER_IND = ctypes.CFUNCTYPE(None, ctypes.c_uint16, ctypes.c_uint16, ctypes.c_uint16)
USER_MSG = ctypes.CFUNCTYPE(None, ctypes.c_uint16, ctypes.c_char_p)

_c = ctypes
_PROTOTYPES = {
    "QdEnumDevices": (_c.c_int, [_c.POINTER(_c.POINTER(_c.c_char_p))]),
    "QdOpenDevContext": (_c.c_int16, [_c.c_char_p]),
    "QdSelectDevContext": (_c.c_int16, [_c.c_uint16]),
    "QdGetSelectedDevContext": (_c.c_int16, []),
    "QdCloseDevContext": (None, [_c.c_uint16]),
    "QdGetDevConfig": (_c.c_int32, [_c.c_int16, _c.c_void_p, _c.c_uint32]),
    "QdSetDevConfig": (_c.c_int16, [_c.c_int16, _c.c_void_p, _c.c_uint32]),
    "QdEnumParams": (_c.c_uint16, [_c.c_int16, _c.POINTER(_c.c_uint16), _c.c_uint16]),
    "QdParamInfo": (_c.POINTER(QdParamDef), [_c.c_uint16, _c.c_int16]),
    "QdParamExists": (_c.c_int, [_c.c_uint16, _c.c_int16]),
    "QdGetParam": (_c.c_int, [_c.c_uint16, _c.c_uint16, _c.POINTER(QdParamValue)]),
    "QdParseParamUnit": (_c.c_char_p, [_c.c_char_p, _c.POINTER(_c.c_double)]),
    "QdParam2Str": (_c.c_char_p, [_c.c_uint16, _c.c_uint16, _c.c_char_p]),
    "QdParamList2Str": (_c.c_char_p, [_c.POINTER(QdParamDef), _c.c_char_p, _c.POINTER(_c.c_char_p)]),
    "QdStr2Param": (_c.c_int, [_c.c_char_p, _c.c_uint16, _c.c_uint16]),
    "QdProtocolEngine": (_c.c_uint32, []),
    "QdStartMeasurement": (_c.c_int32, [_c.c_uint16, _c.c_uint16]),
    "QdStopMeasurement": (_c.c_int32, [_c.c_uint16]),
    "QdComState": (_c.c_int32, [_c.c_uint16]),
    "QdGetDevSN": (_c.c_char_p, [_c.c_uint16]),
    "QdSetCallbacks": (None, [PROC_SAMPLES, USER_IND, USER_MSG]),
}


# ---------------------------------------------------------------------------
# Where the libraries are
# ---------------------------------------------------------------------------

def driver_file():
    """QuorvaneDrv64.dll or QuorvaneDrv.dll by this Python's bitness, or libQuorvaneDrv.so."""
    if WINDOWS:
        return "QuorvaneDrv64.dll" if BITS == 64 else "QuorvaneDrv.dll"
    return "libQuorvaneDrv.so"


def simulator_file():
    return "FTD2XX.dll" if WINDOWS else "libqvftd2xx.so"


def _build_folder():
    """The build folder of this source tree for this Python, if the package runs from one."""
    preset = ("win64" if BITS == 64 else "win32") if WINDOWS else "native"
    return Path(__file__).resolve().parents[2] / "build" / preset


def find_driver(path=None):
    """A path to load: the one given, QUORVANE_DRIVER, the build folder of
    this source tree, else the bare name for the system's own search."""
    if path:
        if not Path(path).is_file():
            raise QuorvaneError("there is no driver library at %s" % path)
        return str(path)
    env = os.environ.get("QUORVANE_DRIVER")
    if env:
        return find_driver(env)
    built = _build_folder() / driver_file()
    return str(built) if built.is_file() else driver_file()


def find_simulator(driver_path, path=None):
    """The simulator library: the one given, QUORVANE_SIMULATOR, else the sim
    folder beside the driver (where the build puts it)."""
    path = path or os.environ.get("QUORVANE_SIMULATOR")
    if not path:
        path = Path(driver_path).parent / "sim" / simulator_file()
    if not Path(path).is_file():
        raise QuorvaneError("the simulator library %s does not exist (it is built as %s in the sim folder of "
                            "the build; name another with sim_library=PATH or QUORVANE_SIMULATOR)"
                            % (path, simulator_file()))
    return str(path)


def shared_dir():
    """The folder below which the driver keeps Quorvane/QuorvaneDrv.log."""
    env = os.environ.get("ALLUSERSPROFILE")
    if env:
        return env
    return os.environ.get("PROGRAMDATA", r"C:\ProgramData") if WINDOWS else "/var/lib"


# ---------------------------------------------------------------------------
# The loaded driver
# ---------------------------------------------------------------------------

class _Loaded:
    lib = None             # the driver (ctypes.CDLL)
    sim = None             # the simulator library, or None
    driver_path = None
    sim_path = None
    log_path = None        # the driver log, or None when the driver keeps none
    receivers = [None] * MAX_CONTEXTS   # per context: what takes samples and events
    lock = threading.Lock()


loaded = _Loaded


def _explain_load_failure(path, error):
    text = "cannot load the driver %s: %s" % (path, error)
    if "cannot open shared object file" in str(error) and not str(error).startswith(path):
        text += ("\nThe driver needs the D2XX library libqvftd2xx.so (its libftdi backend, built beside the "
                 "driver); or use simulate=True for the built-in simulated device.")
    elif "wrong ELF class" in str(error) or "%1 is not" in str(error):
        text += "\nThe file is not a driver for a %d-bit Python, which needs %s." % (BITS, driver_file())
    elif WINDOWS and "FTD2XX" not in str(error):
        text += ("\nThe driver needs the FTDI D2XX library FTD2XX.dll: install the FTDI USB driver, or use "
                 "simulate=True for the built-in simulated device.")
    return text


def load(driver=None, simulator=False, sim_library=None, shared=None):
    """Loads the driver once per process. simulator=True loads the simulator
    library first, so that the driver's D2XX library is the simulator.
    shared sets ALLUSERSPROFILE (the folder of the driver log) before."""
    with loaded.lock:
        if loaded.lib is not None:
            if simulator and loaded.sim is None:
                raise QuorvaneError("the driver was loaded without the simulator, so it talks to real "
                                    "transceivers for the rest of this process; load the simulator first "
                                    "(quorvane.load(simulator=True), or open(..., simulate=True) before "
                                    "anything else)")
            return loaded
        if shared:
            os.makedirs(shared, exist_ok=True)
            os.environ["ALLUSERSPROFILE"] = str(shared)
        path = find_driver(driver)
        mode = ctypes.RTLD_GLOBAL if not WINDOWS else 0
        if simulator:
            loaded.sim_path = find_simulator(path if path != driver_file() else ".", sim_library)
            try:
                loaded.sim = ctypes.CDLL(os.path.abspath(loaded.sim_path), mode=mode)
            except OSError as e:
                raise QuorvaneError("cannot load the simulator library %s: %s" % (loaded.sim_path, e))
        try:
            lib = ctypes.CDLL(path if path == driver_file() else os.path.abspath(path))
        except OSError as e:
            raise QuorvaneError(_explain_load_failure(path, e))
        for name, (restype, argtypes) in _PROTOTYPES.items():
            try:
                fn = getattr(lib, name)
            except AttributeError:
                raise QuorvaneError("the library %s is not a Quorvane driver: it lacks %s" % (path, name))
            fn.restype, fn.argtypes = restype, argtypes
        log = Path(shared_dir()) / "Quorvane" / "QuorvaneDrv.log"
        loaded.log_path = str(log) if log.is_file() else None
        loaded.driver_path, loaded.lib = path, lib
        lib.QdSetCallbacks(_on_samples, _on_indicator, _on_message)
        return loaded


def driver():
    """The driver's functions, loading it (without the simulator) if needed."""
    return loaded.lib if loaded.lib is not None else load().lib


# ---------------------------------------------------------------------------
# The driver log: its error lines are the driver's own words
# ---------------------------------------------------------------------------

def log_mark():
    try:
        return os.path.getsize(loaded.log_path) if loaded.log_path else 0
    except OSError:
        return 0


def log_errors_since(mark):
    """The driver's error lines ("!...") written since mark, without the
    marks, leaving out the engine's per-context lines."""
    if not loaded.log_path:
        return []
    try:
        with open(loaded.log_path, "rb") as f:
            f.seek(mark)
            text = f.read().decode("latin-1")
    except OSError:
        return []
    lines = []
    for line in text.splitlines():
        if line.startswith("!") and not line.startswith("!("):
            lines.append(line[1:].lstrip("}"))
    return lines


# ---------------------------------------------------------------------------
# Callbacks (engine thread)
# ---------------------------------------------------------------------------

def _on_samples_py(context, phase, sum_state, blocks):
    receiver = loaded.receivers[context] if context < MAX_CONTEXTS else None
    if receiver is not None and blocks:
        receiver.packet(phase, blocks)
    return 0


def _on_indicator_py(context, kind, value):
    receiver = loaded.receivers[context] if context < MAX_CONTEXTS else None
    if receiver is not None:
        receiver.indicator(kind, value)


def _on_message_py(context, text):
    receiver = loaded.receivers[context] if context < MAX_CONTEXTS else None
    if receiver is not None and text is not None:
        receiver.message(text.decode("latin-1"))


# Kept referenced for the life of the process: the driver holds the pointers.
_on_samples = PROC_SAMPLES(_on_samples_py)
_on_indicator = USER_IND(_on_indicator_py)
_on_message = USER_MSG(_on_message_py)


def text(value):
    return value.decode("latin-1") if value is not None else None
