"""What the Python benchmarks share: a simulated robot in this process, and the library pointed at
it over loopback."""

import contextlib
import os
import tempfile
import time

import korvosim


@contextlib.contextmanager
def simulated_robot(model, serial):
    """Hosts a ready `model` robot under `serial` and yields (korvovyr, a connected Robot)."""
    port = korvosim.free_port()
    config = os.path.join(tempfile.mkdtemp(), "client.json5")
    korvosim.write_config(korvosim.connector_config(port), config)
    os.environ["ZENOH_CONFIG"] = config
    import korvovyr as kv  # after ZENOH_CONFIG: the client's session reads it

    with korvosim.Simulator(korvosim.listener_config(port)) as sim:
        sim.add_robot(model, serial).make_ready()
        robot = kv.Robot(serial, verbose=False)
        while not robot.operational():
            time.sleep(0.01)
        yield kv, robot
        del robot
