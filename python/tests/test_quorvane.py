import csv
import ctypes
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest

import quorvane
from quorvane import _driver as drv
from conftest import MODEL
from quorvane._stream import Receiver

# A mixed-rate session without the high-pass filter (it acts on voltage only).
SIM_MODEL = "Quorvane Halvex+ 4 USB"
SESSION = [("Channel enable", 1, None), ("Channel function", "Resistance", "A"), ("Channel function", "Temperature", "B"),
           ("Channel enable", 0, "C"), ("Channel enable", 0, "D"), ("Sample rate", 250, "E")]


def qdacq_csv(tmp_path, seconds):
    qdacq = os.environ.get("QUORVANE_QDACQ") or str(Path(drv.loaded.driver_path).parent / "tools" / "qdacq")
    out = tmp_path / "qdacq.csv"
    sets = ["%s%s=%s" % (n, ":" + c if c else "", v) for n, v, c in SESSION]
    subprocess.run([qdacq, "--simulate", "--model", SIM_MODEL, "--seconds", str(seconds), "--csv", str(out)] +
                   [a for s in sets for a in ("--set", s)], check=True, capture_output=True)
    with open(out) as f:
        return {(int(r["phase"]), int(r["channel"])): float(r["value"]) for r in csv.DictReader(f)}


# Python-side names without a namesake QD_* in the public header.
PYTHON_ONLY = {"BITS", "KIND_MASK", "SONAME_VERSION"}


def test_constants_and_records_are_those_of_the_c_header():
    source = os.environ.get("QUORVANE_SOURCE")
    if not source:
        pytest.skip("QUORVANE_SOURCE (the source tree) is not set")
    header = (Path(source) / "API" / "QuorvaneDrv.h").read_text()
    number = r"(0x[0-9A-Fa-f]+|-?\d+)"
    c = {}
    for define, enum, value in re.findall(r"(?m)^\s*(?:#define\s+(QD_\w+)\s+|(QD_\w+)\s*=\s*)" + number, header):
        c[define or enum] = int(value, 0)
    ours = {n: v for n, v in vars(drv).items()
            if n.isupper() and n[0] != "_" and isinstance(v, int) and not isinstance(v, bool)}
    assert {n for n in ours if "QD_" + n not in c} <= PYTHON_ONLY
    assert {n: v for n, v in ours.items() if "QD_" + n in c and c["QD_" + n] != v} == {}
    # The ctypes records against the layout that the C side pins for this
    # pointer size (API/driver/abi_layout.cpp).
    pins = (Path(source) / "API" / "driver" / "abi_layout.cpp").read_text()
    bits64 = ctypes.sizeof(ctypes.c_void_p) == 8
    checked = 0
    for kind, args in re.findall(r"(?m)^QD_(AT|SIZE)\(([^)]*)\);", pins):
        parts = [a.strip() for a in args.split(",")]
        record = getattr(drv, parts[0])
        want = int(parts[-1] if bits64 else parts[-2])
        got = ctypes.sizeof(record) if kind == "SIZE" else getattr(record, parts[1]).offset
        assert got == want, "%s %s" % (kind, args)
        checked += 1
    assert checked >= 20


