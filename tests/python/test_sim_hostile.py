"""korvo-sim against a hostile peer over real zenoh on loopback: texts that a backtracking parser
would recurse on, containers and commands of sizes no client sends, values that are not finite.
After each, the robot still publishes its states and answers the next request, and what it refused
or ignored is counted."""

import contextlib
import math

import pytest

import korvo_mdw_test as mt
from support import commands_publisher, hosted_robot, retry_until, states_subscriber

ARM_1 = 3
IDLE, RT_JOINT_TORQUE, RT_JOINT_POSITION, NRT_JOINT_POSITION = 1, 2, 5, 6
NRT_PRIMITIVE_EXECUTION, RT_CARTESIAN_MOTION_FORCE = 8, 9
REFUSED_EVENT = 1800


@pytest.fixture
def robot(simulator, session):
    """A ready one-arm robot, its `vyr` caller, and the client side's states and events."""
    with contextlib.ExitStack() as stack:
        sim, vyr = stack.enter_context(hosted_robot(simulator, session, "Olvar-L", 3))
        serial = sim.serial
        states = stack.enter_context(contextlib.closing(states_subscriber(session, serial)))
        events = stack.enter_context(
            contextlib.closing(mt.EventLogSubscriber(session, f"korvo/robot/{serial}/event_log"))
        )
        commands = stack.enter_context(contextlib.closing(commands_publisher(session, serial)))
        sim.make_ready()
        yield Hosted(sim, vyr, states, events, commands, session)


class Hosted:
    def __init__(self, sim, vyr, states, events, commands, session):
        self.sim, self.vyr, self.states, self.events = sim, vyr, states, events
        self.commands, self.session = commands, session

    def still_serving(self):
        """The robot publishes fresh states and answers a request."""
        self.states.clear()
        self.states.wait_for(50, 5.0)
        assert self.states.count() >= 50
        reply = self.vyr(7)
        assert reply is not None and reply.success

    def refusal_event(self, op_code):
        def find():
            for e in self.events.received():
                if e.id == REFUSED_EVENT and f"[{op_code}]" in e.description:
                    return e
            return None

        return retry_until(find, "the refusal event")


def joint_command(**fields):
    command = mt.vyr_msg.JointCommand()
    for name, value in fields.items():
        setattr(command, name, value)
    return command


def move_j(target):
    """The fields of an op-21 request that starts MoveJ on arm 1 towards `target` (a text)."""
    return dict(
        joint_groups=[ARM_1],
        bool_container=[False],
        int_container=[0],
        string_container=[f"MoveJ(target = {target})"],
    )


def commands(*joint_commands):
    m = mt.vyr_msg.MotionCommands()
    m.joint_groups = [ARM_1] * len(joint_commands)
    m.joint_commands = list(joint_commands)
    return m


# ---- texts a backtracking parser would recurse on --------------------------------------------


def test_a_global_variable_text_of_16000_characters_is_answered(robot):
    reply = robot.vyr(13, string_container=["x" * 16000])
    assert reply is not None and not reply.success
    long_value = "v = " + "1" * 16000
    reply = robot.vyr(13, string_container=[long_value])
    assert reply is not None
    robot.still_serving()


def test_a_primitive_text_of_10000_characters_is_refused(robot):
    assert robot.vyr(8, int_container=[NRT_PRIMITIVE_EXECUTION]).success
    reply = robot.vyr(21, **move_j("1, " + "a = 1, " * 1428))
    assert reply is not None and not reply.success
    assert not robot.sim.busy
    robot.still_serving()


# ---- sizes no client sends -------------------------------------------------------------------


def test_requests_with_large_byte_containers_keep_the_records_within_their_budget(robot):
    """1200 version requests of 64 KiB each: more than the 64 MiB the records keep, so the oldest
    go and are counted."""
    request = mt.vyr_msg.RPCRequest()
    request.op_code = 3
    request.byte_container = list(range(256)) * 256  # 64 KiB
    rpc = mt.VyrRpcClient(robot.session, f"korvo/vyr/{robot.sim.serial}/rpc")
    with contextlib.closing(rpc):
        sent = 1200
        for _ in range(sent):
            assert rpc.call(request, 2.0).success
    dropped = robot.sim.records_dropped()
    kept_at_most = (64 << 20) // (64 << 10)
    assert dropped["vyr_requests"] >= sent - kept_at_most
    assert dropped["vyr_requests"] < sent
    robot.sim.clear_records()
    assert robot.sim.records_dropped() == dict(vyr_requests=0, qel_requests=0, commands=0)
    robot.still_serving()


