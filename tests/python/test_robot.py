"""korvovyr.Robot end to end against korvo-sim over zenoh on loopback.

One simulator per module listens on a free port of 127.0.0.1, and ZENOH_CONFIG points the
library's process-wide session at it before the first Robot is created. Every test hosts its own
simulated robot under a fresh serial number, so no test sees another's traffic; what the library
sent is read back from the simulator.
"""

import gc
import math
import os
import struct
import subprocess
import sys
import textwrap
import time
import uuid

import pytest

import korvo_mdw_test as mt
import korvosim
import korvovyr as kv

ALL, ARMS, ARM_1, ARM_2, EXT_AXIS = (
    kv.JointGroup.ALL,
    kv.JointGroup.ARMS,
    kv.JointGroup.ARM_1,
    kv.JointGroup.ARM_2,
    kv.JointGroup.EXT_AXIS,
)
Status = kv.OperationalStatus

# Safety states of the basic stream.
STARTUP, SYNC, RECOVERY, REDUCED, NORMAL = 0, 8, 9, 10, 12
RELEASE_BRAKE, CAT_0_STOP, CAT_1_STOP, CAT_2_STOP = 24, 40, 72, 136
# System states of the basic stream.
STOPPED_MANUAL, STOPPED_AUTO, STOPPED_EXTERNAL_AUTO = 2, 3, 4
FAULT_AUTO, FAULT_EXTERNAL_AUTO, RECOVERY_AUTO = 14, 15, 17

# VYR operation codes.
SERVO_ON, CLEAR_FAULT, GET_MODE, SET_MODE, BRAKE = 1, 2, 7, 8, 10
SET_VELOCITY_SCALE, EXECUTE_PLAN = 20, 22

NOMINAL_K_X = [15000.0, 15000.0, 15000.0, 2000.0, 2000.0, 2000.0]
NOMINAL_K_Q = [8500.0, 8500.0, 8500.0, 8500.0, 2000.0, 2000.0, 2000.0]

# The streams come in on zenoh's threads and the simulator acts on its own: conditions are polled
# until they hold. The deadline only bounds a broken run.
DEADLINE_S = 20.0


def settle(read, expected):
    """Polls `read()` until it equals `expected`, or the deadline; returns the last value."""
    end = time.monotonic() + DEADLINE_S
    while True:
        value = read()
        if value == expected or time.monotonic() > end:
            return value
        time.sleep(0.01)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def requests(sim):
    """(op code, ints) of every VYR request the simulated robot received, oldest first."""
    return [(r["op_code"], r["int_container"]) for r in sim.vyr_requests()]


# ---- fixtures ----------------------------------------------------------------------------------


class Rig:
    """Hosts simulated robots under fresh serial numbers and connects Robots to them."""

    def __init__(self, simulator):
        self.simulator = simulator
        self.serials = []
        self.robots = []

    def host(self, model="Olvar-L", ext_axes=0):
        serial = f"{model}-t{uuid.uuid4().hex[:10]}"
        sim = self.simulator.add_robot(model, serial, ext_axes)
        self.serials.append(serial)
        return sim, serial

    def connect(self, serial, lite=False):
        robot = kv.Robot(serial, verbose=False, lite=lite)
        self.robots.append(robot)
        return robot

    def robot(self, model="Olvar-L", ext_axes=0):
        """A connected Robot and its simulated robot, which has forgotten the set-up requests."""
        sim, serial = self.host(model, ext_axes)
        robot = self.connect(serial)
        sim.clear_records()
        return sim, robot

    def close(self):
        self.robots.clear()
        gc.collect()
        for serial in self.serials:
            self.simulator.remove_robot(serial)


@pytest.fixture
def rig(simulator, zenoh_config):
    rig = Rig(simulator)
    yield rig
    rig.close()


def ready(sim, robot):
    """Skips servo-on and waits until the Robot sees the robot operational."""
    sim.make_ready()
    assert settle(robot.operational_status, Status.READY) == Status.READY


# ---- the class face ----------------------------------------------------------------------------

