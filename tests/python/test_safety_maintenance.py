"""korvovyr.Safety and korvovyr.Maintenance against korvo-sim over zenoh on loopback: the classes'
Python face (registration, signatures, defaults), conversions, how the library's errors surface,
new limits after a reboot, and a torque-sensor calibration with its interruptions."""

import math
import struct
import time
import uuid

import pytest

import korvovyr as kv

ARM_1 = kv.JointGroup.ARM_1
ARM_2 = kv.JointGroup.ARM_2
PASSWORD = "KVsafe"
DEADLINE_S = 20.0


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def rad(degrees):
    return degrees / 180.0 * math.pi


def requests(sim, op_code):
    return [r for r in sim.vyr_requests() if r["op_code"] == op_code]


def wait_for(predicate):
    end = time.monotonic() + DEADLINE_S
    while not predicate():
        assert time.monotonic() < end, "timed out"
        time.sleep(0.01)


@pytest.fixture
def rig(simulator, zenoh_config):
    """A ready Robot of its own in IDLE, its simulated robot and its serial number."""
    serials = []

    def make(model="Olvar-L"):
        serial = f"{model}-s{uuid.uuid4().hex[:10]}"
        sim = simulator.add_robot(model, serial, 0)
        serials.append(serial)
        sim.make_ready()
        sim.set_torque_calibration_time_scale(0.1)
        robot = kv.Robot(serial, verbose=False)
        wait_for(robot.operational)
        sim.clear_records()
        return sim, robot, serial

    yield make
    for serial in serials:
        simulator.remove_robot(serial)


# ---- the class face ----------------------------------------------------------------------------

LIMITS = "(self: korvovyr.Safety) -> korvovyr.SafetyLimits"
SAFETY_METHODS = [
    ("default_limits", LIMITS, "Non-blocking"),
    ("current_limits", LIMITS, "Non-blocking"),
    (
        "safety_inputs",
        "(self: korvovyr.Safety) -> Annotated[list[bool], FixedSize(8)]",
        "Non-blocking",
    ),
    (
        "SetJointPositionLimits",
        "(self: korvovyr.Safety, group: korvovyr.JointGroup, min_positions: list[float], "
        "max_positions: list[float]) -> None",
        "Blocking",
    ),
    (
        "SetJointVelocityNormalLimits",
        "(self: korvovyr.Safety, group: korvovyr.JointGroup, max_velocities: list[float]) -> None",
        "Blocking",
    ),
    (
        "SetJointVelocityReducedLimits",
        "(self: korvovyr.Safety, group: korvovyr.JointGroup, max_velocities: list[float]) -> None",
        "Blocking",
    ),
    (
        "SetJointOutputTorqueRegulator",
        "(self: korvovyr.Safety, limiting_factor: float = 1.3, error_threshold: int = 50) -> None",
        "Blocking",
    ),
]
MAINTENANCE_METHODS = [
    (
        "CalibrateJointTorqueSensors",
        "(self: korvovyr.Maintenance, group: korvovyr.JointGroup, cali_posture: list[float] = []) "
        "-> None",
        "Blocking",
    ),
]


@pytest.mark.parametrize(
    "cls, methods",
    [(kv.Safety, SAFETY_METHODS), (kv.Maintenance, MAINTENANCE_METHODS)],
    ids=["Safety", "Maintenance"],
)
def test_methods_in_registration_order_with_signature_and_marker(cls, methods):
    assert [name for name in vars(cls) if not name.startswith("_")] == [m[0] for m in methods]
    for name, signature, marker in methods:
        doc = getattr(cls, name).__doc__
        assert doc.startswith(f"{name}{signature}\n\n[{marker}] "), doc


def test_constructors_and_registration_order():
    names = list(vars(kv))
    # Maintenance closes step 10, before Mode and Robot: its robot argument names the C++ class.
    assert names.index("Gripper") + 1 == names.index("Maintenance") < names.index("Robot")
    assert kv.Maintenance.__init__.__doc__.startswith(
        "__init__(self: korvovyr.Maintenance, robot: korvo::vyr::Robot) -> None\n\n"
        "[Non-blocking] Instantiate the robot maintenance interface."
    )
    # Safety closes step 14, after Robot.
    assert (
        names.index("kSafetyIOPorts") + 2
        == names.index("SafetyLimits") + 1
        == names.index("Safety")
        < names.index("ToolParams")
    )
    assert kv.Safety.__init__.__doc__.startswith(
        "__init__(self: korvovyr.Safety, robot: korvovyr.Robot, password: str) -> None\n\n"
        "[Non-blocking] Instantiate the safety settings interface."
    )
    assert kv.Safety.__doc__.startswith(
        "Interface to manage safety settings of the robot. A password is required"
    )
    assert kv.Maintenance.__doc__ == "Interface to run maintenance operations on the robot."


# ---- Safety ------------------------------------------------------------------------------------


