"""Recordings as MNE raw objects: one RawArray per sampling rate (MNE needs
one rate), channel names from the channel labels, data in the SI unit of
each channel's "Measurement range", the recording's start time, and the
spans of lost samples annotated as BAD_lost."""

import ctypes

import numpy as np

from . import _driver as drv
from ._errors import QuorvaneError
from ._stream import Block

# Base unit (after the driver strips the prefix) -> MNE unit name.
_UNITS = {"V": "FIFF_UNIT_V", "Ohm": "FIFF_UNIT_OHM", "S": "FIFF_UNIT_S", "A": "FIFF_UNIT_A",
          "`C": "FIFF_UNIT_CEL"}
_PROFILE_TYPES = {"ECG": "ecg", "ECG for HRV": "ecg", "EMG": "emg", "EOG": "eog", "RESP belt": "resp"}


def _mne():
    try:
        import mne
    except ImportError:
        raise QuorvaneError("to_mne needs MNE-Python, which is not installed here: install it "
                            "(Debian: apt-get install python3-mne; elsewhere: pip install mne)")
    return mne


def split_unit(unit):
    """(base unit, multiplier) by the driver's own prefix rule ("uV" -> "V", 1e-6)."""
    factor = ctypes.c_double(1.0)
    base = drv.driver().QdParseParamUnit(unit.encode("latin-1"), ctypes.byref(factor))
    return drv.text(base) or "", factor.value


def _channel_type(channel, base):
    if channel.function == "Button":
        return "stim"
    if base == "V":
        return _PROFILE_TYPES.get(channel.profile, "eeg")
    return {"S": "gsr", "`C": "temperature"}.get(base, "misc")


def _names(channels):
    """Labels, or the channel names where there is none; a repeated label gets its channel name."""
    names = [c.label or c.name for c in channels]
    return [n if names.count(n) == 1 else "%s (%s)" % (n, c.name) for n, c in zip(names, channels)]


def _raw(mne, block):
    FIFF = mne.io.constants.FIFF
    units = [split_unit(c.unit) for c in block.channels]
    types = [_channel_type(c, base) for c, (base, _) in zip(block.channels, units)]
    info = mne.create_info(_names(block.channels), block.rate, types)
    data = np.asarray(block.data) * np.array([factor for _, factor in units])[:, None]
    for ch, (base, _) in zip(info["chs"], units):
        ch["unit"] = getattr(FIFF, _UNITS.get(base, "FIFF_UNIT_NONE"))
        ch["unit_mul"] = FIFF.FIFF_UNITM_NONE
    raw = mne.io.RawArray(data, info, verbose=False)
    if block.start_time is not None:
        raw.set_meas_date(block.start_time)
    lost = np.isnan(data).any(axis=0)
    if lost.any():
        edges = np.flatnonzero(np.diff(np.concatenate([[0], lost.astype(np.int8), [0]])))
        starts, ends = edges[0::2], edges[1::2]
        raw.set_annotations(mne.Annotations(starts / block.rate, (ends - starts) / block.rate, "BAD_lost",
                                            orig_time=raw.info["meas_date"]))
    return raw


def _annotate(mne, raw, block, annotations):
    """The recording's markers and gaps as mne.Annotations beside BAD_lost."""
    if not annotations:
        return
    onsets = [max(0.0, (a.tick - block.tick) / block.tick_rate) for a in annotations]
    raw.set_annotations(raw.annotations + mne.Annotations(onsets, [a.duration for a in annotations],
                                                          [a.text for a in annotations],
                                                          orig_time=raw.annotations.orig_time))


def to_mne(data):
    """A Block gives one mne.io.RawArray; a Recording a list of them, one per
    sampling rate, each with the recording's markers and gaps as
    mne.Annotations (BAD_ACQ_SKIP for a gap, beside the BAD_lost spans)."""
    mne = _mne()
    if isinstance(data, Block):
        return _raw(mne, data)
    raws = [_raw(mne, block) for block in data]
    for raw, block in zip(raws, data):
        _annotate(mne, raw, block, data.annotations)
    return raws