# Registration order, signature after the name, and the marker that opens each documentation.
METHODS = [
    ("lite", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("connected", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("info", "(self: korvovyr.Robot) -> korvovyr.RobotInfo", "Non-blocking"),
    ("mode", "(self: korvovyr.Robot) -> korvovyr.Mode", "Non-blocking"),
    (
        "states",
        "(self: korvovyr.Robot) -> dict[korvovyr.JointGroup, korvovyr.RobotStates]",
        "Non-blocking",
    ),
    (
        "actions",
        "(self: korvovyr.Robot) -> dict[korvovyr.JointGroup, korvovyr.RobotActions]",
        "Non-blocking",
    ),
    (
        "stopped",
        "(self: korvovyr.Robot) -> dict[korvovyr.JointGroup, bool]",
        "Non-blocking",
    ),
    ("all_stopped", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("operational", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    (
        "operational_status",
        "(self: korvovyr.Robot) -> korvovyr.OperationalStatus",
        "Non-blocking",
    ),
    ("busy", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("fault", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("reduced", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("recovery", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("estop_released", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    ("enabling_device_on", "(self: korvovyr.Robot) -> bool", "Non-blocking"),
    (
        "reached_timeliness_failure_limit",
        "(self: korvovyr.Robot) -> bool",
        "Non-blocking",
    ),
    (
        "event_log",
        "(self: korvovyr.Robot) -> list[korvovyr.RobotEvent]",
        "Non-blocking",
    ),
    ("ServoOn", "(self: korvovyr.Robot) -> None", "Blocking"),
    (
        "Home",
        "(self: korvovyr.Robot, groups: list[korvovyr.JointGroup] = []) -> None",
        "Blocking",
    ),
    ("Brake", "(self: korvovyr.Robot, engage: bool) -> None", "Blocking"),
    ("SwitchMode", "(self: korvovyr.Robot, mode: korvovyr.Mode) -> None", "Blocking"),
    ("Stop", "(self: korvovyr.Robot) -> None", "Blocking"),
    ("ClearFault", "(self: korvovyr.Robot, timeout_sec: int = 30) -> bool", "Blocking"),
    (
        "SetVelocityScale",
        "(self: korvovyr.Robot, velocity_scale: int) -> None",
        "Blocking",
    ),
    # One overloaded method: its documentation opens with the index overload.
    (
        "ExecutePlan",
        "(*args, **kwargs)\nOverloaded function.\n\n1. ExecutePlan(self: korvovyr.Robot, "
        "index: int, continue_exec: bool = False, block_until_started: bool = True) -> None",
        "Blocking",
    ),
    ("PausePlan", "(self: korvovyr.Robot, toggle: bool) -> None", "Blocking"),
    ("StopPlan", "(self: korvovyr.Robot) -> None", "Blocking"),
    ("plan_list", "(self: korvovyr.Robot) -> list[str]", "Blocking"),
    ("plan_info", "(self: korvovyr.Robot) -> korvovyr.PlanInfo", "Blocking"),
    (
        "SetGlobalVariables",
        "(self: korvovyr.Robot, global_vars: dict[str, Union[int, float, str, korvovyr.JPos, "
        "korvovyr.Coord, list[int], list[float], list[str], list[korvovyr.JPos], "
        "list[korvovyr.Coord]]]) -> None",
        "Blocking",
    ),
    (
        "global_variables",
        "(self: korvovyr.Robot) -> dict[str, Union[int, float, str, korvovyr.JPos, "
        "korvovyr.Coord, list[int], list[float], list[str], list[korvovyr.JPos], "
        "list[korvovyr.Coord]]]",
        "Blocking",
    ),
    (
        "SetTimelinessFailureLimit",
        "(self: korvovyr.Robot, percentage: float = 2.0) -> None",
        "Non-blocking",
    ),
    (
        "SetBreakpointMode",
        "(self: korvovyr.Robot, is_enabled: bool) -> None",
        "Blocking",
    ),
    ("StepBreakpoint", "(self: korvovyr.Robot) -> None", "Blocking"),
    (
        "ExecutePrimitive",
        "(self: korvovyr.Robot, primitive_args: dict[korvovyr.JointGroup, "
        "korvovyr.PrimitiveArgs], block_until_started: bool = True) -> None",
        "Blocking",
    ),
    (
        "primitive_states",
        "(self: korvovyr.Robot) -> dict[korvovyr.JointGroup, korvovyr.PrimitiveStates]",
        "Blocking",
    ),
    (
        "StreamJointTorque",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.RtJointTorqueCmd]) -> None",
        "Non-blocking",
    ),
    (
        "StreamJointPosition",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.RtJointPositionCmd]) -> None",
        "Non-blocking",
    ),
    (
        "SendJointPosition",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.NrtJointPositionCmd]) -> None",
        "Non-blocking",
    ),
    (
        "SetJointImpedance",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, K_q: list[float], Z_q: list[float] = []) -> None",
        "Blocking",
    ),
    (
        "SetMaxContactTorque",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, max_torques: list[float]) -> None",
        "Blocking",
    ),
    (
        "SetJointInertiaScale",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, inertia_scales: list[float]) -> None",
        "Blocking",
    ),
    (
        "StreamCartesianMotionForce",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.RtCartesianCmd]) -> None",
        "Non-blocking",
    ),
    (
        "SendCartesianMotionForce",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.NrtCartesianCmd]) -> None",
        "Non-blocking",
    ),
    (
        "SendCartesianMotionForceMultiWaypoint",
        "(self: korvovyr.Robot, cmds: dict[korvovyr.JointGroup, korvovyr.NrtCartesianMultiWaypointCmd]) -> None",
        "Non-blocking",
    ),
    (
        "SetCartesianImpedance",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, K_x: Annotated[list[float], FixedSize(6)], Z_x: Annotated[list[float], FixedSize(6)] = [0.7, 0.7, 0.7, 0.7, 0.7, 0.7]) -> None",
        "Blocking",
    ),
    (
        "SetMaxContactWrench",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, max_wrench: Annotated[list[float], FixedSize(6)]) -> None",
        "Blocking",
    ),
    (
        "SetNullSpacePosture",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, ref_positions: list[float]) -> None",
        "Blocking",
    ),
    (
        "SetNullSpaceObjectives",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, linear_manipulability: float = 0.0, angular_manipulability: float = 0.0, ref_positions_tracking: float = 0.5) -> None",
        "Blocking",
    ),
    (
        "SetForceControlAxis",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, enabled_axes: Annotated[list[bool], FixedSize(6)], max_linear_vel: Annotated[list[float], FixedSize(3)] = [1.0, 1.0, 1.0]) -> None",
        "Blocking",
    ),
    (
        "SetForceControlFrame",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, root_coord: korvovyr.CoordType, T_in_root: Annotated[list[float], FixedSize(7)] = [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0]) -> None",
        "Blocking",
    ),
    (
        "SetPassiveForceControl",
        "(self: korvovyr.Robot, group: korvovyr.JointGroup, is_enabled: bool) -> None",
        "Blocking",
    ),
    (
        "SetDigitalOutputs",
        "(self: korvovyr.Robot, digital_outputs: dict[int, bool]) -> None",
        "Blocking",
    ),
    (
        "digital_inputs",
        "(self: korvovyr.Robot) -> Annotated[list[bool], FixedSize(20)]",
        "Non-blocking",
    ),
    (
        "digital_outputs",
        "(self: korvovyr.Robot) -> Annotated[list[bool], FixedSize(20)]",
        "Non-blocking",
    ),
]