def test_mixed_rates_equal_the_generated_signal_scaled_and_qdacq(tmp_path):
    with quorvane.open(SIM_MODEL, simulate=True) as dev:
        for name, value, channel in SESSION:
            dev.set(name, value, channel)
        for c in (0, 1, 4):
            dev.sim.record(c, 4000)
        rec = dev.record(seconds=5)
        generated = {c: dev.sim.generated(c) for c in (0, 1, 4)}
    assert rec.rates == [250, 15.625]
    reference = qdacq_csv(tmp_path, 3)
    for block in rec:
        assert block.data.shape[1] == round(5 * block.rate) and block.lost == 0
        for row, ch in enumerate(block.channels):
            sent = generated[ch.index]
            sent = sent[sent["fate"] == 0]["value"][:block.data.shape[1]]
            assert len(sent) == block.data.shape[1]
            np.testing.assert_array_equal(block.data[row], sent * ch.range / 32768)
            period = int(250 // block.rate)
            theirs = [(k, v) for (phase, c), v in reference.items() if c == ch.index for k in [phase // period]]
            assert len(theirs) > 2 * block.rate
            np.testing.assert_allclose([block.data[row, k] for k, _ in theirs], [v for _, v in theirs],
                                       rtol=1e-6, atol=1e-9)


def test_phase_gap_shows_as_lost_samples_and_an_event():
    with quorvane.open(MODEL, simulate=True, faults=["phase-gap@1x2"]) as dev:
        dev.set("Channel enable", 1)
        dev.set("Sample rate", 500, "A")
        rec = dev.record(seconds=3)
        kinds = {(e.kind, e.value) for e in dev.events()}
    assert ("lost", 32) in kinds and ("link", 2) in kinds        # two messages of 16 ticks
    for block, period in zip(rec, (1, 4)):
        assert block.lost == 32 // period and block.data.shape[1] == 3 * block.rate
        assert np.isnan(block.data).sum() == block.lost * len(block.channels)


@pytest.mark.parametrize("model", ["Quorvane Halvex-4 BT", "Quorvane Halvex+ 4 BLE", "Quorvane Brev 100"])
def test_every_link_kind_is_simulated(model):
    with quorvane.open(model, simulate=True) as dev:
        if model != "Quorvane Brev 100":
            dev.set("Channel enable", 1)
        rec = dev.record(seconds=3)
        events = dev.events()
    assert "link: connected (1)" in [e.text for e in events] and not [e for e in events if e.error]
    for block in rec:
        assert block.lost == 0 and block.data.shape[1] == round(3 * block.rate) and np.isfinite(block.data).all()


def _driver_copy(tmp_path, version):
    """The build's driver with another soname version, under that name."""
    data = Path(drv.loaded.driver_path).read_bytes().replace(b"libQuorvaneDrv.so.5\0", b"libQuorvaneDrv.so.%d\0" % version)
    path = tmp_path / ("libQuorvaneDrv.so.%d" % version)
    path.write_bytes(data)
    return path


@pytest.mark.parametrize("other, words", [
    (None, ["the Quorvane driver library libQuorvaneDrv.so.5 is not installed", "apt install libquorvane5"]),
    (4, ["needs soname version 5", "libQuorvaneDrv.so.4 (soname version 4)", "install libquorvane5"]),
])
def test_a_missing_or_other_installed_driver_is_named(tmp_path, other, words):
    """The package away from any build folder looks for the driver by its soname."""
    if drv.installed_driver():
        pytest.skip("this machine has %s installed" % drv.installed_driver())
    shutil.copytree(Path(quorvane.__file__).parent, tmp_path / "quorvane")
    if other:
        _driver_copy(tmp_path, other)
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUORVANE_")}
    env["LD_LIBRARY_PATH"] = str(tmp_path)
    run = subprocess.run([sys.executable, "-c", "import quorvane; quorvane.load()"], cwd=tmp_path, env=env,
                         capture_output=True, text=True)
    assert run.returncode != 0 and "QuorvaneError" in run.stderr
    assert all(w in run.stderr for w in words), run.stderr


def test_an_installed_copy_probes_no_build_folder_near_its_site(tmp_path):
    """Only the source tree's package looks into build/<preset>/; an installed
    copy loads what the system's search finds (or QUORVANE_DRIVER)."""
    site = tmp_path / "lib" / "site"
    shutil.copytree(Path(quorvane.__file__).parent, site / "quorvane")
    planted = tmp_path / "lib" / "build" / "native"
    planted.mkdir(parents=True)
    (planted / drv.driver_file()).write_bytes(Path(drv.loaded.driver_path).read_bytes())
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUORVANE_")}
    run = subprocess.run([sys.executable, "-c", "from quorvane import _driver as d; print(d.find_driver())"],
                         cwd=site, env=env, capture_output=True, text=True)
    assert run.stdout.strip() == drv.system_name(), run.stdout + run.stderr


@pytest.mark.parametrize("calls", ["quorvane.models(); quorvane.open(M, simulate=True).close()",
                                   "quorvane.open(M, simulate=True).close(); quorvane.models()"])
def test_listing_the_models_leaves_the_simulator_possible(tmp_path, calls):
    """A newcomer's first two calls, in either order, in one process."""
    code = "import quorvane; M = 'Quorvane Halvex+ 4 BLE'; " + calls + "; print('both worked')"
    run = subprocess.run([sys.executable, "-c", code], env=dict(os.environ, ALLUSERSPROFILE=str(tmp_path)),
                         capture_output=True, text=True)
    assert "both worked" in run.stdout, run.stderr


def test_a_driver_of_another_soname_version_is_refused(tmp_path):
    with pytest.raises(quorvane.QuorvaneError, match=r"libQuorvaneDrv\.so\.6 \(soname version 6\), but this package "
                                                     r"\(quorvane 5\.4\.5\) needs soname version 5"):
        drv.find_driver(_driver_copy(tmp_path, 6))
    assert drv.elf_soname(Path(drv.loaded.driver_path)) == "libQuorvaneDrv.so.5"
    for cut in (16, 64, 4096):          # short files are no library, not a crash
        (tmp_path / "cut.so").write_bytes(Path(drv.loaded.driver_path).read_bytes()[:cut])
        assert drv.elf_soname(tmp_path / "cut.so") is None


def test_bad_input_gets_the_drivers_words_and_the_context_stays_usable(dev, tmp_path):
    with quorvane.open("Quorvane Brev 100") as other:
        other.save(tmp_path / "brev.qvc")
    cases = [
        (lambda: dev.set("Sample rate", 251, "A"), ["QdStr2Param 2", "valid values: 62.5, 125.0"]),
        (lambda: dev.set("Channel label", "x" * 16, 0),
         ["QdSetParam: Value outside parameter's domain", "at most 15 characters"]),
        (lambda: dev.set("Sample rate", 250, "F"), ["QdStr2Param 4", "no such channel"]),
        (lambda: dev.get("Loudness"), ["has no parameter 'Loudness'", "Sample rate"]),
        (lambda: quorvane.open("Quorvane Halvex-9"), ["QdOpenDevContext -2", "Quorvane Halvex-4 USB"]),
        (lambda: dev.load(tmp_path / "brev.qvc"), ["QdSetDevConfig -3", "Storage for inconsistent device model"]),
        (lambda: dev.read(), ["no measurement"]),
    ]
    for call, words in cases:
        with pytest.raises(quorvane.QuorvaneError) as refused:
            call()
        assert all(w in str(refused.value) for w in words), str(refused.value)
        assert dev.get("Sample rate", "A") == 125.0
    dev.start()
    time.sleep(0.2)
    dev.stop()
    assert dev.read().blocks[0].data.shape[1] > 0         # what arrived before the stop
    with pytest.raises(quorvane.QuorvaneError, match="no measurement is running"):
        dev.read()
    dev.set("Channel label", "Fz", "A")
    dev.save(tmp_path / "halvex.qvc")
    dev.set("Channel label", "", "A")
    dev.load(tmp_path / "halvex.qvc")
    assert dev.get("Channel label", "A") == "Fz"


def test_to_mne_names_rates_units_and_start(dev):
    dev.set("Channel label", "Fz", "A")
    dev.set("Sample rate", 500, "A")
    dev.set("Channel function", "Resistance", "B")
    rec = dev.record(seconds=1)
    raws = dev.to_mne(rec)
    FIFF = pytest.importorskip("mne").io.constants.FIFF
    assert [r.ch_names for r in raws] == [["Fz"], ["C", "D"], ["B"]]
    assert [r.info["sfreq"] for r in raws] == [500, 125, 15.625]
    assert [c["unit"] for r in raws for c in r.info["chs"]] == [FIFF.FIFF_UNIT_V] * 3 + [FIFF.FIFF_UNIT_OHM]
    np.testing.assert_allclose(raws[0].get_data()[0], rec[500].data[0] * 1e-6)
    np.testing.assert_allclose(raws[2].get_data()[0], rec[15.625].data[0] * 1e3)
    assert raws[0].info["meas_date"] == rec.start_time


def test_close_with_a_measurement_running_stops_it_and_frees_the_context(dev):
    dev.start()
    assert dev.running and dev.read().blocks[0].data.shape[1] > 0
    dev.close()
    lib = drv.loaded.lib
    assert lib.QdComState(dev.context) == 0 and lib.QdSelectDevContext(dev.context) == -2
    assert drv.loaded.receivers[dev.context] is None
    with pytest.raises(quorvane.QuorvaneError, match="closed"):
        dev.get("Sample rate", "A")


def test_ring_wraps_and_a_full_ring_counts_the_packet_as_dropped():
    channels = [quorvane.ChannelInfo(c, "AB"[c], "", "uV", 32768.0, (500.0, 250.0)[c], "Voltage", "") for c in (0, 1)]
    rx = Receiver(channels, 0.0)                     # the smallest rings: 64 samples per rate
    samples = [np.zeros(16, np.int32), np.zeros(8, np.int32)]
    blocks = (drv.ChannelSamples * 2)(*[drv.ChannelSamples(len(s), s.ctypes.data, 0, c) for c, s in enumerate(samples)])
    for k in range(9):                               # 16-tick packets; device value = tick
        for c, s in enumerate(samples):
            s[:] = (np.arange(16 * k, 16 * k + 16)[c::c + 1] << 16)[:len(s)]
        rx.packet((16 * k) & 0xFFFF, ctypes.addressof(blocks))
        if k in (2, 8):
            got = rx.take()
    expected = [np.r_[np.arange(48, 112), [np.nan] * 32], np.r_[np.arange(49, 112, 2), [np.nan] * 16]]
    for block, want in zip(got, expected):
        np.testing.assert_array_equal(block.data[0], want)    # range 32768: physical = device value
        assert block.dropped == np.isnan(want).sum() and block.lost == 0
    assert [e.kind for e in rx.take_events()] == ["lost"]


def test_markers_times_and_annotations_reach_mne():
    with quorvane.open(MODEL, simulate=True, faults=["phase-gap@1.5"]) as dev:
        dev.set("Channel enable", 1)
        dev.start()
        parts = [dev.read()]
        for text in ("start", "", "x" * 200, "bad\x14\x00text"):
            dev.annotate(text)
            parts.append(dev.read())
        time.sleep(1.5)
        parts.append(dev.read())
        dev.stop()
    rec = quorvane.Recording.join(parts)
    texts = [a.text for a in rec.annotations]
    assert texts[:4] == ["start", "Marker", "x" * 120, "bad  text"] and "BAD_ACQ_SKIP" in texts
    block = rec.blocks[0]
    steps = np.diff(block.times)
    np.testing.assert_allclose(steps, 1 / block.rate, rtol=0.01)       # regular on the device's clock
    assert abs(block.unix_times[-1] - time.time()) < 1.0
    raws = quorvane.to_mne(rec)
    described = list(raws[0].annotations.description)
    assert "Marker" in described and "BAD_ACQ_SKIP" in described
    with pytest.raises(quorvane.QuorvaneError):
        dev.annotate("after the stop")
