"""python3 -m quorvane: the models the driver knows, or a short measurement.

    python3 -m quorvane --list
    python3 -m quorvane --simulate --seconds 3
    python3 -m quorvane --simulate --model "Quorvane Brev 100" --seconds 5
    python3 -m quorvane --model "Quorvane Halvex-4 USB" --set "Sample rate:A=500" --seconds 10

Without --set every channel is on. Exit status: 0 a measurement without
losses (or the list), 4 one with lost samples, 1 the driver refused or ended
it, 2 a bad command line.
"""

import argparse
import sys

import numpy as np

from . import _driver as drv
from ._errors import QuorvaneError
from ._version import __version__
from .device import models, open as open_device

DEFAULT_SIMULATED_MODEL = "Quorvane Halvex-4 USB"


def _arguments(argv):
    parser = argparse.ArgumentParser(prog="python3 -m quorvane", description="The Quorvane driver from Python: "
                                     "the device models, or a short measurement with a summary per sampling rate.")
    parser.add_argument("--version", action="version", version="quorvane " + __version__)
    parser.add_argument("--list", action="store_true", help="list the device models and exit")
    parser.add_argument("--model", help="the device model (with --simulate the default is %r)"
                        % DEFAULT_SIMULATED_MODEL)
    parser.add_argument("--simulate", action="store_true", help="use the simulated device, not real transceivers")
    parser.add_argument("--seconds", type=float, default=3.0, help="how long to measure (default 3)")
    parser.add_argument("--set", action="append", default=[], metavar="NAME[:CHANNEL]=VALUE",
                        help="set a parameter before the measurement (repeatable)")
    parser.add_argument("--driver", help="the driver library (default: found as the package finds it)")
    args = parser.parse_args(argv)
    if not args.list and not args.model and not args.simulate:
        parser.error("name the model with --model, use --simulate, or --list the models")
    if args.seconds <= 0:
        parser.error("--seconds needs a positive number")
    return args


def _setting(text):
    name, equals, value = text.partition("=")
    name, _, channel = name.partition(":")
    if not equals or not name.strip():
        raise QuorvaneError("--set %r: write NAME=VALUE or NAME:CHANNEL=VALUE" % text)
    return name.strip(), value, (int(channel) if channel.strip().isdigit() else channel.strip() or None)


def _list(driver):
    drv.load(driver)
    for index, name in enumerate(models()):
        with open_device(name) as dev:
            link = dev._text(drv.PAR_LINK_TYPE, 0) or "?"
            print("%2d  %-24s %-13s %d channel%s" % (index, name, link, dev.channel_count,
                                                     "" if dev.channel_count == 1 else "s"))
    return 0


def _measure(args):
    model = args.model or DEFAULT_SIMULATED_MODEL
    with open_device(model, simulate=args.simulate, driver=args.driver) as dev:
        print("driver: %s" % drv.loaded.driver_path)
        if dev.sim:
            print("simulator: %s" % drv.loaded.sim_path)
        print("driver log: %s" % (drv.loaded.log_path or "none (the driver cannot write %s/Quorvane)"
                                  % drv.shared_dir()))
        for name, value, channel in [_setting(s) for s in args.set]:
            dev.set(name, value, channel)
        if not args.set:
            try:
                dev.set("Channel enable", 1)
            except QuorvaneError:
                pass        # a model whose channels are always on (the Brev)
        print("model: %s%s, %g s" % (model, " (simulated)" if dev.sim else "", args.seconds))
        recording = dev.record(seconds=args.seconds)
        for event in dev.events():
            print("[%6.2f s] %s" % (event.time, event.text))
    lost = 0
    for block in recording:
        finite = block.data[np.isfinite(block.data)]
        span = "[%.4g, %.4g]" % (finite.min(), finite.max()) if finite.size else "no data"
        print("%g sps: %s, %d samples each, %s, lost %d" % (block.rate, " ".join(c.name for c in block.channels),
                                                          block.data.shape[1], span, block.lost))
        lost += block.lost
    print("total: %d samples, %d lost" % (sum(b.data.size for b in recording), lost))
    return 4 if lost else 0


def main(argv=None):
    args = _arguments(argv)
    try:
        return _list(args.driver) if args.list else _measure(args)
    except QuorvaneError as e:
        print("quorvane: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