def test_class_is_registered_between_the_model_and_the_safety_types():
    names = list(vars(kv))
    assert (
        names.index("IKResult") < names.index("Robot") < names.index("kSafetyIOPorts")
    )
    assert kv.Robot.__doc__ == (
        "Main interface to control the robot, containing several function categories and "
        "background services."
    )


def test_methods_in_registration_order_with_signature_and_marker():
    methods = [name for name in vars(kv.Robot) if not name.startswith("_")]
    assert methods == [name for name, _, _ in METHODS]
    for name, signature, marker in METHODS:
        doc = getattr(kv.Robot, name).__doc__
        assert doc.startswith(f"{name}{signature}\n\n[{marker}] "), doc


def test_constructor_signature_and_doc_sections():
    doc = kv.Robot.__init__.__doc__
    assert doc.startswith(
        "__init__(self: korvovyr.Robot, robot_sn: str, verbose: bool = True, "
        "lite: bool = False) -> None\n\n[Blocking] Instantiate the robot control interface."
    )
    for section in (
        "Args:\n    robot_sn: ",
        "Raises:\n    ValueError: ",
        "Warning:\n    ",
    ):
        assert section in doc


# ---- construction ------------------------------------------------------------------------------

# Per product: the groups and their DoF, the single-arm groups.
TWO_ARMS = {ALL: 14, ARMS: 14, ARM_1: 7, ARM_2: 7}
PRODUCTS = [
    pytest.param(
        "Olvar-L", 0, kv.ProductModel.Olvar_L, {ALL: 7, ARM_1: 7}, [ARM_1], id="Olvar-L"
    ),
    pytest.param(
        "Olvar-L",
        2,
        kv.ProductModel.Olvar_L,
        {ALL: 9, ARM_1: 7, EXT_AXIS: 2},
        [ARM_1],
        id="Olvar-L-2-ext",
    ),
    pytest.param(
        "Olvar-LL", 0, kv.ProductModel.Olvar_LL, TWO_ARMS, [ARM_1, ARM_2], id="Olvar-LL"
    ),
    pytest.param(
        "TAVU-Core",
        0,
        kv.ProductModel.TAVU_Core,
        TWO_ARMS,
        [ARM_1, ARM_2],
        id="TAVU-Core",
    ),
    pytest.param(
        "TAVU-Plus",
        0,
        kv.ProductModel.TAVU_Plus,
        {ALL: 16, ARMS: 14, ARM_1: 7, ARM_2: 7},
        [ARM_1, ARM_2],
        id="TAVU-Plus",
    ),
    pytest.param(
        "TAVU-Ultra",
        3,
        kv.ProductModel.TAVU_Ultra,
        {ALL: 22, ARMS: 14, ARM_1: 7, ARM_2: 7, EXT_AXIS: 3},
        [ARM_1, ARM_2],
        id="TAVU-Ultra-3-ext",
    ),
]


