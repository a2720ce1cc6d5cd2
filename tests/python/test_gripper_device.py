"""korvovyr.Device and korvovyr.Gripper against korvo-sim over zenoh on loopback: the classes'
Python face (registration, signatures, markers), the conversions of command values and
parameters, how the library's errors surface, and a gripper following its commands."""

import gc
import struct
import textwrap
import time
import uuid

import pytest

import korvovyr as kv

ARM_1, ARM_2 = kv.JointGroup.ARM_1, kv.JointGroup.ARM_2
DEVICE_COMMANDS, SYNC_GRIPPERS = 42, 46
DEADLINE_S = 20.0


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def wait_for(condition):
    end = time.monotonic() + DEADLINE_S
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


def states(grip):
    """The gripper states, or None while the robot's list does not match the enabled grippers yet
    (for a cycle after Enable and Disable)."""
    try:
        return grip.states()
    except RuntimeError:
        return None


def sent(sim, op_code):
    return [r for r in sim.vyr_requests() if r["op_code"] == op_code]


# ---- fixtures ----------------------------------------------------------------------------------


@pytest.fixture
def rig(simulator, zenoh_config):
    """A connected Robot of its own and its simulated robot; removed after the test."""
    serials = []

    def make(model="Olvar-L"):
        serial = f"{model}-g{uuid.uuid4().hex[:10]}"
        sim = simulator.add_robot(model, serial, 0)
        serials.append(serial)
        return sim, kv.Robot(serial, verbose=False), serial

    yield make
    gc.collect()
    for serial in serials:
        simulator.remove_robot(serial)


@pytest.fixture
def device(rig):
    sim, robot, _ = rig()
    dev = kv.Device(robot)
    sim.clear_records()
    return sim, dev


@pytest.fixture
def gripper(rig):
    """A Gripper with Gripper1 enabled for ARM_1, once its state arrives."""
    sim, robot, _ = rig()
    grip = kv.Gripper(robot)
    grip.Enable(ARM_1, "Gripper1")
    assert wait_for(lambda: states(grip) is not None)
    sim.clear_records()
    return sim, grip


# ---- the class face ----------------------------------------------------------------------------

DEVICE_METHODS = [
    ("list", "(self: korvovyr.Device) -> list[str]", "Non-blocking"),
    ("exist", "(self: korvovyr.Device, name: str) -> bool", "Non-blocking"),
    ("enabled", "(self: korvovyr.Device, name: str) -> bool", "Blocking"),
    ("connected", "(self: korvovyr.Device, name: str) -> bool", "Blocking"),
    (
        "params",
        "(self: korvovyr.Device, name: str) -> dict[str, Union[int, float, str, list[float], "
        "list[str]]]",
        "Blocking",
    ),
    ("Enable", "(self: korvovyr.Device, name: str) -> None", "Blocking"),
    ("Disable", "(self: korvovyr.Device, name: str) -> None", "Blocking"),
    (
        "Command",
        "(self: korvovyr.Device, name: str, commands: dict[str, Union[bool, int, float]]) -> None",
        "Blocking",
    ),
]

GRIPPER_METHODS = [
    (
        "Enable",
        "(self: korvovyr.Gripper, group: korvovyr.JointGroup, name: str) -> None",
        "Blocking",
    ),
    ("Disable", "(self: korvovyr.Gripper, group: korvovyr.JointGroup) -> None", "Blocking"),
    ("Init", "(self: korvovyr.Gripper, group: korvovyr.JointGroup) -> None", "Blocking"),
    (
        "Grasp",
        "(self: korvovyr.Gripper, group: korvovyr.JointGroup, force: float) -> None",
        "Blocking",
    ),
    (
        "Move",
        "(self: korvovyr.Gripper, group: korvovyr.JointGroup, width: float, velocity: float, "
        "force_limit: float) -> None",
        "Blocking",
    ),
    ("Stop", "(self: korvovyr.Gripper, group: korvovyr.JointGroup) -> None", "Blocking"),
    (
        "params",
        "(self: korvovyr.Gripper) -> dict[korvovyr.JointGroup, korvovyr.GripperParams]",
        "Non-blocking",
    ),
    (
        "states",
        "(self: korvovyr.Gripper) -> dict[korvovyr.JointGroup, korvovyr.GripperStates]",
        "Non-blocking",
    ),
]


@pytest.mark.parametrize(
    "cls, methods",
    [(kv.Device, DEVICE_METHODS), (kv.Gripper, GRIPPER_METHODS)],
    ids=["Device", "Gripper"],
)
def test_methods_in_registration_order_with_signature_and_marker(cls, methods):
    assert [name for name in vars(cls) if not name.startswith("_")] == [m[0] for m in methods]
    for name, signature, marker in methods:
        doc = getattr(cls, name).__doc__
        assert doc.startswith(f"{name}{signature}\n\n[{marker}] "), doc
    init = cls.__init__.__doc__
    assert init.startswith(
        f"__init__(self: korvovyr.{cls.__name__}, robot: korvo::vyr::Robot) -> None\n\n"
        "[Non-blocking] Instantiate the "
    )
    assert "    robot: Reference to the instance of korvo::vyr::Robot.\n" in init
    assert "    RuntimeError: if the initialization sequence failed." in init


