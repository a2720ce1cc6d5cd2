"""korvo-sim over real zenoh on loopback, driven from the client side of the protocol.

One simulator per module listens on a free port of 127.0.0.1; one client session (the test-only
middleware module) connects to it. Every test hosts its own robot under a fresh serial number, so
no test sees another's traffic. Requests go out through the middleware's RPC clients, commands
and heartbeats through its publishers, and the streams come back through its subscribers; what
the simulator received is read back through korvosim.
"""

import contextlib
import re
import struct
import time
import uuid
import xml.etree.ElementTree as ET
import zlib

import pytest

import korvo_mdw_test as mt
import korvosim
from support import retry_until

ALL, ARMS, ARM_1, ARM_2, EXT_AXIS = 0, 2, 3, 4, 5
EVERY_GROUP = [ALL, ARMS, ARM_1, ARM_2, EXT_AXIS]

IDLE, RT_JOINT_POSITION, NRT_JOINT_POSITION, NRT_PLAN_EXECUTION = 1, 5, 6, 7

# Safety states of the basic stream.
CAT_0_STOP, RECOVERY, REDUCED, NORMAL, CAT_1_STOP, CAT_2_STOP = 40, 9, 10, 12, 72, 136
# System states of the basic stream.
STOPPED_AUTO, STOPPED_EXTERNAL_AUTO, FAULT_EXTERNAL_AUTO = 3, 4, 15

# Publisher options of the bridge: congestion control block, reliable.
BLOCK, RELIABLE = 0, 1



def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def f32s(values):
    return [f32(v) for v in values]


# ---- fixtures ----------------------------------------------------------------------------------


@pytest.fixture
def cleanup():
    with contextlib.ExitStack() as stack:
        yield stack


class Client:
    """The client side of one hosted robot: an RPC client on each of its two servers."""

    def __init__(self, session, serial, cleanup):
        self.session = session
        self.serial = serial
        self.cleanup = cleanup
        self.vyr_client = self.closing(
            mt.VyrRpcClient(session, f"korvo/vyr/{serial}/rpc")
        )
        self.qel_client = self.closing(
            mt.QelRpcClient(session, f"korvo/robot/{serial}/rpc")
        )

    def closing(self, entity):
        return self.cleanup.enter_context(contextlib.closing(entity))

    def vyr(self, op_code, timeout=2.0, **fields):
        """Sends a VYR request; the decoded reply, or None."""
        return self.vyr_client.call(vyr_request(op_code, **fields), timeout)

    def qel(self, op_code, joint_groups=(), timeout=2.0):
        request = mt.qel_msg.RPCRequest()
        request.op_code = op_code
        request.joint_groups = list(joint_groups)
        return self.qel_client.call(request, timeout)

    def subscribe(self, subscriber_cls, suffix):
        prefix = (
            "korvo/vyr"
            if suffix in ("states", "commands", "heartbeat")
            else "korvo/robot"
        )
        return self.closing(
            subscriber_cls(self.session, f"{prefix}/{self.serial}/{suffix}")
        )

    def switch_mode(self, mode):
        return self.vyr(8, int_container=[mode]).success


def vyr_request(op_code, tool=None, **fields):
    request = mt.vyr_msg.RPCRequest()
    request.op_code = op_code
    for name, value in fields.items():
        setattr(request, name, value)
    if tool is not None:
        info = mt.vyr_msg.ToolInfo()
        for name, value in tool.items():
            setattr(info, name, value)
        request.tool = info
    return request


@pytest.fixture
def host(simulator, session, cleanup):
    """Hosts a robot under a fresh serial number, waits until both of its servers answer the
    client, forgets those first requests, and removes the robot after the test."""

    def add(model="Olvar-LL", ext_axes=0):
        serial = f"SN-{uuid.uuid4().hex[:12]}"
        robot = simulator.add_robot(model, serial, ext_axes)
        cleanup.callback(simulator.remove_robot, serial)
        client = Client(session, serial, cleanup)
        retry_until(lambda: client.vyr(3), "the VYR server")
        retry_until(lambda: client.qel(1), "the QEL server")
        robot.clear_records()
        return robot, client

    return add


@pytest.fixture
def robot(host):
    return host()


def latest(subscriber, what, condition=lambda message: True):
    """The newest record of `subscriber` once it satisfies `condition`."""

    def attempt():
        message = subscriber.latest()
        return message if message is not None and condition(message) else None

    return retry_until(attempt, what)


# ---- versions, joint groups, limits, description ---------------------------------------------


@pytest.mark.parametrize("server, op_code", [("vyr", 3), ("qel", 1)])
def test_servers_report_their_version_and_a_changed_one(robot, server, op_code):
    sim, client = robot
    call = client.vyr if server == "vyr" else client.qel

    reply = call(op_code)
    assert (reply.op_code, reply.success, reply.string_container) == (
        op_code,
        True,
        ["v2.1"],
    )

    changed = {"vyr": "v3.0-vyr", "qel": "v3.1-qel"}
    sim.set_server_versions(**changed)
    assert call(op_code).string_container == [changed[server]]


