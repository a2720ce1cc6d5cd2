"""korvo-sim's safety settings and torque-sensor calibration: the korvosim controls and read-backs,
seen through the requests a client sends with the test-only middleware module over loopback.

One simulator per module (conftest.py) listens on a free port of 127.0.0.1; every test hosts its
own robot under a fresh serial number.
"""

import math
import struct

import pytest

from support import hosted_robot, retry_until

ARM_1, ARM_2 = 3, 4
IDLE, NRT_PRIMITIVE_EXECUTION = 1, 8
REDUCED, CAT_1_STOP, CAT_2_STOP = 10, 72, 136
CALIBRATE = "caliJointStaticTorqueChannelOffset(waitTime = 5)"
MOVE_FAR = "MoveJ(target = 60 -40 30 -60 20 40 10 0 0 0 0 0 0 )"
NOTHING_PENDING = {"q_min": {}, "q_max": {}, "dq_max_normal": {}, "dq_max_reduced": {}}


def f32(values):
    return [struct.unpack("<f", struct.pack("<f", x))[0] for x in values]


@pytest.fixture
def robot(simulator, session):
    """A two-arm robot under a fresh serial number, with a `vyr(op_code, **fields)` caller that
    returns the decoded reply (None when none arrived)."""
    with hosted_robot(simulator, session, "Olvar-LL", 3) as hosted:
        yield hosted


def velocity_limits(vyr, group):
    """The velocity part of operation 6's reply for `group`."""
    row = vyr(6, joint_groups=[group]).float2d_container[0]
    n = len(row) // 4
    return row[2 * n : 3 * n]


def execute(vyr, *texts):
    """Executes one primitive per arm, ARM_1 first."""
    groups = [ARM_1, ARM_2][: len(texts)]
    return vyr(
        21,
        joint_groups=groups,
        bool_container=[True] * len(texts),
        int_container=[0] * len(texts),
        string_container=list(texts),
    ).success


def test_new_limits_wait_for_a_reboot(robot):
    sim, vyr = robot
    assert sim.pending_safety_limits == NOTHING_PENDING
    normal = velocity_limits(vyr, ARM_1)
    assert vyr(101, joint_groups=[ARM_1], float_container=[1.5] * 7).success
    assert not vyr(102, joint_groups=[ARM_1], float_container=[0.5] * 7).success  # too low
    assert sim.pending_safety_limits == {**NOTHING_PENDING, "dq_max_normal": {ARM_1: [1.5] * 7}}
    assert velocity_limits(vyr, ARM_1) == normal

    sim.reboot()
    assert sim.pending_safety_limits == NOTHING_PENDING
    assert sim.mode == IDLE
    assert velocity_limits(vyr, ARM_1) == [1.5] * 7  # the robot still answers

    start, dof = sim.groups[ARM_1]
    sim.set_safety_state(REDUCED)
    assert velocity_limits(vyr, ARM_1) == f32(sim.reduced_velocity_limits[start : start + dof])


def test_the_torque_regulator_changes_at_once(robot):
    sim, vyr = robot
    assert sim.torque_regulator == (1.3, 50)
    assert vyr(103, int_container=[7], float_container=[2.5]).success
    assert sim.torque_regulator == (2.5, 7)
    assert not vyr(103, int_container=[0], float_container=[2.5]).success
    assert sim.torque_regulator == (2.5, 7)


def test_a_finished_calibration_is_saved(robot):
    sim, vyr = robot
    sim.set_torque_calibration_time_scale(0.01)
    sim.make_ready()
    assert vyr(8, int_container=[NRT_PRIMITIVE_EXECUTION]).success
    assert not vyr(110).success  # nothing calibrated
    assert execute(vyr, CALIBRATE)
    retry_until(lambda: not sim.busy, "the end of the calibration")
    assert vyr(110).success
    assert sim.torque_calibrations_saved == 1


@pytest.mark.parametrize(
    "kind, safety_state", [("fault", CAT_2_STOP), ("estop", CAT_1_STOP)]
)
def test_an_armed_interruption_cuts_the_calibration_short(robot, kind, safety_state):
    sim, vyr = robot
    sim.set_torque_calibration_time_scale(100.0)  # 500 s: only the interruption ends it
    sim.interrupt_next_primitive(CALIBRATE.split("(")[0], 0.05, kind)
    sim.make_ready()
    assert vyr(8, int_container=[NRT_PRIMITIVE_EXECUTION]).success
    assert execute(vyr, CALIBRATE)
    retry_until(lambda: sim.mode == IDLE, "the interruption")
    assert sim.safety_state == safety_state
    assert not sim.busy
    assert not vyr(110).success
    assert sim.torque_calibrations_saved == 0


def test_a_stalled_move_holds_until_released(robot, simulator):
    sim, vyr = robot
    sim.make_ready()
    assert vyr(8, int_container=[NRT_PRIMITIVE_EXECUTION]).success
    sim.stall_motion()
    q = sim.q
    assert execute(vyr, MOVE_FAR)
    cycles = simulator.cycles
    retry_until(lambda: simulator.cycles > cycles + 200, "200 control cycles")
    assert sim.q == q
    assert sim.busy
    sim.stall_motion(False)
    retry_until(lambda: not sim.busy, "the MoveJ target")
    assert sim.q != q


@pytest.mark.parametrize(
    "control, error",
    [
        pytest.param(
            lambda r: r.interrupt_next_primitive("MoveJ", 1.0, "crash"),
            ValueError,
            id="unknown-kind",
        ),
        pytest.param(
            lambda r: r.interrupt_next_primitive("MoveJ", -1.0, "fault"),
            ValueError,
            id="negative-time",
        ),
        pytest.param(
            lambda r: r.interrupt_next_primitive("MoveJ", math.inf, "estop"),
            ValueError,
            id="infinite-time",
        ),
        pytest.param(
            lambda r: r.set_torque_calibration_time_scale(math.nan),
            ValueError,
            id="nan-scale",
        ),
        pytest.param(
            lambda r: r.set_torque_calibration_time_scale(-1.0),
            ValueError,
            id="negative-scale",
        ),
        pytest.param(
            lambda r: r.set_safety_inputs([True] * 7), TypeError, id="seven-inputs"
        ),
    ],
)
def test_controls_refuse_values_no_robot_has(robot, control, error):
    sim, _ = robot
    with pytest.raises(error):
        control(sim)
