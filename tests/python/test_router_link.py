"""A fleet that meets through a zenoh router, from the example configurations of examples/router:
two robots, each on a session of its own as on a machine of its own, and the library, all in
client mode, reach each other only through the router (a session in router mode, as zenohd runs
it).
Loopback only."""

import gc
import os
import uuid

import pytest

import korvosim
import korvovyr as kv
from support import retry_until

ROUTER = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "router")


def example(name, port):
    """The example configuration `name` with its address replaced by 127.0.0.1:`port`."""
    with open(os.path.join(ROUTER, name)) as f:
        text = f.read()
    for address in ("0.0.0.0:7447", "192.168.3.1:7447"):
        text = text.replace(f"tcp/{address}", f"tcp/127.0.0.1:{port}")
    assert text.count(f"tcp/127.0.0.1:{port}") == 1
    return text


@pytest.fixture
def fleet(tmp_path, monkeypatch):
    """The router, two robot sessions (one ready robot each) and the library pointed at the
    router; yields the two hosted robots with their serial numbers."""
    port = korvosim.free_port()
    gc.collect()  # no Robot of an earlier test keeps the shared session open
    client = tmp_path / "client.json5"
    client.write_text(example("client.json5", port))
    monkeypatch.setenv("ZENOH_CONFIG", str(client))
    with korvosim.Simulator(example("router.json5", port)), korvosim.Simulator(
        example("robot.json5", port)
    ) as first, korvosim.Simulator(example("robot.json5", port)) as second:
        hosted = []
        for sim, model in ((first, "Olvar-L"), (second, "Olvar-LL")):
            serial = f"{model}-r{uuid.uuid4().hex[:8]}"
            robot = sim.add_robot(model, serial)
            robot.make_ready()
            hosted.append((serial, robot))
        yield hosted
        gc.collect()


def test_a_client_controls_every_robot_of_the_fleet_through_the_router(fleet):
    robots = []
    for serial, hosted in fleet:
        robot = kv.Robot(serial, verbose=False)
        retry_until(robot.operational, "the robot to become operational")
        robot.SwitchMode(kv.Mode.RT_JOINT_TORQUE)
        robots.append((robot, hosted))
    for _ in range(50):
        for robot, _hosted in robots:
            arms = robot.info().single_arm_groups
            robot.StreamJointTorque({g: kv.RtJointTorqueCmd([0.0] * 7) for g in arms})
    for robot, hosted in robots:
        retry_until(lambda h=hosted: len(h.commands()) == 50, "the commands to arrive")
        assert hosted.mode == int(kv.Mode.RT_JOINT_TORQUE)
        assert robot.states()  # the states come back through the router too
        robot.Stop()
        assert robot.mode() == kv.Mode.IDLE