@pytest.mark.parametrize("model, ext_axes, product, dof, arms", PRODUCTS)
def test_construction_downloads_the_robot_information(
    rig, model, ext_axes, product, dof, arms
):
    sim, serial = rig.host(model, ext_axes)
    # The model part may be written with blanks; the library normalises it.
    robot = rig.connect(serial.replace("-", " ", 1))
    assert (robot.lite(), robot.connected(), repr(robot)) == (
        False,
        True,
        "<korvovyr.Robot>",
    )

    info = robot.info()
    assert info.serial_num == serial
    assert info.product_model == product
    assert info.software_ver == "v2.1.0-sim"
    assert info.DoF == dof
    assert list(info.all_groups) == list(dof)
    assert list(info.single_arm_groups) == arms

    # Limits of every group are its slice of the full-DoF limits, as the robot sends them.
    joints = sim.joints
    for group, (start, n) in sim.groups.items():
        group = kv.JointGroup(group)
        part = joints[start : start + n]
        for field in ("q_min", "q_max", "dq_max", "tau_max"):
            assert getattr(info, field)[group] == [f32(j[field]) for j in part], (
                field,
                group,
            )

    assert info.K_x_nom == {arm: NOMINAL_K_X for arm in arms}
    expected_k_q = {arm: NOMINAL_K_Q for arm in arms}
    if ext_axes:
        expected_k_q[EXT_AXIS] = [math.inf] * ext_axes
    assert info.K_q_nom == expected_k_q


@pytest.mark.parametrize(
    "serial",
    [
        "",
        "Olvar L 123456",
        "Olvar  L-1",
        "-L-1",
        "Olvar -L-1",
        "Olvar-L-",
        "Olvar_L-1",
        "Olvar.L-1",
    ],
)
def test_malformed_serial_number_is_a_value_error(serial):
    with pytest.raises(ValueError) as error:
        kv.Robot(serial, verbose=False)
    assert str(error.value) == (
        "[korvo::vyr::Robot] Format of the provided robot serial number is invalid"
    )


@pytest.mark.parametrize(
    "serial, model_text",
    [("olvar-L-1", "olvar-L"), ("UNKNOWN-1", "UNKNOWN"), ("Olvar L X-12", "Olvar-L-X")],
)
def test_unsupported_product_model_is_a_runtime_error(serial, model_text):
    with pytest.raises(RuntimeError) as error:
        kv.Robot(serial, verbose=False)
    assert str(error.value) == (
        f"[korvo::vyr::Robot] Product model [{model_text}] is not supported"
    )


@pytest.mark.parametrize(
    "vyr_version, qel_version",
    [("v2.1.0", "v2.1"), ("v2.10", "v2.1"), ("v2.1", "v2.0")],
)
def test_incompatible_server_version_is_a_runtime_error(rig, vyr_version, qel_version):
    sim, serial = rig.host()
    sim.set_server_versions(vyr_version, qel_version)
    with pytest.raises(RuntimeError) as error:
        rig.connect(serial)
    assert str(error.value) == (
        f"[korvo::vyr::Robot] Version of this client is incompatible with robot [{serial}]"
    )


@pytest.mark.parametrize("limit", ["q_min", "q_max", "dq_max", "tau_max"])
def test_zero_joint_limit_is_a_runtime_error(rig, limit):
    sim, serial = rig.host("Olvar-LL")
    limits = {
        name: [j[name] for j in sim.joints]
        for name in ("q_min", "q_max", "dq_max", "tau_max")
    }
    limits[limit][9] = 0.0  # a joint of the second arm
    sim.set_joint_limits(**limits)
    with pytest.raises(RuntimeError) as error:
        rig.connect(serial)
    assert str(error.value) == (
        "[korvo::vyr::Robot] One or more robot joint limits received from server are invalid"
    )


