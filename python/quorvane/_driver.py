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
import re
import struct
import sys
import sysconfig
import threading
from pathlib import Path

from ._errors import QuorvaneError
from ._version import __version__

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
LINK_IRDA, LINK_BT, LINK_USB, LINK_BLE = 0, 1, 2, 3
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

SONAME_VERSION = int(__version__.split(".")[0])
SONAME = "libQuorvaneDrv.so.%d" % SONAME_VERSION
LIBRARY_PACKAGE = "libquorvane%d" % SONAME_VERSION      # the Debian package of the library
SIMULATOR_PACKAGE = "quorvane-tools"                   # ... and of the simulator libraries


def driver_file():
    """QuorvaneDrv64.dll or QuorvaneDrv.dll by this Python's bitness, or libQuorvaneDrv.so."""
    if WINDOWS:
        return "QuorvaneDrv64.dll" if BITS == 64 else "QuorvaneDrv.dll"
    return "libQuorvaneDrv.so"


def system_name():
    """The name the system's library search takes: the DLL's, or the soname."""
    return driver_file() if WINDOWS else SONAME


def simulator_file():
    return "FTD2XX.dll" if WINDOWS else "libqvftd2xx.so"


def ble_standin_file():
    """The simulator's Bluetooth LE stand-in, beside the simulator library."""
    return "BluetoothAPIs.dll" if WINDOWS else "libqvbluetoothapis.so"


def _build_folder():
    """The build folder of this source tree for this Python, or None when the
    package does not run from a source tree (an installed copy: its site
    folder's parents are not ours to probe)."""
    tree = Path(__file__).resolve().parents[2]
    if not ((tree / "API" / "QuorvaneDrv.h").is_file() and (tree / "python" / "pyproject.toml").is_file()):
        return None
    preset = ("win64" if BITS == 64 else "win32") if WINDOWS else "native"
    return tree / "build" / preset


def library_dirs():
    """The folders the system's loader searches, in its order: LD_LIBRARY_PATH,
    then the standard ones (local before system, multiarch before plain)."""
    arch = sysconfig.get_config_var("MULTIARCH") or ""
    dirs = [d for d in os.environ.get("LD_LIBRARY_PATH", "").split(":") if d]
    for base in ("/usr/local/lib", "/lib", "/usr/lib"):
        dirs += [base + "/" + arch, base] if arch else [base]
    return [Path(d) for d in dirs]


def elf_soname(path):
    """The soname (DT_SONAME) of an ELF shared library; None for a file that
    is none, has none, or is cut short."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    if data[:4] != b"\x7fELF" or data[4:5] not in (b"\x01", b"\x02") or data[5:6] not in (b"\x01", b"\x02"):
        return None
    wide, order = data[4] == 2, "<" if data[5] == 1 else ">"

    def read(fmt, offset):
        fmt = order + fmt
        if offset < 0 or offset + struct.calcsize(fmt) > len(data):
            raise ValueError("beyond the end of the file")
        return struct.unpack_from(fmt, data, offset)

    # Section header: type, link, offset, size, entry size.
    header = ("IIQQQQIIQQ", (1, 6, 4, 5, 9)) if wide else ("IIIIIIIIII", (1, 6, 4, 5, 9))
    try:
        shoff, = read("Q" if wide else "I", 0x28 if wide else 0x20)
        shentsize, shnum = read("HH", 0x3A if wide else 0x2E)
        sections = []
        for i in range(shnum):
            fields = read(header[0], shoff + i * shentsize)
            sections.append([fields[k] for k in header[1]])
        for kind, link, offset, size, _ in sections:
            if kind != 6 or link >= len(sections):          # SHT_DYNAMIC, its string table
                continue
            strings = sections[link]
            entry = "qQ" if wide else "iI"
            for at in range(offset, offset + size, struct.calcsize(order + entry)):
                tag, value = read(entry, at)
                if tag == 0:                                # DT_NULL
                    break
                if tag == 14:                               # DT_SONAME
                    start = strings[2] + value
                    stop = data.find(b"\0", start, strings[2] + strings[3])
                    return data[start:stop].decode("latin-1") if start < len(data) and stop >= 0 else None
    except (ValueError, struct.error):
        return None
    return None


def soname_version(soname):
    """N of libQuorvaneDrv.so.N, or None for another name."""
    m = re.fullmatch(r"libQuorvaneDrv\.so\.(\d+)", soname or "")
    return int(m.group(1)) if m else None


def _check_soname(path):
    version = soname_version(elf_soname(path))
    if version is not None and version != SONAME_VERSION:
        raise QuorvaneError("the driver %s is libQuorvaneDrv.so.%d (soname version %d), but this package (quorvane "
                            "%s) needs soname version %d (%s)" % (path, version, version, __version__,
                                                                 SONAME_VERSION, SONAME))


def _other_versions():
    """Drivers of another soname version in the loader's folders: [(path, version)]."""
    found = []
    for d in library_dirs():
        for f in sorted(d.glob("libQuorvaneDrv.so.*")) if d.is_dir() else ():
            version = soname_version(elf_soname(f))
            if version is not None and version != SONAME_VERSION and (f, version) not in found:
                found.append((f, version))
    return found


