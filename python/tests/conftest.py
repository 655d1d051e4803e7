"""The package against the simulated device: the driver (QUORVANE_DRIVER) is
loaded once with the simulator (QUORVANE_SIMULATOR) in front of it, with its
log in a temporary shared folder."""
import pytest

import quorvane

MODEL = "Quorvane Halvex-4 USB"


@pytest.fixture(scope="session", autouse=True)
def driver(tmp_path_factory):
    return quorvane.load(simulator=True, shared=str(tmp_path_factory.mktemp("shared")))


@pytest.fixture
def dev():
    with quorvane.open(MODEL, simulate=True) as device:
        device.set("Channel enable", 1)
        yield device
