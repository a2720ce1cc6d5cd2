"""korvovyr.Tool and korvovyr.WorkCoord against korvo-sim over zenoh on loopback: the classes'
Python face (registration, signatures, the params overloads), conversions, how the library's
errors surface, a payload calibration, the tool example, and release at interpreter exit."""

import gc
import math
import struct
import textwrap
import time
import uuid

import pytest

import korvovyr as kv

ARM_1 = kv.JointGroup.ARM_1
DEADLINE_S = 20.0


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def op_codes(sim):
    return [r["op_code"] for r in sim.vyr_requests()]


@pytest.fixture
def rig(simulator, zenoh_config):
    """A ready Robot of its own in IDLE, its simulated robot and its serial number."""
    serials = []

    def make(model="Olvar-L"):
        serial = f"{model}-w{uuid.uuid4().hex[:10]}"
        sim = simulator.add_robot(model, serial, 0)
        serials.append(serial)
        sim.make_ready()
        robot = kv.Robot(serial, verbose=False)
        end = time.monotonic() + DEADLINE_S
        while not robot.operational() and time.monotonic() < end:
            time.sleep(0.01)
        sim.clear_records()
        return sim, robot, serial

    yield make
    gc.collect()
    for serial in serials:
        simulator.remove_robot(serial)


def gauge():
    p = kv.ToolParams()
    p.mass = 0.8
    p.CoM = [0.0, 0.0, 0.06]
    p.inertia = [0.002, 0.002, 0.001, 0.0, 0.0, 0.0]
    p.tcp_location = [0.0, 0.0, 0.15, 1.0, 0.0, 0.0, 0.0]
    return p


# ---- the class face ----------------------------------------------------------------------------

POSE = "Annotated[list[float], FixedSize(7)]"

TOOL_METHODS = [
    ("list", "(self: korvovyr.Tool) -> list[str]", "Blocking"),
    ("name", "(self: korvovyr.Tool, group: korvovyr.JointGroup) -> str", "Blocking"),
    ("exist", "(self: korvovyr.Tool, name: str) -> bool", "Blocking"),
    (
        "params",
        "(*args, **kwargs)\nOverloaded function.\n\n1. params(self: korvovyr.Tool, "
        "group: korvovyr.JointGroup) -> korvovyr.ToolParams\n\n[Blocking] ",
        None,
    ),
    (
        "Add",
        "(self: korvovyr.Tool, name: str, params: korvovyr.ToolParams) -> None",
        "Blocking",
    ),
    (
        "Switch",
        "(self: korvovyr.Tool, group: korvovyr.JointGroup, name: str) -> None",
        "Blocking",
    ),
    (
        "Update",
        "(self: korvovyr.Tool, name: str, params: korvovyr.ToolParams) -> None",
        "Blocking",
    ),
    ("Remove", "(self: korvovyr.Tool, name: str) -> None", "Blocking"),
    (
        "CalibratePayloadParams",
        "(self: korvovyr.Tool, tool_mounted: bool) -> korvovyr.ToolParams",
        "Blocking",
    ),
]

WORK_COORD_METHODS = [
    ("list", "(self: korvovyr.WorkCoord) -> list[str]", "Blocking"),
    ("exist", "(self: korvovyr.WorkCoord, name: str) -> bool", "Blocking"),
    ("pose", f"(self: korvovyr.WorkCoord, name: str) -> {POSE}", "Blocking"),
    ("Add", f"(self: korvovyr.WorkCoord, name: str, pose: {POSE}) -> None", "Blocking"),
    ("Update", f"(self: korvovyr.WorkCoord, name: str, pose: {POSE}) -> None", "Blocking"),
    ("Remove", "(self: korvovyr.WorkCoord, name: str) -> None", "Blocking"),
]


@pytest.mark.parametrize(
    "cls, methods",
    [(kv.Tool, TOOL_METHODS), (kv.WorkCoord, WORK_COORD_METHODS)],
    ids=["Tool", "WorkCoord"],
)
def test_methods_in_registration_order_with_signature_and_marker(cls, methods):
    assert [name for name in vars(cls) if not name.startswith("_")] == [m[0] for m in methods]
    for name, signature, marker in methods:
        doc = getattr(cls, name).__doc__
        opening = f"{name}{signature}" + (f"\n\n[{marker}] " if marker else "")
        assert doc.startswith(opening), doc
    assert "\n2. params(self: korvovyr.Tool, name: str) -> korvovyr.ToolParams\n\n[Blocking] " in (
        kv.Tool.params.__doc__
    )
    init = cls.__init__.__doc__
    # Registered after Robot, so the signature names the Python class.
    assert init.startswith(
        f"__init__(self: korvovyr.{cls.__name__}, robot: korvovyr.Robot) -> None\n\n"
        "[Non-blocking] Instantiate the "
    )
    assert "    robot: Reference to the instance of korvo::vyr::Robot.\n" in init


def test_classes_close_the_registration_order():
    names = list(vars(kv))
    assert names.index("kSafetyIOPorts") < names.index("ToolParams")
    assert names.index("ToolParams") < names.index("Tool") < names.index("WorkCoord")
    assert kv.Tool.__doc__.startswith("Interface to manage tools of the robot.")
    assert kv.WorkCoord.__doc__.startswith("Interface to manage work coordinates of the robot.")


def test_repr(rig):
    _, robot, _ = rig()
    assert (repr(kv.Tool(robot)), repr(kv.WorkCoord(robot))) == (
        "<korvovyr.Tool>",
        "<korvovyr.WorkCoord>",
    )


# ---- Tool --------------------------------------------------------------------------------------


