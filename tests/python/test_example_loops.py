"""The real-time example loops against korvo-sim's physical twin: each runs as written, in a
process of its own, in Python and in C++, and the joints and TCPs do what the example's
description says."""

import math
import os
import re
import subprocess

import korvovyr as kv
import pytest

from support import connected_robot, retry_until

ARM_1 = kv.JointGroup.ARM_1


@pytest.fixture
def twin(simulator, zenoh_config):
    """A ready one-arm robot on the physical twin, in a posture where gravity pulls every joint,
    its serial number and the simulated robot; the example opens its own Robot."""
    with connected_robot(simulator, "Olvar-L") as (robot, sim):
        sim.enable_physics(True)
        posture = [0.3, 0.6, -0.4, -1.2, 0.5, 0.6, 0.2]
        sim.set_joint_positions(posture)
        retry_until(
            lambda: max(abs(a - b) for a, b in zip(robot.states()[ARM_1].q, posture)) < 1e-3,
            "the states to show the posture",
        )
        yield robot, sim


CPP_EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "build", "examples", "cpp")


@pytest.fixture(params=["python", "cpp"])
def run_loop(request, run_python):
    """Runs the example loop `name` (the Python program, or the C++ one of the same name) for
    `seconds` against `robot`'s serial number and returns what it printed."""

    def run(name, robot, seconds):
        args = [robot.info().serial_num, str(seconds)]
        if request.param == "python":
            done = run_python(run_python.example(name + ".py"), *args)
        else:
            done = subprocess.run(
                [os.path.join(CPP_EXAMPLES, name), *args],
                capture_output=True,
                text=True,
                timeout=120,
            )
        assert done.returncode == 0, done.stderr
        assert re.search("timeliness limit reached: (False|no)", done.stdout), done.stdout
        return done.stdout

    return run


def test_the_torque_loop_holds_the_arm(twin, run_loop):
    robot, sim = twin
    start = sim.q
    run_loop("joint_torque_loop", robot, 2.0)
    assert max(abs(a - b) for a, b in zip(sim.q, start)) < 1e-2


def test_the_position_loop_swings_every_joint_around_its_start(twin, run_loop):
    robot, sim = twin
    start = sim.q
    # After a quarter of the 4 s swing every joint is 0.1 rad from its start, and stops there.
    run_loop("joint_position_loop", robot, 1.0)
    for a, b in zip(sim.q, start):
        assert a - b == pytest.approx(0.1, abs=0.01)


def test_the_cartesian_loop_sways_the_tcp_along_y(twin, run_loop):
    robot, _ = twin
    start = robot.states()[ARM_1].tcp_pose
    out = run_loop("cartesian_loop", robot, 2.0)
    (error,) = re.findall(r"largest TCP tracking error: ([0-9.]+) mm", out)
    assert float(error) < 5.0
    # Half a sway: the TCP stopped 3 cm along y from where it started.
    end = robot.states()[ARM_1].tcp_pose
    assert math.dist(end[:3], [start[0], start[1] + 0.03, start[2]]) < 5e-3