def test_password_limits_inputs_and_repr(rig):
    sim, robot, _ = rig("Olvar-LL")
    with pytest.raises(ValueError, match=r"^\[korvo::vyr::Safety\] The provided password is"):
        kv.Safety(robot, PASSWORD + "!")
    safety = kv.Safety(robot, PASSWORD)
    assert repr(safety) == "<korvovyr.Safety>"

    defaults = safety.default_limits()
    assert set(defaults.q_min) == {ARM_1, ARM_2}
    assert defaults.q_min[ARM_1][0] == rad(-362.5)
    assert defaults.dq_max_reduced[ARM_2][6] == rad(213)

    info = robot.info()
    current = safety.current_limits()
    assert current.q_max[ARM_2] == pytest.approx([v + 0.0436332 for v in info.q_max[ARM_2]])
    assert current.dq_max_normal[ARM_1] == pytest.approx([v + 0.174533 for v in info.dq_max[ARM_1]])
    assert current.dq_max_reduced == {ARM_1: [], ARM_2: []}

    pattern = [True, False] * 4
    sim.set_safety_inputs(pattern)
    wait_for(lambda: safety.safety_inputs() == pattern)


def test_setters_send_and_the_robot_applies_after_a_reboot(rig):
    sim, robot, serial = rig()
    safety = kv.Safety(robot, PASSWORD)
    safety.SetJointOutputTorqueRegulator()
    (regulator,) = requests(sim, 103)
    assert (regulator["int_container"], regulator["float_container"]) == ([50], [f32(1.3)])

    low = [rad(-362.5)] + [-1.0] * 6
    high = [rad(362.5)] + [1.0] * 6
    safety.SetJointPositionLimits(ARM_1, low, high)
    safety.SetJointVelocityReducedLimits(ARM_1, [rad(130)] * 4 + [1.0] * 3)
    (positions,) = requests(sim, 100)
    assert positions["float_container"] == [f32(v) for v in low + high]
    pending = sim.pending_safety_limits
    assert pending["q_min"][int(ARM_1)] == [f32(v) for v in low]

    del safety, robot
    sim.reboot()
    robot = kv.Robot(serial, verbose=False)
    assert kv.Safety(robot, PASSWORD).current_limits().q_max[ARM_1][1] == pytest.approx(
        1.0436332, abs=1e-6
    )


SETTER_ERRORS = {
    "group": (
        lambda s: s.SetJointPositionLimits(ARM_2, [0.0] * 7, [0.0] * 7),
        ValueError,
        r"SetJointPositionLimits\] The specified joint group \[ARM_2\] is not",
    ),
    "min-above-max": (
        lambda s: s.SetJointPositionLimits(ARM_1, [0.5] * 7, [0.4] * 7),
        ValueError,
        r"Input parameter \[min_positions\] contains value outside the valid range",
    ),
    "velocity-floor": (
        lambda s: s.SetJointVelocityNormalLimits(ARM_1, [0.87] * 7),
        ValueError,
        r"Input parameter \[max_velocities\] contains value outside the valid range",
    ),
    "nan-factor": (
        lambda s: s.SetJointOutputTorqueRegulator(math.nan),
        ValueError,
        r"Input parameter \[limiting_factor\] is not positive",
    ),
    "threshold-sign": (
        lambda s: s.SetJointOutputTorqueRegulator(1.0, 2**31),
        ValueError,
        r"Input parameter \[error_threshold\] exceeds 2147483647",
    ),
    "negative": (lambda s: s.SetJointOutputTorqueRegulator(1.0, -1), TypeError, "incompatible"),
    "beyond-32-bits": (
        lambda s: s.SetJointOutputTorqueRegulator(1.0, 2**32),
        TypeError,
        "incompatible",
    ),
}


@pytest.mark.parametrize("call, error, message", list(SETTER_ERRORS.values()), ids=list(SETTER_ERRORS))
def test_setter_errors(rig, call, error, message):
    sim, robot, _ = rig()
    safety = kv.Safety(robot, PASSWORD)
    with pytest.raises(error, match=message):
        call(safety)
    assert [r for r in sim.vyr_requests() if r["op_code"] in (100, 101, 102, 103)] == []


def test_setters_outside_idle_raise_runtime_error(rig):
    _, robot, _ = rig()
    safety = kv.Safety(robot, PASSWORD)
    robot.SwitchMode(kv.Mode.NRT_PRIMITIVE_EXECUTION)
    with pytest.raises(RuntimeError, match=r"Robot is not in IDLE mode$"):
        safety.SetJointOutputTorqueRegulator()


# ---- Maintenance -------------------------------------------------------------------------------


def test_calibration_in_the_upright_posture(rig):
    sim, robot, _ = rig()
    maintenance = kv.Maintenance(robot)
    assert repr(maintenance) == "<korvovyr.Maintenance>"
    maintenance.CalibrateJointTorqueSensors(ARM_1)
    assert sim.torque_calibrations_saved == 1
    assert robot.mode() == kv.Mode.IDLE
    move = requests(sim, 21)[0]["string_container"][0]
    assert move == "MoveJ(target = " + "0 " * 13 + ")"


def test_calibration_errors(rig):
    sim, robot, _ = rig()
    maintenance = kv.Maintenance(robot)
    with pytest.raises(ValueError, match=r"Size of input vector \[cali_posture\] does not match"):
        maintenance.CalibrateJointTorqueSensors(ARM_1, [0.0] * 6)
    with pytest.raises(TypeError):
        maintenance.CalibrateJointTorqueSensors(ARM_1, ["upright"])
    assert sim.vyr_requests() == []

    # The interpreter lock is held through the call: the simulator itself interrupts it.
    sim.stall_motion(True)
    sim.interrupt_next_primitive("MoveJ", 0.3, "fault")
    with pytest.raises(RuntimeError, match=r"Fault occurred during the calibration$"):
        maintenance.CalibrateJointTorqueSensors(ARM_1)
    assert requests(sim, 110) == []