def test_classes_are_registered_at_their_steps():
    names = list(vars(kv))
    assert names.index("NrtCartesianMultiWaypointCmd") < names.index("Device")
    assert names.index("Device") < names.index("GripperParams") < names.index("GripperStates")
    assert names.index("GripperStates") < names.index("Gripper") < names.index("Mode")
    assert kv.Device.__doc__ == (
        "Interface to control the peripheral device(s) connected to the robot."
    )
    assert kv.Gripper.__doc__.startswith(
        "Interface to control the gripper installed on the robot."
    )


def test_repr(device, rig):
    _, dev = device
    _, robot, _ = rig()
    assert repr(dev) == "<korvovyr.Device>"
    assert repr(kv.Gripper(robot)) == "<korvovyr.Gripper>"


# ---- Device ------------------------------------------------------------------------------------


def test_params_convert_to_python_values(device):
    sim, dev = device
    params = dev.params("Conveyor0")
    assert params == {
        "absolutePosition": [f32(0.7), f32(-0.4), f32(0.05)],
        "beltLength": 2.5,
        "conveyorName": "conveyor0",
        "maxSpeed": 6000,
        "modes": ["continuous", "step"],
        "reversible": 1,
    }
    assert type(params["maxSpeed"]) is int and type(params["beltLength"]) is float


# Each Python value, the tag it travels with and its int and float slots.
COMMAND_VALUES = [
    pytest.param(True, "<bool>", 1, 0.0, id="True"),
    pytest.param(False, "<bool>", 0, 0.0, id="False"),
    pytest.param(6000, "<int>", 6000, 0.0, id="int"),
    pytest.param(-2**31, "<int>", -2**31, 0.0, id="int-min"),
    pytest.param(0.1, "<double>", 0, f32(0.1), id="float"),
    pytest.param(3.0, "<double>", 0, 3.0, id="integral-float"),
]


@pytest.mark.parametrize("value, tag, int_slot, float_slot", COMMAND_VALUES)
def test_command_values_keep_their_python_type(rig, value, tag, int_slot, float_slot):
    sim, robot, _ = rig()
    sim.add_device("Probe", {})
    dev = kv.Device(robot)
    dev.Enable("Probe")
    sim.clear_records()
    dev.Command("Probe", {"value": value})
    (request,) = sent(sim, DEVICE_COMMANDS)
    assert request["string_container"] == ["value" + tag, "Probe"]
    assert request["int_container"] == [int_slot]
    assert request["float_container"] == [float_slot]


@pytest.mark.parametrize(
    "commands",
    [
        pytest.param({"setSpeed": "6000"}, id="string-value"),
        pytest.param({"setSpeed": [1]}, id="list-value"),
        pytest.param({1: 6000}, id="int-key"),
        pytest.param([("setSpeed", 6000)], id="not-a-dict"),
    ],
)
def test_commands_that_do_not_convert_raise_type_error_before_sending(device, commands):
    sim, dev = device
    with pytest.raises(TypeError):
        dev.Command("Conveyor0", commands)
    assert sim.vyr_requests() == []


def test_errors_surface_as_value_and_runtime_errors(device):
    sim, dev = device
    with pytest.raises(ValueError) as error:
        dev.Enable("Conveyor1")
    assert str(error.value) == (
        "[korvo::vyr::Device::Enable] The specified device [Conveyor1] does not exist"
    )
    with pytest.raises(RuntimeError) as error:
        dev.Command("Conveyor0", {"run": True})  # not enabled: the robot refuses
    assert str(error.value) == "[korvo::vyr::Device::Command] Failed to deliver the request"
    sim.set_reply_rule("vyr", 45, "refuse", count=1)
    with pytest.raises(RuntimeError) as error:
        dev.connected("Conveyor0")
    assert str(error.value) == "[korvo::vyr::Device::connected] No reply from the robot"


def test_enable_command_and_status(device):
    sim, dev = device
    assert dev.list() == sim.devices
    assert dev.exist("Conveyor0") and not dev.exist("CONVEYOR0")
    assert (dev.enabled("Conveyor0"), dev.connected("Conveyor0")) == (False, True)
    dev.Enable("Conveyor0")
    dev.Command("Conveyor0", {"setSpeed": 6000, "openLaser": True})
    assert sim.device_enabled("Conveyor0")
    (request,) = sent(sim, DEVICE_COMMANDS)
    assert request["int_container"] == [1, 6000]
    assert request["float_container"] == [0.0, 0.0]
    assert request["string_container"] == ["openLaser<bool>", "setSpeed<int>", "Conveyor0"]
    sim.set_device_connected("Conveyor0", False)
    assert not dev.connected("Conveyor0")
    dev.Disable("Conveyor0")
    assert not dev.enabled("Conveyor0")


# ---- Gripper -----------------------------------------------------------------------------------