def test_construction_fails_when_no_robot_answers(rig):
    serial = f"Olvar-L-absent{uuid.uuid4().hex[:8]}"
    with pytest.raises(RuntimeError) as error:
        rig.connect(serial)
    assert str(error.value).startswith(
        f"[korvo::vyr::Robot] Failed to connect to [{serial}]. Please check that: a) "
    )


# ---- lite instance -----------------------------------------------------------------------------


def test_lite_instance_asks_the_robot_for_its_mode(rig):
    sim, robot = rig.robot("Olvar-LL")
    lite = rig.connect(robot.info().serial_num, lite=True)
    assert (lite.lite(), lite.connected()) == (True, False)
    assert lite.info().DoF == robot.info().DoF
    # No stream reaches a lite instance.
    assert (lite.states(), lite.stopped(), lite.all_stopped()) == ({}, {}, True)

    sim.clear_records()
    assert lite.mode() == kv.Mode.IDLE
    assert requests(sim) == [(GET_MODE, [])]

    sim.set_reply_rule("vyr", GET_MODE, "refuse", count=1)
    assert lite.mode() == kv.Mode.UNKNOWN

    # Events reach the normal instance only.
    sim.emit_event(1, 4200, "seen by one")
    assert settle(lambda: 4200 in [e.id for e in robot.event_log()], True) is True
    assert lite.event_log() == []


def test_lite_switch_mode_skips_the_operational_test_and_asks_for_the_mode(rig):
    sim, robot = rig.robot()
    lite = rig.connect(robot.info().serial_num, lite=True)

    # The robot is not servoed on: the request itself is refused.
    sim.clear_records()
    with pytest.raises(RuntimeError) as error:
        lite.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    assert str(error.value) == (
        "[korvo::vyr::Robot::SwitchMode] Failed to switch control mode to [NRT_JOINT_POSITION]"
    )
    assert requests(sim) == [(GET_MODE, []), (SET_MODE, [6])]

    sim.make_ready()
    lite.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    sim.clear_records()
    lite.SwitchMode(kv.Mode.NRT_PLAN_EXECUTION)
    assert requests(sim) == [(GET_MODE, []), (SET_MODE, [1]), (SET_MODE, [7])]
    assert sim.mode == int(kv.Mode.NRT_PLAN_EXECUTION)


# ---- status queries ----------------------------------------------------------------------------


def status(robot):
    return (
        robot.operational_status(),
        robot.operational(),
        robot.fault(),
        robot.reduced(),
        robot.recovery(),
        robot.estop_released(),
    )


# (safety state, system state, E-stop pressed) and what the Robot reports:
# (operational_status, operational, fault, reduced, recovery, estop_released).
STATUS_CASES = [
    pytest.param(
        NORMAL,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.READY, True, False, False, False, True),
        id="ready",
    ),
    pytest.param(
        REDUCED,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.IN_REDUCED_STATE, True, False, True, False, True),
        id="reduced",
    ),
    pytest.param(
        RECOVERY,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.IN_RECOVERY_STATE, False, False, False, True, True),
        id="recovery",
    ),
    pytest.param(
        CAT_1_STOP,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.NOT_SERVO_ON, False, False, False, False, True),
        id="cat-1-estop-released",
    ),
    pytest.param(
        CAT_1_STOP,
        STOPPED_EXTERNAL_AUTO,
        True,
        (Status.ESTOP_NOT_RELEASED, False, False, False, False, False),
        id="cat-1-estop-pressed",
    ),
    pytest.param(
        CAT_2_STOP,
        FAULT_AUTO,
        False,
        (Status.MINOR_FAULT, False, True, False, False, True),
        id="cat-2-fault",
    ),
    pytest.param(
        CAT_0_STOP,
        FAULT_EXTERNAL_AUTO,
        False,
        (Status.CRITICAL_FAULT, False, True, False, False, True),
        id="cat-0-fault",
    ),
    pytest.param(
        RELEASE_BRAKE,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.RELEASING_BRAKE, False, False, False, False, True),
        id="releasing-brakes",
    ),
    pytest.param(
        STARTUP,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.BOOTING, False, False, False, False, True),
        id="booting",
    ),
    pytest.param(
        NORMAL,
        STOPPED_MANUAL,
        False,
        (Status.IN_MANUAL_MODE, False, False, False, False, True),
        id="manual-mode",
    ),
    pytest.param(
        CAT_2_STOP,
        STOPPED_AUTO,
        False,
        (Status.IN_AUTO_MODE, False, False, False, False, True),
        id="auto-mode",
    ),
    # The recovery flag looks at the safety state only.
    pytest.param(
        NORMAL,
        RECOVERY_AUTO,
        False,
        (Status.UNKNOWN, False, False, False, False, True),
        id="system-recovery-auto",
    ),
    pytest.param(
        SYNC,
        STOPPED_EXTERNAL_AUTO,
        False,
        (Status.UNKNOWN, False, False, False, False, True),
        id="safety-sync",
    ),
]