# {group: (start ID, DoF)}: base (TAVU-Ultra x, y, yaw), pan-tilt torso, arm 1, arm 2 (seven
# joints each), external axes, in that order.
TWO_ARMS = {ALL: (0, 14), ARMS: (0, 14), ARM_1: (0, 7), ARM_2: (7, 7)}
PRODUCT_LAYOUTS = [
    pytest.param("Olvar-L", 0, {ALL: (0, 7), ARM_1: (0, 7)}, id="Olvar-L"),
    pytest.param("Olvar-LL", 0, TWO_ARMS, id="Olvar-LL"),
    pytest.param("TAVU-Core", 0, TWO_ARMS, id="TAVU-Core"),
    pytest.param(
        "TAVU-Plus",
        0,
        {ALL: (0, 16), ARMS: (2, 14), ARM_1: (2, 7), ARM_2: (9, 7)},
        id="TAVU-Plus",
    ),
    pytest.param(
        "TAVU-Ultra",
        0,
        {ALL: (0, 19), ARMS: (5, 14), ARM_1: (5, 7), ARM_2: (12, 7)},
        id="TAVU-Ultra",
    ),
    pytest.param(
        "Olvar-L",
        3,
        {ALL: (0, 10), ARM_1: (0, 7), EXT_AXIS: (7, 3)},
        id="Olvar-L-3-ext",
    ),
    pytest.param(
        "TAVU-Ultra",
        6,
        {ALL: (0, 25), ARMS: (5, 14), ARM_1: (5, 7), ARM_2: (12, 7), EXT_AXIS: (19, 6)},
        id="TAVU-Ultra-6-ext",
    ),
]


def movable_joints(urdf):
    """(name, limit attributes) of every movable joint in document order."""
    root = ET.fromstring(urdf)
    joints = []
    for joint in root.iter("joint"):
        if joint.get("type") == "fixed":
            continue
        limit = joint.find("limit")
        joints.append((joint.get("name"), {} if limit is None else dict(limit.attrib)))
    return joints


@pytest.mark.parametrize("model, ext_axes, layout", PRODUCT_LAYOUTS)
def test_start_ids_and_dof_of_every_product(host, model, ext_axes, layout):
    sim, client = host(model, ext_axes)
    # Out of order, with every group: the reply follows the request and leaves out the groups
    # the robot does not have.
    asked = [ARM_2, ALL, EXT_AXIS, ARM_1, ARMS]
    reply = client.qel(10, asked)
    assert reply.success
    present = [g for g in asked if g in layout]
    assert reply.joint_groups == present
    assert reply.int_container == [layout[g][0] for g in present]
    assert reply.float_container == [float(layout[g][1]) for g in present]

    assert sim.product_name == model
    assert sim.groups == layout
    assert sim.full_dof == layout[ALL][1] == len(movable_joints(sim.urdf))


def test_joint_limit_rows_are_q_max_q_min_dq_max_tau_max_of_each_group(host):
    sim, client = host("TAVU-Plus", ext_axes=2)
    n = sim.full_dof
    # Distinct values everywhere, so that any shift or swap shows.
    q_min = [-1.0 - 0.01 * i for i in range(n)]
    q_max = [1.0 + 0.01 * i for i in range(n)]
    dq_max = [2.0 + 0.01 * i for i in range(n)]
    tau_max = [50.0 + i for i in range(n)]
    sim.set_joint_limits(q_min, q_max, dq_max, tau_max)

    reply = client.vyr(6, joint_groups=EVERY_GROUP)
    assert reply.success
    assert reply.string_container and reply.string_container[0]  # software version
    assert reply.joint_groups == EVERY_GROUP
    for group, row in zip(reply.joint_groups, reply.float2d_container):
        start, dof = sim.groups[group]
        part = slice(start, start + dof)
        assert row == f32s(
            q_max[part] + q_min[part] + dq_max[part] + tau_max[part]
        ), group


@pytest.mark.parametrize(
    "model, ext_axes",
    [
        ("Olvar-L", 1),
        ("Olvar-LL", 0),
        ("TAVU-Core", 0),
        ("TAVU-Plus", 0),
        ("TAVU-Ultra", 2),
    ],
)
def test_default_joint_limits_are_those_of_the_robot_description(host, model, ext_axes):
    sim, client = host(model, ext_axes)
    reply = client.vyr(6, joint_groups=[ALL])
    (row,) = reply.float2d_container
    n = sim.full_dof
    q_max, q_min, dq_max, tau_max = (row[k * n : (k + 1) * n] for k in range(4))

    joints = movable_joints(sim.urdf)
    assert [name for name, _ in joints] == [j["name"] for j in sim.joints]
    for i, (name, limit) in enumerate(joints):
        assert dq_max[i] == f32(float(limit["velocity"])), name
        assert tau_max[i] == f32(float(limit["effort"])), name
        # A continuous joint has no position bounds in the description.
        if "lower" in limit:
            assert (q_min[i], q_max[i]) == (
                f32(float(limit["lower"])),
                f32(float(limit["upper"])),
            ), name
        assert q_min[i] < q_max[i], name


