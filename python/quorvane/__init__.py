"""quorvane: the Quorvane acquisition driver from Python.

    import quorvane
    with quorvane.open("Quorvane Halvex-4 USB", simulate=True) as dev:
        dev.set("Channel enable", 1)
        dev.set("Sample rate", "500", channel="A")
        data = dev.record(seconds=10)   # one channels x samples block per sampling rate
        raws = dev.to_mne(data)         # one mne.io.RawArray per sampling rate

The package loads the driver library (libQuorvaneDrv.so, QuorvaneDrv64.dll or
QuorvaneDrv.dll by bitness) through ctypes: the path given to load(), else
QUORVANE_DRIVER, else the build folder of this source tree, else the system's
library search (on Linux by its soname, libQuorvaneDrv.so.5: the Debian
package libquorvane5). It needs numpy; MNE only for to_mne.

    python3 -m quorvane --list
    python3 -m quorvane --simulate --seconds 3
"""

from ._version import __version__
from ._driver import load
from ._errors import QuorvaneError
from ._mne import to_mne
from ._stream import Block, ChannelInfo, Event, Recording
from .device import Device, models, open

__all__ = ["__version__", "Block", "ChannelInfo", "Device", "Event", "QuorvaneError", "Recording", "load", "models",
           "open", "to_mne"]