@pytest.mark.parametrize("safety, system, estop_pressed, expected", STATUS_CASES)
def test_status_queries_follow_the_safety_and_system_states(
    rig, safety, system, estop_pressed, expected
):
    sim, robot = rig.robot()
    sim.make_ready()
    if estop_pressed:
        sim.press_estop(True)
    sim.set_safety_state(safety)
    sim.set_system_state(system)
    assert settle(lambda: status(robot), expected) == expected


def test_states_actions_and_stopped_cover_every_group(rig):
    sim, robot = rig.robot("TAVU-Plus", ext_axes=2)
    groups = robot.info().DoF
    # Distinct positions, so that a shifted group slice shows.
    q = [0.01 * (i + 1) for i in range(sim.full_dof)]
    sim.set_joint_positions(q)

    def positions():
        states = robot.states()
        return {g: [round(v, 5) for v in s.q] for g, s in states.items()}

    expected = {
        kv.JointGroup(g): [round(f32(v), 5) for v in q[start : start + n]]
        for g, (start, n) in sim.groups.items()
    }
    assert settle(positions, expected) == expected
    assert list(robot.actions()) == list(groups)
    assert robot.stopped() == {g: True for g in groups}
    assert robot.all_stopped()


def test_event_log_keeps_the_events_received_oldest_first(rig):
    sim, robot = rig.robot()
    sim.emit_event(2, 4201, "first", "consequence", "cause", "action")
    sim.emit_event(4, 4202, "second")

    def emitted():
        return [
            (e.level, e.id, e.description) for e in robot.event_log() if e.id > 4200
        ]

    expected = [
        (kv.RobotEvent_Level.WARNING, 4201, "first"),
        (kv.RobotEvent_Level.CRITICAL, 4202, "second"),
    ]
    assert settle(emitted, expected) == expected
    first = next(e for e in robot.event_log() if e.id == 4201)
    assert (first.consequences, first.probable_causes, first.recommended_actions) == (
        "consequence",
        "cause",
        "action",
    )


def test_timeliness_flag_rises_with_the_late_commands_and_clears_after_a_second(rig):
    sim, robot = rig.robot()
    assert robot.reached_timeliness_failure_limit() is False
    sim.add_timeliness_failures(21)  # above 2 % of the 1000 cycles of one second
    assert settle(robot.reached_timeliness_failure_limit, True) is True
    assert settle(robot.reached_timeliness_failure_limit, False) is False


def vyr_request(op_code, **fields):
    request = mt.vyr_msg.RPCRequest()
    request.op_code = op_code
    for name, value in fields.items():
        setattr(request, name, value)
    return request


def test_busy_stopped_brake_and_stop_while_a_plan_moves_the_robot(rig, port):
    sim, robot = rig.robot()
    sim.set_plans(["wave"])
    ready(sim, robot)
    robot.SwitchMode(kv.Mode.NRT_PLAN_EXECUTION)
    assert settle(robot.mode, kv.Mode.NRT_PLAN_EXECUTION) == kv.Mode.NRT_PLAN_EXECUTION
    assert robot.busy() is False

    # The plan is started by a second client, slowed down so that it moves for seconds.
    session = mt.Session(korvosim.connector_config(port))
    try:
        client = mt.VyrRpcClient(session, f"korvo/vyr/{robot.info().serial_num}/rpc")
        slow = vyr_request(SET_VELOCITY_SCALE, int_container=[5])
        assert settle(lambda: getattr(client.call(slow, 2.0), "success", None), True)
        start = vyr_request(EXECUTE_PLAN, int_container=[0], string_container=["wave"])
        assert client.call(start, 2.0).success
        client.close()
    finally:
        session.close()

    moving = (True, False, {ALL: False, ARM_1: False})
    assert (
        settle(lambda: (robot.busy(), robot.all_stopped(), robot.stopped()), moving)
        == moving
    )

    sim.clear_records()
    with pytest.raises(RuntimeError) as error:
        robot.Brake(True)
    assert str(error.value) == "[korvo::vyr::Robot::Brake] Robot is not fully stopped"
    assert requests(sim) == []

    robot.Stop()
    assert requests(sim) == [(SET_MODE, [1])]
    still = (False, True, kv.Mode.IDLE)
    assert (
        settle(lambda: (robot.busy(), robot.all_stopped(), robot.mode()), still)
        == still
    )