@pytest.mark.parametrize("model, ext_axes", [("Olvar-L", 0), ("TAVU-Ultra", 3)])
def test_robot_description_download_carries_the_urdf_and_its_crc32(
    host, model, ext_axes
):
    sim, client = host(model, ext_axes)
    name = f"{client.serial}.urdf"
    reply = client.vyr(5, string_container=[name])
    assert reply.success
    assert reply.string_container == [name]
    data = bytes(reply.byte_container)
    assert data == sim.urdf.encode()
    assert reply.int_container[0] & 0xFFFFFFFF == zlib.crc32(data)

    root = ET.fromstring(data)
    links = [link.get("name") for link in root.iter("link")]
    flanges = [link for link in links if re.search(r"\.arm[12]\.flange$", link)]
    assert len(flanges) == len(sim.groups.keys() & {ARM_1, ARM_2})


@pytest.mark.parametrize(
    "names",
    [
        pytest.param(lambda sn: [], id="no-name"),
        pytest.param(lambda sn: ["robot.urdf"], id="other-name"),
        pytest.param(lambda sn: [sn], id="no-suffix"),
        pytest.param(lambda sn: [f"{sn}.URDF"], id="upper-case-suffix"),
        pytest.param(lambda sn: [f"{sn}.urdf"] * 2, id="two-names"),
    ],
)
def test_robot_description_download_refuses_a_wrong_name(robot, names):
    _, client = robot
    reply = client.vyr(5, string_container=names(client.serial))
    assert (reply.op_code, reply.success, reply.byte_container) == (5, False, [])


# ---- control modes -------------------------------------------------------------------------------


def test_mode_switch_shows_in_the_realtime_states(robot):
    sim, client = robot
    states = client.subscribe(mt.RealtimeStatesSubscriber, "states")
    assert latest(states, "the states stream").mode == IDLE
    sim.make_ready()

    assert client.switch_mode(NRT_JOINT_POSITION)
    latest(states, "mode 6 in the states", lambda m: m.mode == NRT_JOINT_POSITION)
    assert sim.mode == NRT_JOINT_POSITION

    assert client.switch_mode(IDLE)
    latest(states, "IDLE in the states", lambda m: m.mode == IDLE)
    assert client.vyr(7).int_container == [IDLE]  # the current mode on request


def test_mode_switch_goes_through_idle(robot):
    sim, client = robot
    sim.make_ready()
    assert client.switch_mode(NRT_JOINT_POSITION)
    assert not client.switch_mode(NRT_PLAN_EXECUTION)
    assert sim.mode == NRT_JOINT_POSITION
    assert client.switch_mode(NRT_JOINT_POSITION)  # the mode it is in
    assert client.switch_mode(IDLE)
    assert client.switch_mode(NRT_PLAN_EXECUTION)
    assert sim.mode == NRT_PLAN_EXECUTION


@pytest.mark.parametrize(
    "setup, mode, accepted",
    [
        # A fresh robot has its brakes engaged: servo-on was never requested.
        pytest.param(lambda s: None, NRT_JOINT_POSITION, False, id="brakes-engaged"),
        pytest.param(
            lambda s: (s.make_ready(), s.press_estop(True)),
            NRT_JOINT_POSITION,
            False,
            id="estop-pressed",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.raise_fault()),
            NRT_JOINT_POSITION,
            False,
            id="minor-fault",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.raise_fault(critical=True)),
            NRT_JOINT_POSITION,
            False,
            id="critical-fault",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.set_safety_state(RECOVERY)),
            NRT_JOINT_POSITION,
            False,
            id="recovery",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.set_system_state(STOPPED_AUTO)),
            NRT_JOINT_POSITION,
            False,
            id="local-auto-mode",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.set_safety_state(REDUCED)),
            NRT_JOINT_POSITION,
            True,
            id="reduced",
        ),
        pytest.param(lambda s: s.make_ready(), 0, False, id="mode-0"),
        pytest.param(lambda s: s.make_ready(), 12, False, id="mode-12"),
        pytest.param(lambda s: s.make_ready(), -1, False, id="mode-minus-1"),
    ],
)
def test_mode_switch_needs_an_operational_robot_and_a_known_mode(
    robot, setup, mode, accepted
):
    sim, client = robot
    setup(sim)
    assert client.switch_mode(mode) is accepted
    assert sim.mode == (mode if accepted else IDLE)


def test_realtime_mode_without_heartbeat_falls_back_to_idle(robot):
    sim, client = robot
    sim.make_ready()
    assert client.switch_mode(RT_JOINT_POSITION)
    retry_until(lambda: sim.mode == IDLE, "the fall-back to IDLE")


