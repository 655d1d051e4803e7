"""How fast the Python package takes samples from the driver, at the heaviest
configuration (four channels at 2000 sps and the button channel at 250 sps,
8,250 samples a second). Prints figures; never fails on a slow machine.

1. The package alone: data messages of that configuration (16 ticks each)
   handed to the package's sample callback through its C function pointer,
   as the driver calls it, into the rings, which a reader empties as it goes.
2. Live: a simulated "Quorvane Halvex+ 4 USB" measured through the driver's
   engine thread and read as a host would; CPU time of the whole process
   (driver, simulator and package).

    python3 bench/python/delivery.py [--packets N] [--seconds S]
"""
import argparse
import ctypes
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python"))
import quorvane  # noqa: E402
from quorvane import _driver as drv  # noqa: E402
from quorvane._stream import ChannelInfo, Receiver  # noqa: E402

TARGET = 100 * 8250
TICKS = 16


def package_alone(packets):
    channels = [ChannelInfo(c, "ABCDE"[c], "", "uV", 800.0, 2000.0 if c < 4 else 250.0, "Voltage", "")
                for c in range(5)]
    rx = Receiver(channels, 30.0)
    context = drv.MAX_CONTEXTS - 1
    drv.loaded.receivers[context] = rx
    data = [np.arange(TICKS, dtype=np.int32) << 16 for _ in range(5)]
    blocks = (drv.ChannelSamples * 6)()
    for c in range(5):
        blocks[c].count = TICKS if c < 4 else TICKS // 8
        blocks[c].samples = data[c].ctypes.data
        blocks[c].rateMask = 0 if c < 4 else 7
    address = ctypes.addressof(blocks)
    per_packet = 4 * TICKS + TICKS // 8
    start = time.process_time()
    for k in range(packets):
        drv._on_samples(context, (k * TICKS) & 0xFFFF, 0, address)
        if k % 25 == 24:                     # a host reading five times a second
            rx.take()
    rx.take()
    cpu = time.process_time() - start
    drv.loaded.receivers[context] = None
    assert sum(g.gaps != [] for g in rx.groups) == 0
    return packets * per_packet / cpu, cpu / packets * 1e6


def live(seconds):
    with quorvane.open("Quorvane Halvex+ 4 USB", simulate=True, shared_dir=tempfile.mkdtemp()) as dev:
        dev.set("Channel enable", 1)
        for c in "ABCD":
            dev.set("Sample rate", 2000, c)
        dev.set("Sample rate", 250, "E")
        dev.start()
        rx, spent = dev._rx, [0.0]
        take = rx.packet

        def timed(phase, address):           # CPU time of the package's callback
            t = time.thread_time()
            take(phase, address)
            spent[0] += time.thread_time() - t
        rx.packet = timed
        samples = lost = 0
        cpu0, wall0 = time.process_time(), time.monotonic()
        while time.monotonic() - wall0 < seconds:
            time.sleep(0.2)
            rec = dev.read()
            samples += sum(b.data.shape[0] * b.data.shape[1] for b in rec)
            lost += sum(b.lost + b.dropped for b in rec)
        cpu, wall = time.process_time() - cpu0, time.monotonic() - wall0
        dev.stop()
    return samples, lost, cpu, wall, spent[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packets", type=int, default=50000)
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    rate, us = package_alone(args.packets)
    print("package alone: %d data messages of 4x2000 + 250 sps: %.0f samples per CPU-second (%.1f us a message); "
          "target %d (100 x 8,250): %s" % (args.packets, rate, us, TARGET, "met" if rate >= TARGET else "MISSED"))
    print("figure: package_samples_per_cpu_second %.0f" % rate)
    samples, lost, cpu, wall, callback = live(args.seconds)
    print("live, simulated Quorvane Halvex+ 4 USB at 4x2000 + 250 sps for %.1f s: %d samples (%.0f a second), "
          "%d lost; the whole process (driver, simulator, package) used %.1f%% of a core: %.0f samples per "
          "CPU-second; inside the package's callback: %.2f%% of a core, %.0f samples per CPU-second"
          % (wall, samples, samples / wall, lost, 100 * cpu / wall, samples / cpu if cpu else float("inf"),
             100 * callback / wall, samples / callback if callback else float("inf")))
    print("figure: live_samples_per_cpu_second %.0f" % (samples / cpu if cpu else 0))
    print("figure: live_lost %d" % lost)


if __name__ == "__main__":
    main()
