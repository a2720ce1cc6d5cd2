"""Plans, primitives, global variables and Home from Python: conversions, overloads, defaults,
errors, and what the simulated robot receives and reports."""

import gc
import time
import uuid

import pytest

import korvovyr as kv

ARM_1, ARM_2 = kv.JointGroup.ARM_1, kv.JointGroup.ARM_2
LIST_PLANS, EXECUTE_PLAN, EXECUTE_PRIMITIVES, SET_MODE = 23, 22, 21, 8
DEADLINE_S = 20.0


@pytest.fixture(scope="module")
def simulator(simulator, zenoh_config):
    """The module's simulator, with ZENOH_CONFIG naming it before the module's first Robot opens
    the process-wide session (robots an earlier module left in reference cycles are released
    first, so that no session to an earlier simulator is still open)."""
    return simulator


def connect(simulator, model):
    serial = f"{model}-p{uuid.uuid4().hex[:10]}"
    sim_robot = simulator.add_robot(model, serial)
    sim_robot.make_ready()
    robot = kv.Robot(serial, verbose=False)
    deadline = time.monotonic() + DEADLINE_S
    while not robot.operational() and time.monotonic() < deadline:
        time.sleep(0.01)
    sim_robot.clear_records()
    return serial, robot, sim_robot


@pytest.fixture
def single(simulator):
    """A ready one-arm robot of its own and its simulated counterpart."""
    serial, robot, sim_robot = connect(simulator, "Olvar-L")
    yield robot, sim_robot
    del robot
    gc.collect()
    simulator.remove_robot(serial)


@pytest.fixture
def dual(simulator):
    """A ready two-arm robot of its own and its simulated counterpart."""
    serial, robot, sim_robot = connect(simulator, "Olvar-LL")
    yield robot, sim_robot
    del robot
    gc.collect()
    simulator.remove_robot(serial)


def switch(robot, sim_robot, mode):
    robot.SwitchMode(mode)
    sim_robot.clear_records()


def sent(sim_robot, *fields):
    """(op code, fields...) of every VYR request the simulated robot received, oldest first."""
    return [(r["op_code"], *(r[f] for f in fields)) for r in sim_robot.vyr_requests()]


def plain(value):
    """JPos and Coord values as tuples of their fields, so that values compare as data."""
    if isinstance(value, kv.JPos):
        return ("JPos", value.q_m, value.q_e)
    if isinstance(value, kv.Coord):
        return (
            "Coord",
            value.position,
            value.orientation,
            value.ref_frame,
            value.ref_q_m,
            value.ref_q_e,
        )
    if isinstance(value, list):
        return [plain(v) for v in value]
    return (type(value).__name__, value)


# ---- global variables: every value alternative there and back ----------------------------------

ARM_DEG = [10.0, -20.0, 30.0, 40.0, 0.0, 60.0, 0.0]
AXES = [1.0, 0.0, 0.0, 0.0, 0.0, 0.0]
STATION = ([0.5, 0.0, 0.0], [180.0, 0.0, 90.0], ["WORLD", "WORLD_ORIGIN"])
REF_Q_M = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0]


def station(ref_q_m=None):
    return kv.Coord(*STATION, ref_q_m) if ref_q_m else kv.Coord(*STATION)


def full_station(ref_q_m=None):
    """The same Coord as the robot reports it: every reference value present, zeros included."""
    return kv.Coord(*STATION, ref_q_m or [0.0] * 7, [0.0] * 6)


# Variable of the simulated robot, the value written, and the value read back: the robot writes
# real-valued types with a decimal point and a COORD with all 21 tokens.
ROUND_TRIPS = [
    pytest.param("cycle_count", 7, 7, id="int"),
    pytest.param("speed_factor", 2.0, 2.0, id="float"),
    pytest.param("station_name", "cell_b", "cell_b", id="str"),
    pytest.param(
        "home_pose", kv.JPos(ARM_DEG, AXES), ARM_DEG + AXES, id="JPos-as-13-floats"
    ),
    pytest.param("pick_point", station(), full_station(), id="Coord"),
    pytest.param("bin_counts", [1, -2, 3], [1, -2, 3], id="list-int"),
    pytest.param("offsets", [0.5, -1.25, 3], [0.5, -1.25, 3.0], id="list-float"),
    pytest.param("part_names", ["bolt", "washer"], ["bolt", "washer"], id="list-str"),
    pytest.param(
        "via_poses",
        [kv.JPos(ARM_DEG), kv.JPos([0.0] * 7, AXES)],
        [kv.JPos(ARM_DEG), kv.JPos([0.0] * 7, AXES)],
        id="list-JPos",
    ),
    pytest.param(
        "place_points",
        [station(), station(REF_Q_M)],
        [full_station(), full_station(REF_Q_M)],
        id="list-Coord",
    ),
]


