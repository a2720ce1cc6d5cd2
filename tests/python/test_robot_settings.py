"""Controller settings and digital I/O from Python: the defaults of the bound operations as the
simulated robot receives them, and how the library's errors surface."""

import math
import struct
import time

import pytest

import korvovyr as kv

ARM_1, EXT_AXIS = kv.JointGroup.ARM_1, kv.JointGroup.EXT_AXIS
Mode = kv.Mode


def f32(x):
    """`x` as the 32-bit float the request carries."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


@pytest.fixture(scope="module")
def simulator(simulator, zenoh_config):
    """The module's simulator, with ZENOH_CONFIG naming it before the module's first Robot opens
    the process-wide session (robots an earlier module left in reference cycles are released
    first, so that no session to an earlier simulator is still open)."""
    return simulator


_count = 0


@pytest.fixture
def ready(simulator):
    """A ready Olvar-L with one external axis, of its own, and its simulated counterpart."""
    global _count
    _count += 1
    serial = f"Olvar-L-set{_count}"
    sim_robot = simulator.add_robot("Olvar-L", serial, 1)
    sim_robot.make_ready()
    robot = kv.Robot(serial, verbose=False)
    deadline = time.monotonic() + 10
    while not robot.operational() and time.monotonic() < deadline:
        time.sleep(0.01)
    yield robot, sim_robot
    del robot
    simulator.remove_robot(serial)


def switch(robot, sim_robot, mode):
    robot.SwitchMode(mode)
    sim_robot.clear_records()


# The calls leave out every argument that has a default.
DEFAULTS = [
    pytest.param(
        Mode.NRT_JOINT_IMPEDANCE,
        lambda r: r.SetJointImpedance(ARM_1, [100.5] * 7),
        (71, 3),
        [],
        [100.5] * 7 + [f32(0.7)] * 7,
        [],
        id="SetJointImpedance-Z_q",
    ),
    pytest.param(
        Mode.RT_JOINT_IMPEDANCE,
        lambda r: r.SetJointImpedance(EXT_AXIS, [2500.0]),
        (71, 5),
        [],
        [2500.0, f32(0.7)],
        [],
        id="SetJointImpedance-external-axis-Z_q",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetCartesianImpedance(ARM_1, [1000, 1000, 1000, 100, 100, 100]),
        (70, 3),
        [],
        [1000.0] * 3 + [100.0] * 3 + [f32(0.7)] * 6,
        [],
        id="SetCartesianImpedance-Z_x",
    ),
    pytest.param(
        Mode.NRT_SUPER_PRIMITIVE,
        lambda r: r.SetNullSpaceObjectives(ARM_1),
        (74, 3),
        [],
        [0.0, 0.0, 0.5],
        [],
        id="SetNullSpaceObjectives-weights",
    ),
    pytest.param(
        Mode.RT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetForceControlAxis(
            ARM_1, [False, False, True, False, False, True]
        ),
        (80, 3),
        [0, 0, 1, 0, 0, 1],
        [1.0, 1.0, 1.0],
        [],
        id="SetForceControlAxis-max_linear_vel",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetForceControlFrame(ARM_1, kv.CoordType.WORLD),
        (81, 3),
        [],
        [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0],
        ["WORLD"],
        id="SetForceControlFrame-T_in_root",
    ),
]


@pytest.mark.parametrize("mode, call, key, ints, floats, strings", DEFAULTS)
def test_defaults_reach_the_robot(ready, mode, call, key, ints, floats, strings):
    robot, sim_robot = ready
    switch(robot, sim_robot, mode)
    call(robot)
    request = sim_robot.settings[key]
    assert request["joint_groups"] == [key[1]]
    assert request["int_container"] == ints
    assert request["float_container"] == floats
    assert request["string_container"] == strings


def test_values_are_narrowed_to_floats_and_keywords_follow_the_signature(ready):
    robot, sim_robot = ready
    switch(robot, sim_robot, Mode.NRT_CARTESIAN_MOTION_FORCE)
    robot.SetForceControlFrame(
        group=ARM_1, root_coord=kv.CoordType.TCP, T_in_root=[0.1, 0, 0, 1, 0, 0, 0]
    )
    request = sim_robot.settings[(81, 3)]
    assert request["float_container"][0] == f32(0.1) != 0.1
    assert request["string_container"] == ["TCP"]


SET_JOINT = "[korvo::vyr::Robot::SetJointImpedance]"
SET_OBJECTIVES = "[korvo::vyr::Robot::SetNullSpaceObjectives]"

ERRORS = [
    pytest.param(
        Mode.NRT_JOINT_IMPEDANCE,
        lambda r: r.SetJointImpedance(ARM_1, [100.0] * 6),
        ValueError,
        f"{SET_JOINT} Size of input vector [K_q] does not match joint group DoF",
        id="size",
    ),
    pytest.param(
        Mode.NRT_JOINT_IMPEDANCE,
        lambda r: r.SetJointImpedance(ARM_1, [100.0] * 7, [0.5] * 6 + [math.nan]),
        ValueError,
        f"{SET_JOINT} Input parameter [Z_q] contains value outside the valid range",
        id="nan-damping",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetNullSpaceObjectives(ARM_1, ref_positions_tracking=0.05),
        ValueError,
        f"{SET_OBJECTIVES} Input parameter [ref_positions_tracking] is outside the valid range",
        id="tracking",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetCartesianImpedance(EXT_AXIS, [1.0] * 6),
        ValueError,
        "[korvo::vyr::Robot::SetCartesianImpedance] The specified joint group [EXT_AXIS] is "
        "not an existing single-arm joint group in the connected robot",
        id="group",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetForceControlFrame(ARM_1, kv.CoordType(2)),
        ValueError,
        "[korvo::vyr::Robot::SetForceControlFrame] Input parameter [root_coord] is invalid",
        id="root",
    ),
    pytest.param(
        Mode.IDLE,
        lambda r: r.SetDigitalOutputs({3: True, 20: False}),
        ValueError,
        "[korvo::vyr::Robot::SetDigitalOutputs] Input map contains port index outside the "
        "valid range",
        id="port",
    ),
    pytest.param(
        Mode.IDLE,
        lambda r: r.SetMaxContactTorque(ARM_1, [1.0] * 7),
        RuntimeError,
        "[korvo::vyr::Robot::SetMaxContactTorque] Robot is not in an applicable control mode",
        id="mode",
    ),
    pytest.param(
        Mode.NRT_CARTESIAN_MOTION_FORCE,
        lambda r: r.SetPassiveForceControl(ARM_1, True),
        RuntimeError,
        "[korvo::vyr::Robot::SetPassiveForceControl] Robot is not in IDLE mode",
        id="not-idle",
    ),
]


@pytest.mark.parametrize("mode, call, error, message", ERRORS)
def test_library_errors_raise_with_their_text_and_send_nothing(
    ready, mode, call, error, message
):
    robot, sim_robot = ready
    switch(robot, sim_robot, mode)
    with pytest.raises(error) as raised:
        call(robot)
    assert raised.type is error
    assert str(raised.value) == message
    assert sim_robot.vyr_requests() == []


def test_refused_request_raises_runtime_error(ready):
    robot, sim_robot = ready
    switch(robot, sim_robot, Mode.RT_JOINT_IMPEDANCE)
    sim_robot.set_reply_rule("vyr", 75, "refuse")
    with pytest.raises(RuntimeError) as raised:
        robot.SetJointInertiaScale(ARM_1, [1.0] * 7)
    assert str(raised.value) == (
        "[korvo::vyr::Robot::SetJointInertiaScale] Failed to deliver the request"
    )


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda r: r.SetCartesianImpedance(ARM_1, [1.0] * 5), id="K_x-5"),
        pytest.param(
            lambda r: r.SetForceControlAxis(ARM_1, [True] * 6, [1.0] * 2),
            id="max_linear_vel-2",
        ),
        pytest.param(lambda r: r.SetJointImpedance(3, [1.0] * 7), id="int-group"),
        pytest.param(lambda r: r.SetDigitalOutputs({-1: True}), id="negative-port"),
        pytest.param(lambda r: r.SetDigitalOutputs([True] * 20), id="list-of-ports"),
    ],
)
def test_arguments_that_do_not_convert_raise_type_error(ready, call):
    robot, sim_robot = ready
    sim_robot.clear_records()
    with pytest.raises(TypeError):
        call(robot)
    assert sim_robot.vyr_requests() == []


def test_digital_outputs_change_only_the_named_ports(ready):
    robot, sim_robot = ready
    robot.SetDigitalOutputs({5: True, 7: True})
    robot.SetDigitalOutputs({0: True, 7: False, 19: False})
    ports = [r["int_container"] for r in sim_robot.vyr_requests()]
    assert ports[-1] == [1] + [-1] * 6 + [0] + [-1] * 11 + [0]
    expected = [False] * 20
    expected[0] = expected[5] = True
    assert sim_robot.digital_outputs == expected
    # The robot reports them back with its stream data.
    deadline = time.monotonic() + 10
    while robot.digital_outputs() != expected and time.monotonic() < deadline:
        time.sleep(0.01)
    assert robot.digital_outputs() == expected
    inputs = robot.digital_inputs()
    assert len(inputs) == 20 and all(type(v) is bool for v in inputs)