# ---- servo on, brakes ----------------------------------------------------------------------------


def test_servo_on_makes_the_robot_operational(rig):
    sim, robot = rig.robot()
    assert settle(robot.operational_status, Status.NOT_SERVO_ON) == Status.NOT_SERVO_ON
    robot.ServoOn()
    assert requests(sim) == [(SERVO_ON, [])]
    assert settle(robot.operational_status, Status.READY) == Status.READY
    assert robot.operational()


def estop_pressed(sim, robot):
    sim.press_estop(True)
    assert settle(robot.estop_released, False) is False
    return robot


def servo_on_refused(sim, robot):
    assert settle(robot.connected, True) is True
    sim.set_reply_rule("vyr", SERVO_ON, "refuse", count=1)
    return robot


@pytest.mark.parametrize(
    "setup, message, sent",
    [
        pytest.param(
            estop_pressed,
            "[korvo::vyr::Robot::ServoOn] E-stop is not released",
            [],
            id="estop-pressed",
        ),
        pytest.param(
            servo_on_refused,
            "[korvo::vyr::Robot::ServoOn] Failed to deliver the request",
            [(SERVO_ON, [])],
            id="refused",
        ),
    ],
)
def test_servo_on_failures(rig, setup, message, sent):
    sim, robot = rig.robot()
    setup(sim, robot)
    with pytest.raises(RuntimeError) as error:
        robot.ServoOn()
    assert str(error.value) == message
    assert requests(sim) == sent


def test_servo_on_needs_a_connection(rig):
    sim, robot = rig.robot()
    lite = rig.connect(robot.info().serial_num, lite=True)
    sim.clear_records()
    with pytest.raises(RuntimeError) as error:
        lite.ServoOn()
    assert str(error.value) == "[korvo::vyr::Robot::ServoOn] Robot is not connected"
    assert requests(sim) == []


def test_brake_engages_and_releases(rig):
    sim, robot = rig.robot()
    ready(sim, robot)
    robot.Brake(True)
    assert requests(sim) == [(BRAKE, [1])]
    assert settle(robot.operational_status, Status.NOT_SERVO_ON) == Status.NOT_SERVO_ON

    robot.Brake(False)
    assert requests(sim)[1:] == [(BRAKE, [0])]
    assert settle(robot.operational_status, Status.READY) == Status.READY


@pytest.mark.parametrize("engage, verb", [(True, "engage"), (False, "release")])
def test_brake_request_refused(rig, engage, verb):
    sim, robot = rig.robot()
    ready(sim, robot)
    sim.set_reply_rule("vyr", BRAKE, "refuse", count=1)
    with pytest.raises(RuntimeError) as error:
        robot.Brake(engage)
    assert (
        str(error.value)
        == f"[korvo::vyr::Robot::Brake] Failed to {verb} the robot brakes"
    )


# ---- control modes -----------------------------------------------------------------------------


@pytest.mark.parametrize("mode", [kv.Mode.UNKNOWN, kv.Mode(12)], ids=["UNKNOWN", "12"])
def test_switch_to_an_invalid_mode_is_a_value_error(rig, mode):
    sim, robot = rig.robot()
    ready(sim, robot)
    with pytest.raises(ValueError) as error:
        robot.SwitchMode(mode)
    assert (
        str(error.value) == "[korvo::vyr::Robot::SwitchMode] Invalid control mode input"
    )
    assert requests(sim) == []


def test_switch_mode_needs_an_operational_robot(rig):
    sim, robot = rig.robot()
    assert settle(robot.operational_status, Status.NOT_SERVO_ON) == Status.NOT_SERVO_ON
    with pytest.raises(RuntimeError) as error:
        robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    assert str(error.value) == (
        "[korvo::vyr::Robot::SwitchMode] Robot is not operational: Not servo on"
    )
    assert requests(sim) == []


def test_switch_mode_goes_through_idle(rig):
    sim, robot = rig.robot()
    ready(sim, robot)

    robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    assert requests(sim) == [(SET_MODE, [6])]
    assert settle(robot.mode, kv.Mode.NRT_JOINT_POSITION) == kv.Mode.NRT_JOINT_POSITION

    sim.clear_records()
    robot.SwitchMode(kv.Mode.NRT_PLAN_EXECUTION)
    assert requests(sim) == [(SET_MODE, [1]), (SET_MODE, [7])]
    assert settle(robot.mode, kv.Mode.NRT_PLAN_EXECUTION) == kv.Mode.NRT_PLAN_EXECUTION
    assert sim.mode == int(kv.Mode.NRT_PLAN_EXECUTION)