@pytest.mark.parametrize("name, value, read_back", ROUND_TRIPS)
def test_global_variable_round_trip(single, name, value, read_back):
    robot, sim_robot = single
    before = robot.global_variables()
    sim_robot.clear_records()
    robot.SetGlobalVariables({name: value})
    assert [code for code, in sent(sim_robot)] == [12, 13]
    after = robot.global_variables()
    assert plain(after[name]) == plain(read_back)
    others = {k: plain(v) for k, v in before.items() if k != name}
    assert {k: plain(v) for k, v in after.items() if k != name} == others


def test_global_variable_errors(single):
    robot, sim_robot = single
    with pytest.raises(ValueError) as error:
        robot.SetGlobalVariables({})
    assert str(error.value) == (
        "[korvo::vyr::Robot::SetGlobalVariables] Input map [global_vars] is empty"
    )
    with pytest.raises(ValueError) as error:
        robot.SetGlobalVariables({"cycle_count": 1, "missing": 2})
    assert str(error.value) == (
        "[korvo::vyr::Robot::SetGlobalVariables] The specified global variable [missing] "
        "does not exist"
    )
    # The existing variables were read; nothing was written.
    assert [code for code, in sent(sim_robot)] == [12]
    assert sim_robot.global_variable("cycle_count") == "0"


# ---- plans -------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "selector, requests",
    [
        pytest.param(
            1, [(LIST_PLANS, []), (EXECUTE_PLAN, ["B"])], id="int-is-an-index"
        ),
        pytest.param("1", [(EXECUTE_PLAN, ["1"])], id="str-is-a-name"),
    ],
)
def test_execute_plan_overload_follows_the_argument_type(dual, selector, requests):
    robot, sim_robot = dual
    sim_robot.set_plans(["A", "B", "1"])
    switch(robot, sim_robot, kv.Mode.NRT_PLAN_EXECUTION)
    start = time.monotonic()
    robot.ExecutePlan(selector)
    # Defaults: wait for the start, do not keep running without the client.
    assert time.monotonic() - start >= 0.3
    assert sent(sim_robot, "string_container") == requests
    assert sent(sim_robot, "int_container")[-1] == (EXECUTE_PLAN, [0])


def test_plan_queries_and_controls(dual):
    robot, sim_robot = dual
    assert robot.plan_list() == [
        "PLAN-PickAndPlace",
        "PLAN-Inspection",
        "PLAN-ToolDynCaliWithTool-VYR",
        "PLAN-ToolDynCaliNoTool-VYR",
    ]
    with pytest.raises(RuntimeError) as error:
        robot.plan_info()
    assert str(error.value) == (
        "[korvo::vyr::Robot::plan_info] Robot is not in an applicable control mode"
    )

    switch(robot, sim_robot, kv.Mode.NRT_PLAN_EXECUTION)
    with pytest.raises(ValueError) as error:
        robot.ExecutePlan(4)
    assert str(error.value) == (
        "[korvo::vyr::Robot::ExecutePlan] Input parameter [index] is outside the valid range"
    )
    robot.SetVelocityScale(10)
    robot.ExecutePlan(1, continue_exec=True, block_until_started=False)
    info = robot.plan_info()
    assert isinstance(info, kv.PlanInfo)
    assert (info.assigned_plan_name, info.velocity_scale) == ("PLAN-Inspection", 10.0)
    robot.PausePlan(True)
    robot.PausePlan(False)
    robot.SetBreakpointMode(False)
    robot.StepBreakpoint()
    robot.StopPlan()
    assert sent(sim_robot, "int_container") == [
        (LIST_PLANS, []),
        (20, [10]),
        (LIST_PLANS, []),
        (EXECUTE_PLAN, [1]),
        (24, []),
        (25, []),
        (27, [0]),
        (28, []),
        (26, []),
    ]


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda r: r.SetVelocityScale(50.0), id="SetVelocityScale-float"),
        pytest.param(lambda r: r.SetVelocityScale(-1), id="SetVelocityScale-negative"),
        pytest.param(lambda r: r.ExecutePlan(-1), id="ExecutePlan-negative"),
        pytest.param(lambda r: r.ExecutePlan(1.0), id="ExecutePlan-float"),
        pytest.param(lambda r: r.Home([3]), id="Home-plain-int-group"),
        pytest.param(
            lambda r: r.ExecutePrimitive({3: kv.PrimitiveArgs()}),
            id="ExecutePrimitive-plain-int-key",
        ),
    ],
)
def test_arguments_that_do_not_convert_are_type_errors(single, call):
    robot, sim_robot = single
    with pytest.raises(TypeError):
        call(robot)
    assert sim_robot.vyr_requests() == []