@pytest.mark.parametrize(
    "op_code, fields",
    [
        pytest.param(6, dict(joint_groups=[0] * 1_000_000), id="a million joint groups"),
        pytest.param(13, dict(string_container=["x"] * 100_000), id="100000 texts"),
        pytest.param(13, dict(string_container=["x" * 100_000]), id="a 100000-byte text"),
        pytest.param(11, dict(float2d_container=[[0.0] * 2000]), id="a row of 2000 values"),
    ],
)
def test_requests_of_sizes_no_client_sends_are_refused_with_an_event(robot, op_code, fields):
    reply = robot.vyr(op_code, **fields)
    assert reply is not None
    assert (reply.op_code, reply.success, reply.joint_groups, reply.float2d_container) == (
        op_code,
        False,
        [],
        [],
    )
    assert robot.refusal_event(op_code).level == 2
    assert robot.sim.refused_requests == 1
    assert op_code not in [r["op_code"] for r in robot.sim.vyr_requests()]  # not kept either
    robot.still_serving()


def test_motion_commands_with_a_million_values_are_ignored_and_not_kept(robot):
    big = commands(joint_command(q_d=[0.0] * 1_000_000))
    assert robot.vyr(8, int_container=[RT_JOINT_POSITION]).success
    q_before = robot.sim.q
    sent = 200
    for _ in range(sent):
        assert robot.commands.publish(big)
    retry_until(lambda: robot.sim.ignored_commands == sent, "every command ignored")
    assert robot.sim.commands() == []
    assert robot.sim.q == q_before
    robot.still_serving()


# ---- values that are not finite ----------------------------------------------------------------


@pytest.mark.parametrize(
    "mode, field, value",
    [
        (RT_JOINT_POSITION, "q_d", math.nan),
        (RT_JOINT_POSITION, "dq_d", math.inf),
        (RT_JOINT_TORQUE, "tau_d", -math.inf),
        (RT_JOINT_TORQUE, "tau_d", math.nan),
        (NRT_JOINT_POSITION, "q_d", math.nan),
    ],
)
def test_commands_that_are_not_finite_are_ignored_and_counted(robot, mode, field, value):
    assert robot.vyr(8, int_container=[mode]).success
    q_before = robot.sim.q
    finite = dict(q_d=list(q_before), dq_d=[0.0] * 7, tau_d=[0.0] * 7)
    finite[field] = [0.1] * 6 + [value]
    sent = 20
    for _ in range(sent):
        assert robot.commands.publish(commands(joint_command(**finite)))
    retry_until(lambda: robot.sim.ignored_commands == sent, "every command ignored")
    assert robot.vyr(8, int_container=[IDLE]).success
    q_idle = robot.sim.q
    assert all(math.isfinite(v) for v in q_idle)
    assert max(abs(a - b) for a, b in zip(q_idle, q_before)) < 1e-6
    robot.still_serving()
    assert robot.sim.q == q_idle  # nothing drifts after IDLE
    assert all(v == 0.0 for v in robot.sim.dq)


@pytest.mark.parametrize(
    "op_code, mode, fields",
    [
        pytest.param(
            11,
            IDLE,
            dict(
                joint_groups=[ARM_1],
                int_container=[0],
                float2d_container=[[math.nan, 0.0, 0.5, 1.0, 0.0, 0.0, 0.0] + [0.0] * 7],
            ),
            id="reachability of a NaN pose",
        ),
        pytest.param(
            21,
            NRT_PRIMITIVE_EXECUTION,
            move_j("nan 0 0 0 0 0 0 0 0 0 0 0 0"),
            id="a primitive whose target is NaN",
        ),
        pytest.param(
            21,
            NRT_PRIMITIVE_EXECUTION,
            move_j("1e999 0 0 0 0 0 0 0 0 0 0 0 0"),
            id="a primitive whose target overflows",
        ),
        pytest.param(
            70,
            RT_CARTESIAN_MOTION_FORCE,
            dict(joint_groups=[ARM_1], float_container=[1000.0] * 11 + [math.inf]),
            id="a Cartesian stiffness that is infinite",
        ),
    ],
)
def test_targets_that_are_not_finite_are_refused(robot, op_code, mode, fields):
    if mode != IDLE:
        assert robot.vyr(8, int_container=[mode]).success
    q_before = robot.sim.q
    reply = robot.vyr(op_code, **fields)
    assert reply is not None and not reply.success
    assert reply.float2d_container == []
    assert not robot.sim.busy
    robot.still_serving()
    assert robot.sim.q == q_before