def test_stop_in_idle_sends_nothing(rig):
    sim, robot = rig.robot()
    ready(sim, robot)
    robot.Stop()
    robot.SwitchMode(kv.Mode.IDLE)
    assert requests(sim) == []
    assert robot.mode() == kv.Mode.IDLE


@pytest.mark.parametrize(
    "start_mode, message",
    [
        pytest.param(
            None,
            "[korvo::vyr::Robot::SwitchMode] Failed to switch control mode to "
            "[NRT_JOINT_POSITION]",
            id="target-refused",
        ),
        pytest.param(
            kv.Mode.NRT_PLAN_EXECUTION,
            "[korvo::vyr::Robot::SwitchMode] Failed to switch control mode to IDLE",
            id="idle-refused",
        ),
    ],
)
def test_switch_mode_request_refused(rig, start_mode, message):
    sim, robot = rig.robot()
    ready(sim, robot)
    if start_mode is not None:
        robot.SwitchMode(start_mode)
        assert settle(robot.mode, start_mode) == start_mode
    sim.set_reply_rule("vyr", SET_MODE, "refuse", count=1)
    with pytest.raises(RuntimeError) as error:
        robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    assert str(error.value) == message


# ---- faults ------------------------------------------------------------------------------------


def test_clear_fault_with_zero_timeout_returns_false_after_the_request(rig):
    sim, robot = rig.robot()
    assert robot.fault() is False
    assert robot.ClearFault(0) is False
    assert requests(sim) == [(CLEAR_FAULT, [])]


@pytest.mark.parametrize(
    "critical, clearable, cleared",
    [
        pytest.param(False, True, True, id="minor"),
        pytest.param(True, True, True, id="critical"),
        pytest.param(False, False, False, id="persistent"),
    ],
)
def test_clear_fault(rig, critical, clearable, cleared):
    sim, robot = rig.robot()
    sim.make_ready()
    sim.raise_fault(critical=critical, clearable=clearable)
    assert settle(robot.fault, True) is True
    assert robot.ClearFault(1) is cleared
    assert requests(sim) == [(CLEAR_FAULT, [])]
    assert robot.fault() is not cleared


def test_clear_fault_request_refused(rig):
    sim, robot = rig.robot()
    sim.set_reply_rule("vyr", CLEAR_FAULT, "refuse", count=1)
    with pytest.raises(RuntimeError) as error:
        robot.ClearFault(0)
    assert (
        str(error.value)
        == "[korvo::vyr::Robot::ClearFault] Failed to deliver the request"
    )


# ---- interpreter exit --------------------------------------------------------------------------

# Each script connects a Robot that is still referenced when the script ends, and what it prints.
EXIT_SCRIPTS = [
    pytest.param(
        """
        import korvovyr
        robot = korvovyr.Robot(SERIAL, verbose=False)
        assert robot.connected()
        """,
        "",
        id="module-global",
    ),
    pytest.param(
        # A daemon thread's frame is never cleared at finalization, nor is what it holds.
        """
        import threading, time
        import korvovyr
        robot = korvovyr.Robot(SERIAL, verbose=False)
        threading.Thread(target=lambda r=robot: time.sleep(3600), daemon=True).start()
        del robot
        """,
        "",
        id="held-by-daemon-thread",
    ),
    pytest.param(
        # Hooks registered before the import run after the module's own: the Robot is gone.
        """
        import atexit
        def late():
            try:
                robot.connected()
            except RuntimeError as error:
                print(error)
        atexit.register(late)
        import korvovyr
        robot = korvovyr.Robot(SERIAL, verbose=False)
        """,
        "[korvo::vyr::Robot] Robot was released at interpreter exit\n",
        id="used-after-release",
    ),
]


@pytest.mark.parametrize("script, output", EXIT_SCRIPTS)
def test_robot_alive_at_interpreter_exit_is_released_first(rig, script, output):
    _, serial = rig.host()
    program = f"SERIAL = {serial!r}\n" + textwrap.dedent(script)
    # A hang at exit ends in TimeoutExpired, a crash in a signal's negative return code.
    done = subprocess.run(
        [sys.executable, "-c", program],
        env=dict(os.environ),
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert (done.returncode, done.stderr, done.stdout) == (0, "", output)