@pytest.mark.parametrize(
    "mode", [kv.Mode.NRT_PLAN_EXECUTION, kv.Mode.NRT_PRIMITIVE_EXECUTION]
)
def test_velocity_scale_bound(single, mode):
    robot, sim_robot = single
    switch(robot, sim_robot, mode)
    robot.SetVelocityScale(100)
    with pytest.raises(ValueError) as error:
        robot.SetVelocityScale(101)
    assert str(error.value) == (
        "[korvo::vyr::Robot::SetVelocityScale] Input parameter [velocity_scale] cannot "
        "exceed 100%"
    )
    assert sent(sim_robot, "int_container") == [(20, [100])]


def test_second_overload_is_documented_by_name():
    doc = kv.Robot.ExecutePlan.__doc__
    assert (
        "\n2. ExecutePlan(self: korvovyr.Robot, name: str, continue_exec: bool = False, "
        "block_until_started: bool = True) -> None\n\n[Blocking] "
    ) in doc


# ---- primitives and Home -----------------------------------------------------------------------


def test_primitive_runs_and_reports_its_states(dual):
    robot, sim_robot = dual
    switch(robot, sim_robot, kv.Mode.NRT_PRIMITIVE_EXECUTION)
    args = kv.PrimitiveArgs("MoveJ", {"target": kv.JPos(ARM_DEG), "vel": 0.5})
    start = time.monotonic()
    robot.ExecutePrimitive({ARM_2: args})
    assert time.monotonic() - start >= 0.3  # block_until_started defaults to True
    assert sent(sim_robot, "joint_groups", "bool_container", "string_container") == [
        (
            EXECUTE_PRIMITIVES,
            [4],
            [True],
            ["MoveJ(target = 10 -20 30 40 0 60 0 0 0 0 0 0 0 , vel = 0.5)"],
        )
    ]

    deadline = time.monotonic() + DEADLINE_S
    while True:
        states = robot.primitive_states()
        reached = states[ARM_2].names_and_values["reachedTarget"]
        if reached == 1 or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    assert list(states) == [ARM_2]
    assert states[ARM_2].pt_name == "MoveJ"
    assert reached == 1
    assert isinstance(states[ARM_2].names_and_values["timePeriod"], float)


def test_home_without_groups_homes_every_arm_and_returns_to_the_mode(dual):
    robot, sim_robot = dual
    robot.Home()
    assert sent(sim_robot, "joint_groups", "string_container", "int_container") == [
        (SET_MODE, [], [], [int(kv.Mode.NRT_PRIMITIVE_EXECUTION)]),
        (EXECUTE_PRIMITIVES, [3, 4], ["Home()", "Home()"], [0, 0]),
        (SET_MODE, [], [], [int(kv.Mode.IDLE)]),
    ]
    assert robot.mode() == kv.Mode.IDLE

    with pytest.raises(ValueError) as error:
        robot.Home([ARM_1, kv.JointGroup.ARMS])
    assert str(error.value) == (
        "[korvo::vyr::Robot::Home] The specified joint group [ARMS] is not an existing "
        "single-arm joint group in the connected robot"
    )