def find_driver(path=None):
    """A path to load: the one given, QUORVANE_DRIVER, the build folder of
    this source tree (only when the package runs from it), else the system's
    name for its own search. A driver of another soname version is refused."""
    if path:
        if not Path(path).is_file():
            raise QuorvaneError("there is no driver library at %s" % path)
        _check_soname(path)
        return str(path)
    env = os.environ.get("QUORVANE_DRIVER")
    if env:
        return find_driver(env)
    folder = _build_folder()
    built = folder / driver_file() if folder else None
    return find_driver(built) if built and built.is_file() else system_name()


def installed_driver():
    """The file the system's search finds for the soname, or None."""
    for d in library_dirs():
        if (d / system_name()).is_file():
            return d / system_name()
    return None


def find_simulator(driver_path, path=None):
    """The simulator library: the one given, QUORVANE_SIMULATOR, else the sim
    folder beside the driver (where the build puts it), or for the driver of
    the system the simulator installed with it (<libdir>/quorvane/sim)."""
    path = path or os.environ.get("QUORVANE_SIMULATOR")
    if path:
        if not Path(path).is_file():
            raise QuorvaneError("the simulator library %s does not exist" % path)
        return str(path)
    if driver_path != system_name():
        path = Path(driver_path).parent / "sim" / simulator_file()
        if not path.is_file():
            raise QuorvaneError("the simulator library %s does not exist (it is built as %s in the sim folder of "
                                "the build; name another with sim_library=PATH or QUORVANE_SIMULATOR)"
                                % (path, simulator_file()))
        return str(path)
    driver = installed_driver()
    path = driver.parent / "quorvane" / "sim" / simulator_file() if driver else None
    if path is None or not path.is_file():
        raise QuorvaneError("the simulator library %s is not installed%s: it comes with the Debian package %s "
                            "(apt install %s); or name one with sim_library=PATH or QUORVANE_SIMULATOR"
                            % (simulator_file(), " (looked for %s)" % path if path else "", SIMULATOR_PACKAGE,
                               SIMULATOR_PACKAGE))
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
    ble = None             # the simulator's Bluetooth LE stand-in, or None
    ble_error = None       # why it could not be loaded
    driver_path = None
    sim_path = None
    log_path = None        # the driver log, or None when the driver keeps none
    receivers = [None] * MAX_CONTEXTS   # per context: what takes samples and events
    lock = threading.Lock()


loaded = _Loaded