# ---- reply rules -----------------------------------------------------------------------------------

DELAY_MS = 300


def _refused(reply, op_code):
    return reply is not None and (reply.op_code, reply.success) == (op_code, False)


def _wrong_op_code(reply, op_code):
    return reply is not None and (reply.op_code, reply.success) == (op_code + 1, True)


def _normal(reply, op_code):
    return reply is not None and (reply.op_code, reply.success) == (op_code, True)


@pytest.mark.parametrize("server, op_code", [("vyr", 3), ("qel", 1)])
@pytest.mark.parametrize(
    "action, delay_ms, expected",
    [
        pytest.param("refuse", 0, _refused, id="refuse"),
        # The simulator holds the query past the client's 2 s time-out.
        pytest.param("drop", 0, lambda reply, op_code: reply is None, id="drop"),
        pytest.param("delay", DELAY_MS, _normal, id="delay"),
        # One byte too many: the client's decoder refuses the reply.
        pytest.param("corrupt", 0, lambda reply, op_code: reply is None, id="corrupt"),
        pytest.param("wrong_op_code", 0, _wrong_op_code, id="wrong-op-code"),
    ],
)
def test_reply_rule_applies_to_the_next_request_only(
    robot, server, op_code, action, delay_ms, expected
):
    sim, client = robot
    call = client.vyr if server == "vyr" else client.qel
    sim.set_reply_rule(server, op_code, action, delay_ms=delay_ms, count=1)

    started = time.monotonic()
    reply = call(op_code, timeout=2.0)
    elapsed = time.monotonic() - started
    assert expected(reply, op_code), reply
    if action == "delay":
        assert elapsed >= DELAY_MS / 1000

    assert _normal(call(op_code), op_code)  # the rule is used up
    records = sim.vyr_requests() if server == "vyr" else sim.qel_requests()
    assert [r["op_code"] for r in records] == [op_code, op_code]


def test_reply_rules_count_hold_and_clear_per_server_and_code(robot):
    sim, client = robot
    sim.set_reply_rule("vyr", 3, "refuse", count=2)
    assert [client.vyr(3).success for _ in range(3)] == [False, False, True]

    sim.set_reply_rule("vyr", 3, "refuse")  # every request until cleared
    assert [client.vyr(3).success for _ in range(3)] == [False] * 3
    assert client.vyr(7).success  # another code
    assert client.qel(3).success  # the same code on the other server
    sim.set_reply_rule("vyr", 3, "normal")
    assert client.vyr(3).success

    sim.set_reply_rule("vyr", 3, "refuse")
    sim.set_reply_rule("qel", 1, "wrong_op_code")
    sim.clear_reply_rules()
    assert client.vyr(3).success
    assert client.qel(1).op_code == 1


# ---- records of what arrived -----------------------------------------------------------------------

TOOL = dict(
    name="Greifer Ü",
    mass=1.25,
    CoM=[0.0, 0.01, 0.1],
    inertia=[0.01, 0.02, 0.03, 1e-4, -2e-4, 3e-4],
    tcp_location=[0.0, 0.0, 0.2, 0.7071, 0.0, 0.7071, 0.0],
)
VYR_REQUESTS = [
    dict(op_code=3),
    dict(
        op_code=61,
        joint_groups=[3, 4],
        bool_container=[True, False, True],
        int_container=[-1, 0, 2**31 - 1, -(2**31)],
        float_container=[0.1, -2500.5],
        string_container=["plan_A", "", "Ünïcødé"],
        byte_container=[i % 256 for i in range(300)],
        float2d_container=[[0.1, 0.2], [], [1.5]],
        tool=TOOL,
    ),
    dict(op_code=6, joint_groups=[0]),
]


def as_record(fields):
    """The dict that korvosim reads back for a VYR request sent with `fields`."""
    tool = dict(
        name="", mass=0.0, CoM=[0.0] * 3, inertia=[0.0] * 6, tcp_location=[0.0] * 7
    )
    tool.update(fields.get("tool", {}))
    return dict(
        op_code=fields["op_code"],
        joint_groups=fields.get("joint_groups", []),
        bool_container=fields.get("bool_container", []),
        int_container=fields.get("int_container", []),
        float_container=f32s(fields.get("float_container", [])),
        string_container=fields.get("string_container", []),
        byte_container=bytes(fields.get("byte_container", [])),
        float2d_container=[f32s(row) for row in fields.get("float2d_container", [])],
        tool={
            "name": tool["name"],
            "mass": f32(tool["mass"]),
            **{k: f32s(tool[k]) for k in ("CoM", "inertia", "tcp_location")},
        },
    )


def without_time(records):
    return [{k: v for k, v in r.items() if k != "time"} for r in records]