def test_gripper_errors_surface_as_value_and_runtime_errors(rig):
    sim, robot, _ = rig()
    grip = kv.Gripper(robot)
    with pytest.raises(ValueError) as error:
        grip.Enable(kv.JointGroup.ALL, "Gripper1")
    assert str(error.value) == (
        "[korvo::vyr::Gripper::Enable] The specified joint group [ALL] is not an existing "
        "single-arm joint group in the connected robot"
    )
    with pytest.raises(RuntimeError) as error:
        grip.Init(ARM_1)  # a logic error in the library
    assert str(error.value) == (
        "[korvo::vyr::Gripper::Init] No gripper enabled for joint group [ARM_1]"
    )
    with pytest.raises(TypeError):
        grip.Enable(3, "Gripper1")  # plain integers are no joint groups
    assert grip.params() == {} and grip.states() == {}


def test_gripper_params_and_range_errors(gripper):
    sim, grip = gripper
    (params,) = grip.params().values()
    assert list(grip.params()) == [ARM_1]
    assert (params.name, params.min_width, params.max_width) == ("Gripper1", 0.0, f32(0.1))
    assert (params.min_force, params.max_force) == (-80.0, 80.0)
    assert (params.min_vel, params.max_vel) == (f32(0.001), f32(0.2))
    for width in (0.2, float("nan")):
        with pytest.raises(ValueError) as error:
            grip.Move(ARM_1, width, 0.1, 10)
        assert str(error.value) == (
            "[korvo::vyr::Gripper::Move] Input parameter [width] is outside the valid range"
        )
    grip.Grasp(ARM_1, 80)  # an int is accepted for a float, and clamped into the margin
    (request,) = sent(sim, DEVICE_COMMANDS)
    assert request["float_container"] == [f32(80.0 - 1e-4)]


def test_gripper_width_follows_the_commands(gripper):
    sim, grip = gripper
    grip.Init(ARM_1)
    assert wait_for(lambda: sim.gripper_state("Gripper1")["initialized"])
    grip.Move(ARM_1, 0.03, 0.1, 20.0)
    assert wait_for(lambda: grip.states()[ARM_1].is_moving)
    assert wait_for(
        lambda: not grip.states()[ARM_1].is_moving
        and abs(grip.states()[ARM_1].width - 0.03) < 1e-4
    )
    sim.set_object_width("Gripper1", 0.02)
    grip.Grasp(ARM_1, 15.0)
    assert wait_for(lambda: abs(grip.states()[ARM_1].width - 0.02) < 1e-6)
    assert wait_for(lambda: grip.states()[ARM_1].force == 15.0)
    grip.Disable(ARM_1)
    assert grip.params() == {} and sim.gripper_map == {}
    assert wait_for(lambda: states(grip) == {})


def test_gripper_example_runs_against_the_simulator(rig, run_python):
    _, robot, serial = rig()
    del robot
    done = run_python(run_python.example("gripper.py"), serial)
    assert done.returncode == 0, done.stderr

    def widths(phase):
        return [
            float(line.split()[2])
            for line in done.stdout.splitlines()
            if line.split()[:2] == [phase, "width"]
        ]

    grasp, release = widths("grasp"), widths("release")
    # Without an object the fingers close to their minimum, then open to the maximum less the
    # margin kept from the end of the range.
    assert grasp[0] > grasp[-1] == 0.0
    assert release[0] < release[-1] == 99.9
    assert "Grasped: width 0.0 mm, force 0.0 N" in done.stdout
    assert done.stdout.rstrip().endswith("Disabled Gripper1")


# ---- interpreter exit --------------------------------------------------------------------------

EXIT_SCRIPTS = [
    pytest.param(
        """
        import korvovyr
        device = korvovyr.Device(korvovyr.Robot(SERIAL, verbose=False))
        gripper = korvovyr.Gripper(korvovyr.Robot(SERIAL, verbose=False))
        gripper.Enable(korvovyr.JointGroup.ARM_1, "Gripper1")
        """,
        "",
        id="interfaces-outlive-their-robots",
    ),
    pytest.param(
        """
        import atexit
        def late():
            for call in (lambda: device.list(), lambda: gripper.params()):
                try:
                    call()
                except RuntimeError as error:
                    print(error)
        atexit.register(late)
        import korvovyr
        robot = korvovyr.Robot(SERIAL, verbose=False)
        device, gripper = korvovyr.Device(robot), korvovyr.Gripper(robot)
        """,
        "[korvo::vyr::Device] Device was released at interpreter exit\n"
        "[korvo::vyr::Gripper] Gripper was released at interpreter exit\n",
        id="used-after-release",
    ),
]


@pytest.mark.parametrize("script, output", EXIT_SCRIPTS)
def test_interfaces_alive_at_interpreter_exit_are_released_first(
    rig, run_python, script, output
):
    _, robot, serial = rig()
    del robot
    program = f"SERIAL = {serial!r}\n" + textwrap.dedent(script)
    done = run_python("-c", program, timeout=60)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", output)