def test_params_overloads_select_by_argument_type(rig):
    sim, robot, _ = rig()
    tool = kv.Tool(robot)
    tool.Add("Gauge", gauge())
    tool.Switch(ARM_1, "Gauge")
    sim.clear_records()
    by_group, by_name = tool.params(ARM_1), tool.params("Gauge")
    assert op_codes(sim) == [34, 36, 35]
    for p in (by_group, by_name):
        assert (p.mass, p.CoM, p.tcp_location) == (
            f32(0.8),
            [0.0, 0.0, f32(0.06)],
            [0.0, 0.0, f32(0.15), 1.0, 0.0, 0.0, 0.0],
        )
    with pytest.raises(TypeError):
        tool.params(3)  # a plain integer is neither a group nor a name


def test_tool_errors_surface_as_value_and_runtime_errors(rig):
    sim, robot, _ = rig()
    tool = kv.Tool(robot)
    with pytest.raises(ValueError) as error:
        tool.Add("Flange", gauge())
    assert str(error.value) == "[korvo::vyr::Tool::Add] The specified tool [Flange] already exists"
    with pytest.raises(RuntimeError) as error:
        tool.Remove("Flange")
    assert str(error.value) == "[korvo::vyr::Tool::Remove] Removing [Flange] is not allowed"
    robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    with pytest.raises(RuntimeError) as error:
        tool.CalibratePayloadParams(True)
    assert str(error.value) == (
        "[korvo::vyr::Tool::CalibratePayloadParams] Robot is not in IDLE mode"
    )


def test_calibrate_payload_returns_the_identified_payload(rig):
    sim, robot, _ = rig()
    sim.set_calibration_duration(0.2)
    sim.set_payload(1.25, [0.0, 0.0, 0.04], [0.001, 0.002, 0.003, 0.0, 0.0, 0.0])
    result = kv.Tool(robot).CalibratePayloadParams(tool_mounted=True)
    assert result.mass == f32(1.25)
    assert result.CoM == [0.0, 0.0, f32(0.04)]
    assert result.inertia == [f32(0.001), f32(0.002), f32(0.003), 0.0, 0.0, 0.0]
    assert result.tcp_location == [0.0] * 7
    assert robot.mode() == kv.Mode.IDLE


# ---- WorkCoord ---------------------------------------------------------------------------------


def test_work_coordinates_round_trip_with_float_precision(rig):
    sim, robot, _ = rig()
    frames = kv.WorkCoord(robot)
    frames.Add("Fixture", (0.1, 0.2, 0.3, 1, 0, 0, 0))  # any sequence of seven numbers
    assert frames.pose("Fixture") == [f32(0.1), f32(0.2), f32(0.3), 1.0, 0.0, 0.0, 0.0]
    assert frames.pose("Fixture")[0] == 0.10000000149011612
    assert frames.exist("Fixture") and "Fixture" in frames.list()
    with pytest.raises(ValueError) as error:
        frames.Update("Nowhere", [0] * 7)
    assert str(error.value) == (
        "[korvo::vyr::WorkCoord::Update] The specified work coordinate [Nowhere] does not exist"
    )
    with pytest.raises(RuntimeError) as error:
        frames.pose("Nowhere")
    assert str(error.value) == "[korvo::vyr::WorkCoord::pose] No reply from the robot"


def test_a_pose_of_six_values_does_not_convert(rig):
    sim, robot, _ = rig()
    frames = kv.WorkCoord(robot)
    sim.clear_records()
    with pytest.raises(TypeError):
        frames.Add("Fixture", [0.0] * 6)
    assert sim.vyr_requests() == []


# ---- the example -------------------------------------------------------------------------------


def test_tool_example_moves_the_tcp_by_the_tools_tcp_location(rig, run_python):
    sim, robot, serial = rig()
    flange = robot.states()[ARM_1].tcp_pose
    del robot
    done = run_python(run_python.example("tool.py"), serial)
    assert done.returncode == 0, done.stderr
    assert "Active tool: Gauge (0.80 kg)" in done.stdout
    # The tool's tip lies 15 cm along the flange's z axis.
    assert "the TCP moved by 150.0 mm" in done.stdout
    (listed,) = [line for line in done.stdout.splitlines() if line.startswith("Work coordinates:")]
    assert sorted(listed.split(": ")[1].split(", ")) == ["GaugeTip", "WorkTable"]
    assert done.stdout.rstrip().endswith("active tool: Flange")
    assert sim.tools.keys() == {"Flange"} and sim.work_coords.keys() == {"WorkTable"}
    # The flange itself did not move.
    now = kv.Robot(serial, verbose=False).states()[ARM_1].tcp_pose
    assert math.dist(flange[:3], now[:3]) < 1e-6


# ---- interpreter exit --------------------------------------------------------------------------


def test_interfaces_alive_at_interpreter_exit_are_released_first(rig, run_python):
    _, robot, serial = rig()
    del robot
    script = """
        import atexit
        def late():
            for call in (lambda: tool.list(), lambda: frames.list()):
                try:
                    call()
                except RuntimeError as error:
                    print(error)
        atexit.register(late)
        import korvovyr
        robot = korvovyr.Robot(SERIAL, verbose=False)
        tool, frames = korvovyr.Tool(robot), korvovyr.WorkCoord(robot)
        """
    done = run_python("-c", f"SERIAL = {serial!r}\n" + textwrap.dedent(script), timeout=60)
    assert (done.returncode, done.stderr, done.stdout) == (
        0,
        "",
        "[korvo::vyr::Tool] Tool was released at interpreter exit\n"
        "[korvo::vyr::WorkCoord] WorkCoord was released at interpreter exit\n",
    )