def test_requests_read_back_as_sent_and_in_order(robot):
    sim, client = robot
    before = time.time()
    for fields in VYR_REQUESTS:
        assert client.vyr(**fields) is not None
    qel_sent = [(10, [0, 3]), (1, []), (3, [4])]
    for op_code, groups in qel_sent:
        assert client.qel(op_code, groups) is not None
    after = time.time()

    vyr_records = sim.vyr_requests()
    assert without_time(vyr_records) == [as_record(f) for f in VYR_REQUESTS]
    qel_records = sim.qel_requests()
    assert without_time(qel_records) == [
        dict(op_code=op_code, joint_groups=groups) for op_code, groups in qel_sent
    ]
    for records in (vyr_records, qel_records):
        times = [r["time"] for r in records]
        assert times == sorted(times)
        assert before - 1.0 <= times[0] and times[-1] <= after + 1.0

    sim.clear_records()
    assert (sim.vyr_requests(), sim.qel_requests(), sim.commands()) == ([], [], [])


def joint_command(**fields):
    command = mt.vyr_msg.JointCommand()
    for name, value in fields.items():
        setattr(command, name, value)
    return command


def cartesian_command(k):
    command = mt.vyr_msg.CartesianCommand()
    command.pose_d = [0.4, 0.1 * k, 0.5, 1.0, 0.0, 0.0, 0.0]
    command.wrench_d = [0.0, 0.0, -k, 0.0, 0.0, 0.0]
    command.twist_d = [0.01 * k] * 6
    command.acc_d = [0.0] * 6
    command.max_linear_vel = 0.5
    command.max_angular_vel = 1.0
    command.max_linear_acc = 2.0
    command.max_angular_acc = 3.0
    return command


def motion_commands(stamp):
    m = mt.vyr_msg.MotionCommands()
    m.stamp = stamp
    m.joint_groups = [ARM_1, ARM_2]
    m.joint_commands = [
        joint_command(
            tau_d=[0.1 * stamp] * 7,
            q_d=[0.01 * i for i in range(7)],
            dq_max=[1.5] * 7,
            friction_comp_scale=80.0,
            disable_soft_limits=True,
        ),
        joint_command(q_d=[-0.25] * 7, ddq_d=[0.5] * 7, disable_gravity_comp=True),
    ]
    m.cartesian_commands = [cartesian_command(1)]
    m.waypoint_commands = [[cartesian_command(2), cartesian_command(3)], []]
    return m


def commands_as_record(m):
    joint_fields = ("tau_d", "q_d", "dq_d", "ddq_d", "dq_max", "ddq_max")
    cartesian_arrays = ("pose_d", "wrench_d", "twist_d", "acc_d")
    cartesian_scalars = (
        "max_linear_vel",
        "max_angular_vel",
        "max_linear_acc",
        "max_angular_acc",
    )

    def cartesian(c):
        return {
            **{k: f32s(getattr(c, k)) for k in cartesian_arrays},
            **{k: f32(getattr(c, k)) for k in cartesian_scalars},
        }

    return dict(
        stamp=m.stamp,
        joint_groups=m.joint_groups,
        joint_commands=[
            {
                **{k: f32s(getattr(c, k)) for k in joint_fields},
                "friction_comp_scale": f32(c.friction_comp_scale),
                "disable_gravity_comp": c.disable_gravity_comp,
                "disable_soft_limits": c.disable_soft_limits,
            }
            for c in m.joint_commands
        ],
        cartesian_commands=[cartesian(c) for c in m.cartesian_commands],
        waypoint_commands=[
            [cartesian(c) for c in group] for group in m.waypoint_commands
        ],
    )


def test_motion_commands_read_back_as_sent_and_in_order(robot):
    sim, client = robot
    publisher = client.closing(
        mt.MotionCommandsPublisher(
            client.session,
            f"korvo/vyr/{client.serial}/commands",
            congestion_control=BLOCK,
            reliability=RELIABLE,
        )
    )

    def probe():
        assert publisher.publish(motion_commands(0))
        return sim.commands() or None

    retry_until(probe, "the simulator's command subscriber")
    sent = [motion_commands(stamp) for stamp in (1, 2, 3)]
    for m in sent:
        assert publisher.publish(m)

    def all_arrived():
        records = sim.commands()
        return records if records[-1]["stamp"] == 3 else None

    records = retry_until(all_arrived, "the last command")
    assert all(r["stamp"] == 0 for r in records[:-3])
    assert without_time(records[-3:]) == [commands_as_record(m) for m in sent]


def test_accepted_settings_are_kept_by_code_and_group(robot):
    sim, client = robot
    # The joint inertia scale is set in IDLE only.
    assert client.vyr(82, joint_groups=[ARM_2], int_container=[1]).success
    assert not client.vyr(82, joint_groups=[ARM_1], int_container=[1, 2]).success
    sim.make_ready()
    assert client.switch_mode(NRT_JOINT_POSITION)
    assert not client.vyr(82, joint_groups=[ARM_1], int_container=[0]).success

    settings = sim.settings
    assert list(settings) == [(82, ARM_2)]
    assert settings[(82, ARM_2)] == as_record(
        dict(op_code=82, joint_groups=[ARM_2], int_container=[1])
    )


