"""korvo-sim's tools, work coordinates and payload calibration: the korvosim controls and
read-backs, seen through the requests a client sends with the test-only middleware module over
loopback.

One simulator per module (conftest.py) listens on a free port of 127.0.0.1; every test hosts its
own robot under a fresh serial number.
"""

import math
import struct

import pytest

import korvo_mdw_test as mt
from support import hosted_robot, retry_until

ARM_1, ARM_2 = 3, 4
IDLE, NRT_PLAN_EXECUTION = 1, 7
IDENTITY = [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0]



def f32(values):
    return [struct.unpack("<f", struct.pack("<f", x))[0] for x in values]


def tool_info(name, mass=0.0, com=(0.0,) * 3, inertia=(0.0,) * 6, tcp=(0.0,) * 7):
    tool = mt.vyr_msg.ToolInfo()
    tool.name = name
    tool.mass = mass
    tool.CoM = list(com)
    tool.inertia = list(inertia)
    tool.tcp_location = list(tcp)
    return tool


@pytest.fixture
def robot(simulator, session):
    """A two-arm robot under a fresh serial number, with a `vyr(op_code, **fields)` caller that
    returns the decoded reply (None when none arrived)."""
    with hosted_robot(simulator, session, "Olvar-LL", 36) as hosted:
        yield hosted


def test_tool_read_backs_follow_the_requests(robot):
    sim, vyr = robot
    flange = {"mass": 0.0, "CoM": [0.0] * 3, "inertia": [0.0] * 6, "tcp_location": IDENTITY}
    assert sim.tools == {"Flange": flange}
    assert sim.active_tools == {ARM_1: "Flange", ARM_2: "Flange"}

    probe = tool_info(
        "Probe", 0.4, (0, 0, 0.03), (1e-3, 1e-3, 2e-3, 0, 0, 0), (0, 0, 0.1, 1, 0, 0, 0)
    )
    assert vyr(30, tool=probe).success
    assert vyr(33, tool=tool_info("Probe"), joint_groups=[ARM_2]).success
    assert list(sim.tools) == ["Flange", "Probe"]
    assert sim.tools["Probe"] == {
        "mass": f32([0.4])[0],
        "CoM": f32(probe.CoM),
        "inertia": f32(probe.inertia),
        "tcp_location": f32(probe.tcp_location),
    }
    assert sim.active_tools == {ARM_1: "Flange", ARM_2: "Probe"}
    assert vyr(34, joint_groups=[ARM_2]).tool.name == "Probe"
    assert not vyr(32, tool=tool_info("Probe")).success  # mounted on ARM_2


def test_calibration_stores_the_set_payload_once_it_finishes(robot):
    sim, vyr = robot
    assert sim.payload_result is None
    assert not vyr(37).success
    sim.set_calibration_duration(0.05)
    sim.set_payload(0.9, [0.0, 0.01, 0.06], [0.001, 0.002, 0.003, 0.0, 0.0, 0.0])
    sim.make_ready()
    assert vyr(8, int_container=[NRT_PLAN_EXECUTION]).success
    plan = vyr(22, string_container=["PLAN-ToolDynCaliWithTool-VYR"], int_container=[0])
    assert plan.success

    result = retry_until(lambda: sim.payload_result, "the calibration result")
    expected = {"mass": 0.9, "CoM": [0.0, 0.01, 0.06], "inertia": [0.001, 0.002, 0.003, 0, 0, 0]}
    assert result == expected
    assert not sim.busy
    reply = vyr(37)
    assert reply.success
    assert (reply.tool.mass, reply.tool.CoM, reply.tool.inertia) == (
        f32([0.9])[0],
        f32(expected["CoM"]),
        f32(expected["inertia"]),
    )
    assert reply.tool.tcp_location == [0.0] * 7
    assert vyr(8, int_container=[IDLE]).success


def test_work_coord_values_bypass_the_checks(robot):
    sim, vyr = robot
    assert sim.work_coords == {"WorkTable": f32([0.6, 0.0, 0.1, 1.0, 0.0, 0.0, 0.0])}
    sim.set_work_coord_values("Short", [1.0, 2.0, 3.0, 4.0, 5.0, 6.0])
    sim.set_work_coord_values("WorkTable", [0.1] * 7)
    assert vyr(53, string_container=["Short"]).float_container == [1, 2, 3, 4, 5, 6]
    assert vyr(53, string_container=["WorkTable"]).float_container == f32([0.1] * 7)
    assert list(sim.work_coords) == ["WorkTable", "Short"]

    assert vyr(50, string_container=["Jig"], float_container=[0, 0, 0, 0, 0, 0, 2]).success
    assert sim.work_coords["Jig"] == [0, 0, 0, 0, 0, 0, 2]  # stored as sent


@pytest.mark.parametrize(
    "control",
    [
        pytest.param(lambda r: r.set_payload(-0.1, [0] * 3, [0] * 6), id="negative-mass"),
        pytest.param(lambda r: r.set_payload(math.nan, [0] * 3, [0] * 6), id="nan-mass"),
        pytest.param(lambda r: r.set_payload(1.0, [0, 0, math.inf], [0] * 6), id="inf-com"),
        pytest.param(lambda r: r.set_calibration_duration(-1.0), id="negative-duration"),
        pytest.param(lambda r: r.set_calibration_duration(math.nan), id="nan-duration"),
    ],
)
def test_controls_raise_value_error_for_values_no_robot_has(robot, control):
    sim, _ = robot
    with pytest.raises(ValueError):
        control(sim)
