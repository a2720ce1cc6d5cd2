"""The streaming and discrete motion commands from Python: conversions, defaults, errors, and what
the simulated robot receives."""

import time

import pytest

import korvovyr as kv


@pytest.fixture(scope="module")
def simulator(simulator, zenoh_config):
    """The module's simulator, with ZENOH_CONFIG naming it before the module's first Robot opens
    the process-wide session (robots an earlier module left in reference cycles are released
    first, so that no session to an earlier simulator is still open)."""
    return simulator


_count = 0


@pytest.fixture
def ready(simulator):
    """A ready two-arm robot of its own and its simulated counterpart."""
    global _count
    _count += 1
    serial = f"Olvar-LL-cmd{_count}"
    sim_robot = simulator.add_robot("Olvar-LL", serial)
    sim_robot.make_ready()
    robot = kv.Robot(serial, verbose=False)
    deadline = time.monotonic() + 10
    while not robot.operational() and time.monotonic() < deadline:
        time.sleep(0.01)
    yield robot, sim_robot
    del robot
    simulator.remove_robot(serial)


def received(sim_robot, count, timeout=10.0):
    deadline = time.monotonic() + timeout
    while len(sim_robot.commands()) < count and time.monotonic() < deadline:
        time.sleep(0.005)
    return sim_robot.commands()


def switch(robot, sim_robot, mode):
    robot.SwitchMode(mode)
    sim_robot.clear_records()


def test_torque_stream_reaches_the_robot_narrowed_with_stamps_from_one(ready):
    robot, sim_robot = ready
    switch(robot, sim_robot, kv.Mode.RT_JOINT_TORQUE)
    cmd = kv.RtJointTorqueCmd(
        [0.1] * 7, enable_gravity_comp=False, friction_comp_scale=50
    )
    robot.StreamJointTorque(
        {kv.JointGroup.ARM_2: cmd, kv.JointGroup.ARM_1: kv.RtJointTorqueCmd([0] * 7)}
    )
    robot.StreamJointTorque({kv.JointGroup.ARM_1: kv.RtJointTorqueCmd([0] * 7)})
    first, second = received(sim_robot, 2)[:2]
    assert [first["stamp"], second["stamp"]] == [1, 2]
    assert first["joint_groups"] == [3, 4]
    arm2 = first["joint_commands"][1]
    assert arm2["tau_d"] == pytest.approx([0.1] * 7, rel=1e-7)
    assert arm2["tau_d"][0] != 0.1  # narrowed to a float on the way
    assert arm2["disable_gravity_comp"] is True
    assert arm2["disable_soft_limits"] is False
    assert arm2["friction_comp_scale"] == 50


@pytest.mark.parametrize(
    "mode, call, error, message",
    [
        (
            kv.Mode.RT_JOINT_TORQUE,
            lambda r: r.StreamJointTorque(
                {
                    kv.JointGroup.ARM_1: kv.RtJointTorqueCmd(
                        [0] * 7, friction_comp_scale=100.5
                    )
                }
            ),
            ValueError,
            "[korvo::vyr::Robot::StreamJointTorque] Input parameter [friction_comp_scale] is outside the valid range",
        ),
        (
            kv.Mode.RT_JOINT_POSITION,
            lambda r: r.StreamJointTorque(
                {kv.JointGroup.ARM_1: kv.RtJointTorqueCmd([0] * 7)}
            ),
            RuntimeError,
            "[korvo::vyr::Robot::StreamJointTorque] Robot is not in an applicable control mode",
        ),
        (
            kv.Mode.RT_JOINT_POSITION,
            lambda r: r.StreamJointPosition(
                {kv.JointGroup.ARM_1: kv.RtJointPositionCmd([0] * 7, [0] * 6, [0] * 7)}
            ),
            ValueError,
            "[korvo::vyr::Robot::StreamJointPosition] Size of input vector [dq_d] does not match joint group DoF",
        ),
        (
            kv.Mode.NRT_JOINT_POSITION,
            lambda r: r.SendJointPosition(
                {
                    kv.JointGroup.ARM_1: kv.NrtJointPositionCmd(
                        [0] * 7, [0] * 7, [0] * 7, [1] * 7
                    )
                }
            ),
            ValueError,
            "[korvo::vyr::Robot::SendJointPosition] Input parameters [dq_max] and [ddq_max] must be greater than 0",
        ),
        (
            kv.Mode.NRT_SUPER_PRIMITIVE,
            lambda r: r.SendCartesianMotionForceMultiWaypoint(
                {kv.JointGroup.ARM_1: kv.NrtCartesianMultiWaypointCmd([])}
            ),
            ValueError,
            "[korvo::vyr::Robot::SendCartesianMotionForceMultiWaypoint] Input parameter [waypoints] cannot be empty",
        ),
        (
            kv.Mode.RT_CARTESIAN_MOTION_FORCE,
            lambda r: r.StreamCartesianMotionForce(
                {kv.JointGroup.ARMS: kv.RtCartesianCmd([0, 0, 0, 1, 0, 0, 0])}
            ),
            ValueError,
            "[korvo::vyr::Robot::StreamCartesianMotionForce] The specified joint group [ARMS] is not an existing single-arm joint group in the connected robot",
        ),
    ],
)
def test_rejected_commands_raise_with_the_library_text_and_send_nothing(
    ready, mode, call, error, message
):
    robot, sim_robot = ready
    switch(robot, sim_robot, mode)
    with pytest.raises(error) as raised:
        call(robot)
    assert str(raised.value) == message
    time.sleep(0.03)
    assert sim_robot.commands() == []


def test_discrete_cartesian_commands_use_the_record_defaults(ready):
    robot, sim_robot = ready
    switch(robot, sim_robot, kv.Mode.NRT_CARTESIAN_MOTION_FORCE)
    pose = robot.states()[kv.JointGroup.ARM_1].tcp_pose
    robot.SendCartesianMotionForce({kv.JointGroup.ARM_1: kv.NrtCartesianCmd(pose)})
    c = received(sim_robot, 1)[0]["cartesian_commands"][0]
    assert [
        c["max_linear_vel"],
        c["max_angular_vel"],
        c["max_linear_acc"],
        c["max_angular_acc"],
    ] == [0.5, 1.0, 2.0, 5.0]
    assert list(c["acc_d"]) == [0.0] * 6


def test_fixed_size_and_dict_keys_are_checked_before_the_library(ready):
    robot, _ = ready
    with pytest.raises(TypeError):
        kv.RtCartesianCmd([0.0] * 6)
    with pytest.raises(TypeError):
        robot.StreamJointTorque({3: kv.RtJointTorqueCmd([0] * 7)})


def test_timeliness_limit_defaults_to_two_percent_and_checks_its_range(ready):
    robot, _ = ready
    robot.SetTimelinessFailureLimit()
    robot.SetTimelinessFailureLimit(100)
    with pytest.raises(ValueError, match=r"\[percentage\] is outside the valid range"):
        robot.SetTimelinessFailureLimit(100.01)