# ---- global variables ------------------------------------------------------------------------------


def global_texts(client):
    reply = client.vyr(12)
    assert reply.success
    return reply.string_container


def test_global_variables_are_listed_as_name_equals_value(robot):
    sim, client = robot
    texts = global_texts(client)
    assert texts
    pairs = [re.fullmatch(r"(\S+) = (\S.*)", text) for text in texts]
    assert all(pairs), texts
    names = [p[1] for p in pairs]
    assert names == sorted(set(names))
    for name, value in (p.groups() for p in pairs):
        assert sim.global_variable(name) == value
    assert sim.global_variable("no_such_variable") is None


@pytest.mark.parametrize(
    "assignments, expected",
    [
        pytest.param("cycle_count = 7", {"cycle_count": "7"}, id="int"),
        # Real numbers are reported with a decimal point.
        pytest.param("speed_factor = 2", {"speed_factor": "2.0"}, id="double"),
        pytest.param(
            "cycle_count = 3, offsets = 1 2.5 -3",
            {"cycle_count": "3", "offsets": "1.0 2.5 -3.0"},
            id="two-at-once",
        ),
        pytest.param("cycle_count = 1.5", None, id="double-into-int"),
        pytest.param("no_such_variable = 1", None, id="unknown-name"),
        pytest.param(
            "cycle_count = 9, no_such_variable = 1", None, id="one-bad-of-two"
        ),
        pytest.param("cycle_count 9", None, id="no-equals-sign"),
    ],
)
def test_global_variable_assignment_changes_all_or_nothing(
    robot, assignments, expected
):
    sim, client = robot
    before = global_texts(client)
    reply = client.vyr(13, string_container=[assignments])
    assert reply.success is (expected is not None)

    after = global_texts(client)
    if expected is None:
        assert after == before
        return
    for name, value in expected.items():
        assert f"{name} = {value}" in after
        assert sim.global_variable(name) == value
    unchanged = [t for t in before if t.split(" = ")[0] not in expected]
    assert [t for t in after if t.split(" = ")[0] not in expected] == unchanged


# ---- heartbeat, streams and events -----------------------------------------------------------------


def test_heartbeat_count_rises_with_every_heartbeat(robot):
    sim, client = robot
    publisher = client.closing(
        mt.BoolPublisher(client.session, f"korvo/vyr/{client.serial}/heartbeat")
    )
    heartbeat = mt.std_msg.Bool()  # false, as the client sends it
    assert sim.heartbeat_count == 0

    def probe():
        assert publisher.publish(heartbeat)
        return sim.heartbeat_count or None

    first = retry_until(probe, "the simulator's heartbeat subscriber")
    for _ in range(10):
        assert publisher.publish(heartbeat)
    retry_until(lambda: sim.heartbeat_count >= first + 10, "ten more heartbeats")


STREAMS = [
    pytest.param("states", mt.RealtimeStatesSubscriber, "states", id="states"),
    pytest.param("basic", mt.BasicStreamSubscriber, "basic_stream_data", id="basic"),
    pytest.param("extra", mt.ExtraStreamSubscriber, "extra_stream_data", id="extra"),
]


@pytest.mark.parametrize("stream, subscriber_cls, suffix", STREAMS)
def test_a_paused_stream_stops_and_resumes(robot, stream, subscriber_cls, suffix):
    sim, client = robot
    subscriber = client.subscribe(subscriber_cls, suffix)
    latest(subscriber, f"the {stream} stream")

    sim.pause_stream(stream)
    time.sleep(0.2)  # samples already under way
    subscriber.clear()
    time.sleep(0.3)  # 300 cycles
    assert subscriber.count() == 0

    sim.pause_stream(stream, paused=False)
    latest(subscriber, f"the resumed {stream} stream")


def shows_field(field, value):
    return lambda data: getattr(data, field) == value