def _explain_load_failure(path, error):
    if path == SONAME and str(error).startswith(path) and "cannot open shared object file" in str(error):
        others = _other_versions()
        if others:
            return ("cannot load the driver %s: this package (quorvane %s) needs soname version %d, and the system "
                    "has only %s; install %s %s" % (SONAME, __version__, SONAME_VERSION, ", ".join(
                        "%s (soname version %d)" % (f, v) for f, v in others), LIBRARY_PACKAGE, __version__))
        return ("the Quorvane driver library %s is not installed (%s): install the Debian package %s (apt install "
                "%s), or name the library with QUORVANE_DRIVER or load(driver=PATH)"
                % (SONAME, error, LIBRARY_PACKAGE, LIBRARY_PACKAGE))
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


def _load_simulator(path, sim_library, mode):
    """The simulator library, and the Bluetooth LE stand-in beside it when
    there is one (the driver's Bluetooth LE link then talks to simulated
    devices; it looks for the stand-in when it starts its link library)."""
    loaded.sim_path = find_simulator(path, sim_library)
    try:
        loaded.sim = ctypes.CDLL(os.path.abspath(loaded.sim_path), mode=mode)
    except OSError as e:
        raise QuorvaneError("cannot load the simulator library %s: %s" % (loaded.sim_path, e))
    standin = Path(loaded.sim_path).resolve().parent / ble_standin_file()
    try:
        loaded.ble = ctypes.CDLL(str(standin), mode=mode)
    except OSError as e:
        loaded.ble_error = "cannot load the simulator's Bluetooth LE stand-in %s: %s" % (standin, e)


def _log_size(path):
    try:
        return path.stat().st_size
    except OSError:
        return -1


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
            _load_simulator(path, sim_library, mode)
        # The driver writes a banner when it opens its log at load: a log
        # that stays as it was is one it could not open (no write access).
        log = Path(shared_dir()) / "Quorvane" / "QuorvaneDrv.log"
        before = _log_size(log)
        try:
            lib = ctypes.CDLL(path if path == system_name() else os.path.abspath(path))
        except OSError as e:
            raise QuorvaneError(_explain_load_failure(path, e))
        for name, (restype, argtypes) in _PROTOTYPES.items():
            try:
                fn = getattr(lib, name)
            except AttributeError:
                raise QuorvaneError("the library %s is not a Quorvane driver: it lacks %s" % (path, name))
            fn.restype, fn.argtypes = restype, argtypes
        loaded.log_path = str(log) if _log_size(log) not in (-1, before) else None
        loaded.driver_path, loaded.lib = path, lib
        lib.QdSetCallbacks(_on_samples, _on_indicator, _on_message)
        return loaded


def driver():
    """The driver's functions, loading it (without the simulator) if needed."""
    return loaded.lib if loaded.lib is not None else load().lib


def _enum_names(lib):
    names = ctypes.POINTER(ctypes.c_char_p)()
    n = lib.QdEnumDevices(ctypes.byref(names))
    return [text(names[i]) for i in range(n)]


def _unload(lib):
    import _ctypes
    handle = lib._handle
    if WINDOWS:
        _ctypes.FreeLibrary(handle)
    else:
        _ctypes.dlclose(handle)


def _still_loaded(name):
    """True when the library is still mapped in the process (POSIX)."""
    try:
        ctypes.CDLL(name, mode=os.RTLD_NOLOAD)
        return True
    except OSError:
        return False


def model_names():
    """The model names. Before the driver is loaded, a copy of it is loaded
    for the list alone and unloaded again: listing the models does not decide
    that this process goes without the simulator (the simulator must be
    loaded before the driver). Where the copy cannot be unloaded, it stays as
    the process's driver, as a load() would."""
    with loaded.lock:
        if loaded.lib is None and not WINDOWS:
            path = find_driver(None)
            name = path if path == system_name() else os.path.abspath(path)
            try:
                lib = ctypes.CDLL(name, mode=os.RTLD_LOCAL)
            except OSError:
                lib = None  # the ordinary load below says why
            if lib is not None:
                lib.QdEnumDevices.restype, lib.QdEnumDevices.argtypes = _PROTOTYPES["QdEnumDevices"]
                names = _enum_names(lib)
                _unload(lib)
                del lib
                if not _still_loaded(name) and not _still_loaded(simulator_file()):
                    return names
    return _enum_names(driver())


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