@pytest.mark.parametrize(
    "control, subscriber_cls, suffix, shows",
    [
        pytest.param(
            lambda s: s.set_safety_state(REDUCED),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            shows_field("safety_state", REDUCED),
            id="safety-state",
        ),
        pytest.param(
            lambda s: s.set_system_state(STOPPED_AUTO),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            shows_field("system_state", STOPPED_AUTO),
            id="system-state",
        ),
        pytest.param(
            lambda s: (s.make_ready(), s.press_estop(True)),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: (d.estop_released, d.safety_state) == (False, CAT_1_STOP),
            id="estop",
        ),
        pytest.param(
            lambda s: s.raise_fault(critical=True),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: (d.safety_state, d.system_state)
            == (CAT_0_STOP, FAULT_EXTERNAL_AUTO),
            id="critical-fault",
        ),
        pytest.param(
            lambda s: s.raise_fault(),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: (d.safety_state, d.system_state)
            == (CAT_2_STOP, FAULT_EXTERNAL_AUTO),
            id="minor-fault",
        ),
        pytest.param(
            lambda s: s.make_ready(),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: (d.safety_state, d.system_state)
            == (NORMAL, STOPPED_EXTERNAL_AUTO),
            id="ready",
        ),
        pytest.param(
            lambda s: s.set_joint_positions(
                [0.05 * i - 0.3 for i in range(s.full_dof)]
            ),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: d.q == f32s([0.05 * i - 0.3 for i in range(len(d.q))]),
            id="joint-positions",
        ),
        pytest.param(
            lambda s: s.set_safety_inputs([i % 2 == 0 for i in range(8)]),
            mt.BasicStreamSubscriber,
            "basic_stream_data",
            lambda d: list(d.safety_inputs) == [i % 2 == 0 for i in range(8)],
            id="safety-inputs",
        ),
        pytest.param(
            lambda s: s.add_timeliness_failures(5),
            mt.RealtimeStatesSubscriber,
            "states",
            shows_field("timeliness_failure_count", 5),
            id="timeliness-failures",
        ),
    ],
)
def test_test_controls_show_in_the_streams(
    robot, control, subscriber_cls, suffix, shows
):
    sim, client = robot
    subscriber = client.subscribe(subscriber_cls, suffix)
    assert not shows(latest(subscriber, "the stream"))
    control(sim)
    latest(subscriber, "the control's effect", shows)


def contacts(data):
    """(forces, positions) of the multi-contact values of a basic stream message."""
    return (
        [list(v) for v in data.multi_contact_forces],
        [list(v) for v in data.multi_contact_positions],
    )


def test_multi_contact_values_are_published_as_set_then_restored(host):
    sim, client = host("Olvar-LL", 2)
    basic = client.subscribe(mt.BasicStreamSubscriber, "basic_stream_data")
    zeros = [[0.0, 0.0, 0.0] for _ in range(sim.full_dof)]
    assert contacts(latest(basic, "the basic stream")) == (zeros, zeros)

    full = (
        [[k + 0.5, -2.0 * k, 0.25] for k in range(sim.full_dof)],
        [[0.125 * k, 1.0, -0.5] for k in range(sim.full_dof)],
    )
    # Fewer vectors than joints, as from a robot without the estimation; one list empty.
    short = ([[1.5, -2.0, 0.75], [0.0, 4.0, -8.0]], [])
    for forces, positions in (full, short):
        sim.set_multi_contact(forces, positions)
        latest(basic, "the values set", lambda d: contacts(d) == (forces, positions))

    sim.reset_multi_contact()
    latest(basic, "zeros again", lambda d: contacts(d) == (zeros, zeros))


@pytest.mark.parametrize(
    "forces, positions",
    [
        pytest.param([[1.0, 2.0]], [], id="two-values"),
        pytest.param([], [[1.0, 2.0, 3.0, 4.0]], id="four-values"),
        pytest.param([1.0, 2.0, 3.0], [], id="not-nested"),
        pytest.param([["1", 2.0, 3.0]], [], id="text"),
    ],
)
def test_multi_contact_values_are_3_vectors(robot, forces, positions):
    sim, _ = robot
    with pytest.raises(TypeError):
        sim.set_multi_contact(forces, positions)


def test_emitted_event_arrives_on_the_event_log(robot):
    sim, client = robot
    events = client.subscribe(mt.EventLogSubscriber, "event_log")
    fields = dict(
        consequences="Roboter angehalten",
        probable_causes="Lüfter blockiert",
        recommended_actions="Abkühlen lassen",
    )
    attempts = iter(range(1_000_000))

    def probe():
        # Events published before the subscriber is known are lost: emit until one arrives.
        sim.emit_event(2, 7000 + next(attempts), "Übertemperatur", **fields)
        time.sleep(0.05)
        return [e for e in events.received() if e.id >= 7000] or None

    event = retry_until(probe, "an event")[0]
    assert (
        event.level,
        event.description,
        event.consequences,
        event.probable_causes,
        event.recommended_actions,
    ) == (2, "Übertemperatur", *fields.values())


# ---- the module's own checks -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, error",
    [
        pytest.param(
            lambda sim, r: sim.add_robot("Olvar-XL", "SN-x"), ValueError, id="model"
        ),
        pytest.param(
            lambda sim, r: sim.add_robot("Olvar-L", r.serial), ValueError, id="dup"
        ),
        pytest.param(
            lambda sim, r: sim.add_robot("Olvar-L", "SN-y", 7), ValueError, id="ext-7"
        ),
        pytest.param(
            lambda sim, r: sim.add_robot("Olvar-L", "SN-z", -1),
            ValueError,
            id="ext-neg",
        ),
        pytest.param(
            lambda sim, r: sim.robot("SN-none"), KeyError, id="unknown-serial"
        ),
        pytest.param(
            lambda sim, r: r.set_reply_rule("xyz", 3, "refuse"), ValueError, id="server"
        ),
        pytest.param(
            lambda sim, r: r.set_reply_rule("vyr", 3, "lose"), ValueError, id="action"
        ),
        pytest.param(
            lambda sim, r: r.set_reply_rule("vyr", 70000, "refuse"),
            ValueError,
            id="op-code",
        ),
        pytest.param(lambda sim, r: r.pause_stream("events"), ValueError, id="stream"),
        pytest.param(
            lambda sim, r: r.set_joint_positions([0.0]), ValueError, id="positions"
        ),
        pytest.param(
            lambda sim, r: r.set_joint_limits(
                [0.0] * 14, [1.0] * 14, [1.0] * 14, [1.0] * 7
            ),
            ValueError,
            id="limits",
        ),
    ],
)
def test_bad_arguments_raise(simulator, robot, call, error):
    sim, _ = robot
    with pytest.raises(error):
        call(simulator, sim)
    assert simulator.robot(sim.serial).serial == sim.serial


def test_a_removed_robot_is_gone_from_the_network(simulator, robot):
    sim, client = robot
    simulator.remove_robot(sim.serial)
    with pytest.raises(KeyError):
        sim.mode
    with pytest.raises(KeyError):
        simulator.robot(sim.serial)
    assert client.vyr(3, timeout=0.5) is None
    simulator.remove_robot(sim.serial)  # removing again does nothing


def test_closed_simulator_refuses_calls_and_frees_its_port(port):
    other = korvosim.free_port()
    with korvosim.Simulator(korvosim.listener_config(other)) as sim:
        robot = sim.add_robot("Olvar-L", "SN-closed")
        assert robot.mode == IDLE
        assert not sim.closed
        # The module's simulator holds its port.
        with pytest.raises(korvosim.ZException):
            korvosim.Simulator(korvosim.listener_config(port))
    assert sim.closed
    with pytest.raises(RuntimeError, match="closed"):
        robot.mode
    with pytest.raises(RuntimeError, match="closed"):
        sim.add_robot("Olvar-L", "SN-again")
    sim.close()  # closing again does nothing
    # The port is free again.
    korvosim.Simulator(korvosim.listener_config(other)).close()


def test_an_unreadable_configuration_raises():
    with pytest.raises(korvosim.ZException):
        korvosim.Simulator("{ mode: ")


def test_configuration_file_is_written_under_a_name_zenoh_accepts(tmp_path, port):
    text = korvosim.connector_config(port)
    path = korvosim.write_config(text, str(tmp_path / "client.json5"))
    assert open(path, encoding="utf-8").read() == text
    with pytest.raises(ValueError):
        korvosim.write_config(text, str(tmp_path / "client.toml"))


def test_physics_makes_streamed_torque_drive_the_links(simulator, zenoh_config):
    """With physics on, zero torque without gravity compensation lets the arm fall; with it,
    the arm holds."""
    import korvovyr as kv
    from support import connected_robot, retry_until

    with connected_robot(simulator, "Olvar-L") as (robot, sim):
        sim.enable_physics(True)
        sim.set_joint_positions([0.3, 0.8, -0.4, -1.2, 0.5, 0.6, 0.2])  # gravity pulls here
        robot.SwitchMode(kv.Mode.RT_JOINT_TORQUE)
        start = sim.q
        for _ in range(300):
            robot.StreamJointTorque({kv.JointGroup.ARM_1: kv.RtJointTorqueCmd([0.0] * 7)})
            time.sleep(0.001)
        held = sim.q
        assert max(abs(a - b) for a, b in zip(held, start)) < 1e-3

        def fallen():
            robot.StreamJointTorque(
                {kv.JointGroup.ARM_1: kv.RtJointTorqueCmd([0.0] * 7, False, False, 0.0)}
            )
            q = sim.q
            return max(abs(a - b) for a, b in zip(q, start)) > 1e-2

        retry_until(fallen, "the arm to fall")

        with pytest.raises(ValueError):
            sim.apply_wrench("nowhere", [1.0, 0, 0, 0, 0, 0], 1.0)
        with pytest.raises(ValueError):
            sim.set_contact_plane([0.0, 0.0, 0.0], [0.0, 0.0, 0.0])
        sim.set_contact_plane([0.0, 0.0, -10.0])  # far below: nothing touches it
        assert sim.contact_forces == {kv.JointGroup.ARM_1.value: [0.0, 0.0, 0.0]}
        sim.set_contact_plane(None)
        with pytest.raises(ValueError):
            sim.set_contact_box([0.0, 0.0, 0.0], [0.1, 0.0, 0.1])
        # A soft box around the whole arm pushes its TCP out through the nearest face.
        sim.set_contact_box([0.0, 0.0, 0.0], [10.0, 10.0, 10.0], stiffness=1.0, damping=0.0)
        retry_until(
            lambda: max(abs(f) for f in sim.contact_forces[kv.JointGroup.ARM_1.value]) > 5.0,
            "the box to push the TCP",
        )
        sim.set_contact_box(None)
        sim.enable_physics(False)
