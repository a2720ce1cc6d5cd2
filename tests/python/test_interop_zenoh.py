"""Interop with upstream zenoh for Python (eclipse-zenoh) as an independent peer.

Upstream subscribes to what our publishers send and answers our RPC clients; upstream's own
serializer (zenoh.ext.z_serialize) produces payloads that our deserializer must read and that our
serializer must reproduce byte for byte. What we send is read back here by a decoder of our own
(struct and LEB128) written from the message layouts below, never by the library's decoders.

All sessions, ours and upstream's, stay on 127.0.0.1 with multicast scouting and gossip off:
upstream listens on a free port, our session connects to it.
"""

import contextlib
import queue
import socket
import struct
import time
import uuid

import pytest
import zenoh
from zenoh import ext as zx

import korvo_mdw_test as mt

# ---- message layouts -------------------------------------------------------------------------
# Wire types: scalar names, ("seq", T) for a length-prefixed sequence, ("arr", T, N) for a fixed
# array (written like a sequence whose length must be N), and Rec for a record (its fields in
# order, nothing in front). Field names are those of the C++ records.

BOOL, U8, U16, I16, I32, U32, U64, F32, STR = (
    "bool",
    "u8",
    "u16",
    "i16",
    "i32",
    "u32",
    "u64",
    "f32",
    "str",
)


def seq(t):
    return ("seq", t)


def arr(t, n):
    return ("arr", t, n)


class Rec:
    def __init__(self, family, name, *fields):
        self.family = family
        self.name = name
        self.fields = fields

    @property
    def cls(self):
        """The bound C++ record of the same name."""
        return getattr(getattr(mt, self.family), self.name)

    def __repr__(self):
        return f"{self.family}.{self.name}"


TOOL_INFO = Rec(
    "vyr_msg",
    "ToolInfo",
    ("name", STR),
    ("mass", F32),
    ("CoM", arr(F32, 3)),
    ("inertia", arr(F32, 6)),
    ("tcp_location", arr(F32, 7)),
)
_VYR_CONTAINERS = (
    ("joint_groups", seq(U16)),
    ("bool_container", seq(BOOL)),
    ("int_container", seq(I32)),
    ("float_container", seq(F32)),
    ("string_container", seq(STR)),
    ("byte_container", seq(U8)),
    ("float2d_container", seq(seq(F32))),
    ("tool", TOOL_INFO),
)
VYR_REQUEST = Rec("vyr_msg", "RPCRequest", ("op_code", U16), *_VYR_CONTAINERS)
VYR_REPLY = Rec(
    "vyr_msg", "RPCReply", ("op_code", U16), ("success", BOOL), *_VYR_CONTAINERS
)
GRIPPER_STATE = Rec(
    "vyr_msg", "GripperStateEntry", ("width", F32), ("force", F32), ("is_moving", BOOL)
)
REALTIME_STATES = Rec(
    "vyr_msg",
    "RealtimeStates",
    ("busy", BOOL),
    ("timeliness_failure_count", U64),
    ("mode", U16),
    ("gripper_states", seq(GRIPPER_STATE)),
)
JOINT_COMMAND = Rec(
    "vyr_msg",
    "JointCommand",
    ("tau_d", seq(F32)),
    ("q_d", seq(F32)),
    ("dq_d", seq(F32)),
    ("ddq_d", seq(F32)),
    ("dq_max", seq(F32)),
    ("ddq_max", seq(F32)),
    ("friction_comp_scale", F32),
    ("disable_gravity_comp", BOOL),
    ("disable_soft_limits", BOOL),
)
CARTESIAN_COMMAND = Rec(
    "vyr_msg",
    "CartesianCommand",
    ("pose_d", arr(F32, 7)),
    ("wrench_d", arr(F32, 6)),
    ("twist_d", arr(F32, 6)),
    ("acc_d", arr(F32, 6)),
    ("max_linear_vel", F32),
    ("max_angular_vel", F32),
    ("max_linear_acc", F32),
    ("max_angular_acc", F32),
)
MOTION_COMMANDS = Rec(
    "vyr_msg",
    "MotionCommands",
    ("stamp", U64),
    ("joint_groups", seq(U16)),
    ("joint_commands", seq(JOINT_COMMAND)),
    ("cartesian_commands", seq(CARTESIAN_COMMAND)),
    ("waypoint_commands", seq(seq(CARTESIAN_COMMAND))),
)

QEL_REQUEST = Rec("qel_msg", "RPCRequest", ("op_code", U16), ("joint_groups", seq(U16)))
QEL_REPLY = Rec(
    "qel_msg",
    "RPCReply",
    ("op_code", U16),
    ("success", BOOL),
    ("joint_groups", seq(U16)),
    ("int_container", seq(I32)),
    ("string_container", seq(STR)),
    ("float_container", seq(F32)),
    ("float2d_container", seq(seq(F32))),
)
FT_SENSOR = Rec("qel_msg", "FtSensorData", ("raw", arr(F32, 6)))
CARTESIAN_DATA = Rec(
    "qel_msg",
    "CartesianData",
    ("flange_pose", arr(F32, 7)),
    ("tcp_pose", arr(F32, 7)),
    ("tcp_twist", arr(F32, 6)),
    ("tcp_wrench_local", arr(F32, 6)),
    ("reserved_wrench", arr(F32, 6)),
    ("raw_tcp_wrench_local", arr(F32, 6)),
    ("ft_sensor", FT_SENSOR),
)
BASIC_STREAM = Rec(
    "qel_msg",
    "AllBasicStreamData",
    ("system_state", U16),
    ("safety_state", I16),
    ("estop_released", BOOL),
    ("enabling_device_on", BOOL),
    ("safety_inputs", arr(BOOL, 8)),
    ("digital_inputs", arr(BOOL, 20)),
    ("digital_outputs", arr(BOOL, 20)),
    ("joint_groups", seq(U16)),
    ("q", seq(F32)),
    ("theta", seq(F32)),
    ("dq", seq(F32)),
    ("dtheta", seq(F32)),
    ("tau", seq(F32)),
    ("tau_dot", seq(F32)),
    ("tau_ext", seq(F32)),
    ("tau_interact", seq(F32)),
    ("temperature", seq(F32)),
    ("multi_contact_forces", seq(arr(F32, 3))),
    ("multi_contact_positions", seq(arr(F32, 3))),
    ("cartesian_data", seq(CARTESIAN_DATA)),
    ("timestamp_sec", I32),
    ("timestamp_nanosec", U32),
)
DESIRED_CARTESIAN = Rec(
    "qel_msg",
    "DesiredCartesianData",
    ("tcp_pose_d", arr(F32, 7)),
    ("tcp_twist_d", arr(F32, 6)),
    ("tcp_wrench_d", arr(F32, 6)),
)
EXTRA_STREAM = Rec(
    "qel_msg",
    "AllExtraStreamData",
    ("joint_groups", seq(U16)),
    ("q_d", seq(F32)),
    ("dq_d", seq(F32)),
    ("tau_d", seq(F32)),
    ("cartesian_data", seq(DESIRED_CARTESIAN)),
)
EVENT_LOG = Rec(
    "qel_msg",
    "EventLog",
    ("level", U16),
    ("id", I32),
    ("description", STR),
    ("consequences", STR),
    ("probable_causes", STR),
    ("recommended_actions", STR),
)
HEARTBEAT = Rec("std_msg", "Bool", ("data", BOOL))

# ---- an independent decoder ------------------------------------------------------------------

_STRUCT = {U8: "<B", U16: "<H", I16: "<h", I32: "<i", U32: "<I", U64: "<Q", F32: "<f"}


class WireError(ValueError):
    pass


class WireReader:
    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise WireError(
                f"{n} bytes wanted at offset {self.pos} of {len(self.data)}"
            )
        chunk = self.data[self.pos : self.pos + n]
        self.pos += n
        return chunk

    def length(self):
        """An unsigned LEB128 integer."""
        value, shift = 0, 0
        while True:
            byte = self.take(1)[0]
            value |= (byte & 0x7F) << shift
            if byte < 0x80:
                return value
            shift += 7

    def read(self, t):
        if isinstance(t, Rec):
            return {name: self.read(ft) for name, ft in t.fields}
        if t == BOOL:
            byte = self.take(1)[0]
            if byte > 1:
                raise WireError(f"bool byte {byte} at offset {self.pos - 1}")
            return byte == 1
        if t == STR:
            raw = self.take(self.length())
            try:
                return raw.decode("utf-8")
            except UnicodeDecodeError as e:
                raise WireError(str(e)) from None
        if t in _STRUCT:
            fmt = _STRUCT[t]
            return struct.unpack(fmt, self.take(struct.calcsize(fmt)))[0]
        if t[0] == "seq":
            return [self.read(t[1]) for _ in range(self.length())]
        n = self.length()
        if n != t[2]:
            raise WireError(f"fixed array of {t[2]} declares {n} items")
        return [self.read(t[1]) for _ in range(n)]


def wire_decode(rec, data):
    reader = WireReader(data)
    value = reader.read(rec)
    if reader.pos != len(reader.data):
        raise WireError(f"{len(reader.data) - reader.pos} bytes left after {rec}")
    return value


# ---- values: plain dicts, upstream's tuples and our bound records ----------------------------

_UPSTREAM = {
    U8: zx.UInt8,
    U16: zx.UInt16,
    I16: zx.Int16,
    I32: zx.Int32,
    U32: zx.UInt32,
    U64: zx.UInt64,
    F32: zx.Float32,
    BOOL: bool,
    STR: str,
}


def upstream_value(t, v):
    """The value as upstream's serializer takes it: records as tuples, widths made explicit."""
    if isinstance(t, Rec):
        return tuple(upstream_value(ft, v[name]) for name, ft in t.fields)
    if isinstance(t, tuple):
        return [upstream_value(t[1], item) for item in v]
    return _UPSTREAM[t](v)


def upstream_bytes(rec, value):
    return zx.z_serialize(upstream_value(rec, value)).to_bytes()


def to_ours(t, v):
    if isinstance(t, Rec):
        obj = t.cls()
        for name, ft in t.fields:
            setattr(obj, name, to_ours(ft, v[name]))
        return obj
    if isinstance(t, tuple):
        return [to_ours(t[1], item) for item in v]
    return v


def from_ours(t, obj):
    if isinstance(t, Rec):
        return {name: from_ours(ft, getattr(obj, name)) for name, ft in t.fields}
    if isinstance(t, tuple):
        return [from_ours(t[1], item) for item in obj]
    return obj


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def as_sent(t, v):
    """The value as it reads back after the trip: every float narrowed to 32 bits."""
    if isinstance(t, Rec):
        return {name: as_sent(ft, v[name]) for name, ft in t.fields}
    if isinstance(t, tuple):
        return [as_sent(t[1], item) for item in v]
    return f32(v) if t == F32 else v


def default(t):
    if isinstance(t, Rec):
        return {name: default(ft) for name, ft in t.fields}
    if isinstance(t, tuple):
        return [] if t[0] == "seq" else [default(t[1]) for _ in range(t[2])]
    return {BOOL: False, STR: "", F32: 0.0}.get(t, 0)


def filled(rec, **fields):
    unknown = set(fields) - {name for name, _ in rec.fields}
    assert not unknown, f"{rec} has no field {unknown}"
    return {**default(rec), **fields}


def ramp(n, start, step=0.25):
    return [start + i * step for i in range(n)]


# ---- sample messages ---------------------------------------------------------------------------

TOOL_SAMPLE = filled(
    TOOL_INFO,
    name="Greifer-2F Ü",
    mass=1.25,
    CoM=[0.0, 0.01, 0.1],
    inertia=[0.01, 0.02, 0.03, 1e-4, -2e-4, 3e-4],
    tcp_location=[0.0, 0.0, 0.2, 0.7071, 0.0, 0.7071, 0.0],
)
VYR_REQUEST_SAMPLE = filled(
    VYR_REQUEST,
    op_code=61,
    joint_groups=[3, 4],
    bool_container=[True, False, True],
    int_container=[-1, 0, 2**31 - 1, -(2**31)],
    float_container=[0.1, -2500.5, 3.0e38],
    string_container=["plan_A", "", "Ünïcødé ✓"],
    byte_container=[i % 256 for i in range(300)],  # a two-byte length
    float2d_container=[ramp(7, 0.1), [], [1.5]],
    tool=TOOL_SAMPLE,
)
VYR_REPLY_SAMPLE = filled(
    VYR_REPLY,
    op_code=0xFFFF,
    success=True,
    joint_groups=[5],
    bool_container=[i % 7 == 0 for i in range(130)],
    int_container=[7, -123456],
    float_container=[-0.0, 1e-30],
    string_container=["x" * 200, "ok"],
    byte_container=[0, 255],
    float2d_container=[[float(i)] for i in range(3)],
    tool=filled(TOOL_INFO, name="Flange", tcp_location=[0, 0, 0, 1, 0, 0, 0]),
)
REALTIME_STATES_SAMPLE = filled(
    REALTIME_STATES,
    busy=True,
    timeliness_failure_count=2**64 - 1,
    mode=3,
    gripper_states=[
        filled(GRIPPER_STATE, width=0.085, force=-20.5, is_moving=True),
        filled(GRIPPER_STATE, width=0.0, force=3.0),
    ],
)


def cartesian_command(k, limits=False):
    command = dict(
        pose_d=[0.4 + k, -0.1, 0.55, 0.0, 1.0, 0.0, 0.0],
        wrench_d=[0.0, 0.0, -5.0 * k, 0.0, 0.0, 0.25],
        twist_d=ramp(6, 0.01 * k, 0.01),
        acc_d=ramp(6, -0.3, 0.1),
    )
    if limits:
        command.update(
            max_linear_vel=0.5,
            max_angular_vel=1.0,
            max_linear_acc=2.0,
            max_angular_acc=3.5,
        )
    return filled(CARTESIAN_COMMAND, **command)


TWO_ARM_TORQUE = filled(
    MOTION_COMMANDS,
    stamp=1001,
    joint_groups=[3, 4],
    joint_commands=[
        filled(
            JOINT_COMMAND,
            tau_d=ramp(7, -1.5),
            friction_comp_scale=80.0,
            disable_soft_limits=True,
        ),
        filled(
            JOINT_COMMAND,
            tau_d=ramp(7, 0.5, -0.125),
            friction_comp_scale=100.0,
            disable_gravity_comp=True,
        ),
    ],
)
CARTESIAN_STREAM = filled(
    MOTION_COMMANDS,
    stamp=2**40 + 3,
    joint_groups=[3],
    cartesian_commands=[cartesian_command(1)],
)
MIXED_MOTION = filled(
    MOTION_COMMANDS,
    stamp=77,
    joint_groups=[3, 4],
    joint_commands=[
        filled(
            JOINT_COMMAND,
            tau_d=[0.0] * 7,
            q_d=ramp(7, -0.5),
            dq_d=ramp(7, 0.0, 0.01),
            ddq_d=ramp(7, 0.0, -0.01),
            dq_max=[1.5] * 7,
            ddq_max=[3.0] * 7,
        )
    ],
    cartesian_commands=[cartesian_command(0, limits=True)],
    waypoint_commands=[[cartesian_command(1, True), cartesian_command(2, True)], []],
)
QEL_REQUEST_SAMPLE = filled(QEL_REQUEST, op_code=12, joint_groups=[3, 4, 5])
QEL_REPLY_SAMPLE = filled(
    QEL_REPLY,
    op_code=12,
    success=True,
    joint_groups=[3, 4],
    int_container=[7, -7],
    string_container=["v2.1.0", "Olvar-LL"],
    float_container=[0.5, 2.75],
    float2d_container=[ramp(7, -2.9, 0.5), ramp(7, 2.9, -0.5)],
)


def cartesian_data(k):
    return filled(
        CARTESIAN_DATA,
        flange_pose=[0.3, 0.2 * k, 0.6, 1.0, 0.0, 0.0, 0.0],
        tcp_pose=[0.3, 0.2 * k, 0.45, 0.0, 0.0, 1.0, 0.0],
        tcp_twist=ramp(6, 0.1 * k),
        tcp_wrench_local=ramp(6, -1.0 * k),
        reserved_wrench=ramp(6, 9.0),
        raw_tcp_wrench_local=ramp(6, -1.5 * k),
        ft_sensor=filled(FT_SENSOR, raw=ramp(6, 10.0 * k, 0.5)),
    )


BASIC_STREAM_SAMPLE = filled(
    BASIC_STREAM,
    system_state=7,
    safety_state=-1,
    estop_released=True,
    safety_inputs=[i % 3 == 0 for i in range(8)],
    digital_inputs=[i % 2 == 0 for i in range(20)],
    digital_outputs=[i in (0, 19) for i in range(20)],
    joint_groups=[3, 4],
    q=ramp(14, -1.0, 0.125),
    theta=ramp(14, -1.01, 0.125),
    dq=ramp(14, 0.0, 0.01),
    dtheta=ramp(14, 0.0, 0.02),
    tau=ramp(14, -7.0, 1.0),
    tau_dot=ramp(14, 0.5, -0.05),
    tau_ext=ramp(14, 0.1, 0.1),
    tau_interact=ramp(14, -0.1, -0.1),
    temperature=ramp(14, 30.0, 0.5),
    multi_contact_forces=[[1.0, 2.0, 3.0], [-4.0, 5.0, -6.0]],
    multi_contact_positions=[[0.1, 0.2, 0.3]],
    cartesian_data=[cartesian_data(1), cartesian_data(2)],
    timestamp_sec=1_700_000_123,
    timestamp_nanosec=999_999_999,
)
EXTRA_STREAM_SAMPLE = filled(
    EXTRA_STREAM,
    joint_groups=[3, 4],
    q_d=ramp(14, -1.0, 0.125),
    dq_d=ramp(14, 0.05, 0.0),
    tau_d=ramp(14, 3.0, -0.5),
    cartesian_data=[
        filled(
            DESIRED_CARTESIAN,
            tcp_pose_d=[0.3, 0.2 * k, 0.45, 0.0, 0.0, 1.0, 0.0],
            tcp_twist_d=ramp(6, 0.01 * k),
            tcp_wrench_d=ramp(6, -2.0 * k),
        )
        for k in (1, 2)
    ],
)
EVENT_LOG_SAMPLE = filled(
    EVENT_LOG,
    level=2,
    id=100042,
    description="Gelenk 3: Übertemperatur — 关节过热",
    consequences="Роботът спря",
    probable_causes="Lüfter blockiert 🌀",
    recommended_actions="Abkühlen lassen, dann quittieren",
)

SAMPLES = [
    pytest.param(VYR_REQUEST, VYR_REQUEST_SAMPLE, id="vyr-request"),
    pytest.param(VYR_REPLY, VYR_REPLY_SAMPLE, id="vyr-reply"),
    pytest.param(REALTIME_STATES, REALTIME_STATES_SAMPLE, id="realtime-states"),
    pytest.param(MOTION_COMMANDS, MIXED_MOTION, id="motion-joint-cartesian-waypoints"),
    pytest.param(QEL_REQUEST, QEL_REQUEST_SAMPLE, id="qel-request"),
    pytest.param(QEL_REPLY, QEL_REPLY_SAMPLE, id="qel-reply"),
    pytest.param(BASIC_STREAM, BASIC_STREAM_SAMPLE, id="basic-stream"),
    pytest.param(EXTRA_STREAM, EXTRA_STREAM_SAMPLE, id="extra-stream"),
    pytest.param(EVENT_LOG, EVENT_LOG_SAMPLE, id="event-log"),
    pytest.param(HEARTBEAT, {"data": True}, id="heartbeat"),
]


def same_bytes(ours, upstream):
    """Equality, with the first differing offset in the failure message."""
    if ours == upstream:
        return True
    at = next(
        (i for i, (a, b) in enumerate(zip(ours, upstream)) if a != b),
        min(len(ours), len(upstream)),
    )
    lo = max(0, at - 8)
    pytest.fail(
        f"byte {at} differs (ours {len(ours)} bytes, upstream {len(upstream)}): "
        f"ours ...{ours[lo:at + 8].hex(' ')} upstream ...{upstream[lo:at + 8].hex(' ')}"
    )


# ---- serializers ---------------------------------------------------------------------------------


@pytest.mark.parametrize("rec, value", SAMPLES)
def test_upstream_serializer_and_ours_write_and_read_the_same_bytes(rec, value):
    upstream = upstream_bytes(rec, value)
    expected = as_sent(rec, value)
    # The layouts above describe what upstream writes ...
    assert wire_decode(rec, upstream) == expected
    # ... our deserializer reads it ...
    assert from_ours(rec, rec.cls.decode(upstream)) == expected
    # ... and our serializer writes exactly the same bytes.
    assert same_bytes(to_ours(rec, value).encode(), upstream)


def _with_tool_com(com):
    return upstream_bytes(
        VYR_REPLY, {**VYR_REPLY_SAMPLE, "tool": {**TOOL_SAMPLE, "CoM": com}}
    )


def _with_digital_inputs(n):
    return upstream_bytes(
        BASIC_STREAM, {**BASIC_STREAM_SAMPLE, "digital_inputs": [True] * n}
    )


def _event_with_raw_description(raw):
    fields = upstream_value(EVENT_LOG, EVENT_LOG_SAMPLE)
    return zx.z_serialize(fields[:2] + (raw,) + fields[3:]).to_bytes()


INCORRECT_SIZE = "Incorrect sequence size(Error code: -7 )"
TRAILING = (
    "Payload contains more bytes than required for deserialization(Error code: -7 )"
)
FAILURE = "Deserialization failure(Error code: -7 )"
LENGTH_FAILURE = (
    "Deserialization failure:: Failed to read sequence length(Error code: -7 )"
)


def upstream_type(t):
    """The type that upstream's deserializer reads `t` as (it knows no fixed arrays)."""
    if isinstance(t, Rec):
        return tuple[tuple(upstream_type(ft) for _, ft in t.fields)]
    if isinstance(t, tuple):
        return list[upstream_type(t[1])]
    return _UPSTREAM[t]


# upstream_too: upstream's deserializer refuses the payload as well. It cannot see a fixed array
# of the wrong length, and it does not check for bytes left over.
@pytest.mark.parametrize(
    "rec, payload, message, upstream_too",
    [
        pytest.param(
            VYR_REPLY, _with_tool_com([1.0] * 4), INCORRECT_SIZE, False, id="CoM-of-4"
        ),
        pytest.param(
            BASIC_STREAM,
            _with_digital_inputs(18),
            INCORRECT_SIZE,
            False,
            id="18-digital-inputs",
        ),
        pytest.param(
            VYR_REQUEST,
            upstream_bytes(VYR_REQUEST, VYR_REQUEST_SAMPLE) + b"\x00",
            TRAILING,
            False,
            id="trailing-byte",
        ),
        pytest.param(
            REALTIME_STATES,
            upstream_bytes(REALTIME_STATES, REALTIME_STATES_SAMPLE)[:-1],
            FAILURE,
            True,
            id="truncated",
        ),
        pytest.param(
            QEL_REQUEST, b"\x0c\x00\x80", LENGTH_FAILURE, True, id="cut-length"
        ),
        pytest.param(
            HEARTBEAT,
            zx.z_serialize(zx.UInt8(2)).to_bytes(),
            FAILURE,
            True,
            id="bool-byte-2",
        ),
        pytest.param(
            EVENT_LOG,
            _event_with_raw_description(b"\xc3\x28"),
            FAILURE,
            True,
            id="invalid-utf8",
        ),
    ],
)
def test_our_deserializer_rejects_malformed_payloads(
    rec, payload, message, upstream_too
):
    with pytest.raises(WireError):
        wire_decode(rec, payload)
    with pytest.raises(mt.ZException) as raised:
        rec.cls.decode(payload)
    assert str(raised.value) == message
    if upstream_too:
        with pytest.raises(zx.ZDeserializeError):
            zx.z_deserialize(upstream_type(rec), zenoh.ZBytes(payload))


# ---- sessions ----------------------------------------------------------------------------------

_SCOUTING_OFF = (
    "scouting: { multicast: { enabled: false }, gossip: { enabled: false } }"
)


def listener_config(port):
    return f'{{ mode: "peer", listen: {{ endpoints: ["tcp/127.0.0.1:{port}"] }}, {_SCOUTING_OFF} }}'


def connector_config(port):
    return (
        f'{{ mode: "peer", listen: {{ endpoints: [] }}, '
        f'connect: {{ endpoints: ["tcp/127.0.0.1:{port}"] }}, {_SCOUTING_OFF} }}'
    )


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture(scope="module")
def upstream_port():
    return free_port()


@pytest.fixture(scope="module")
def upstream(upstream_port):
    session = zenoh.open(zenoh.Config.from_json5(listener_config(upstream_port)))
    yield session
    session.close()


@pytest.fixture(scope="module")
def ours(upstream, upstream_port):
    session = mt.Session(connector_config(upstream_port))
    yield session
    session.close()


@pytest.fixture
def cleanup():
    with contextlib.ExitStack() as stack:
        yield stack


@pytest.fixture
def robot():
    """A fresh serial number, so that no test sees another test's traffic."""
    return f"SN-{uuid.uuid4().hex[:12]}"


# zenoh learns of remote subscribers and queryables asynchronously: attempts are repeated until
# they succeed. The deadline only bounds a broken run.
DEADLINE_S = 30.0


def retry_until(attempt, what):
    end = time.monotonic() + DEADLINE_S
    while True:
        result = attempt()
        if result is not None:
            return result
        if time.monotonic() > end:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.02)


# ---- our publishers, upstream's subscriber -----------------------------------------------------


@pytest.mark.parametrize(
    "publisher, rec, value, priority, congestion_control",
    [
        pytest.param(
            mt.MotionCommandsPublisher,
            MOTION_COMMANDS,
            TWO_ARM_TORQUE,
            zenoh.Priority.REAL_TIME,
            zenoh.CongestionControl.DROP,
            id="two-arm-torque",
        ),
        pytest.param(
            mt.MotionCommandsPublisher,
            MOTION_COMMANDS,
            CARTESIAN_STREAM,
            zenoh.Priority.REAL_TIME,
            zenoh.CongestionControl.DROP,
            id="cartesian",
        ),
        pytest.param(
            mt.BoolPublisher,
            HEARTBEAT,
            {"data": True},
            zenoh.Priority.DATA,
            zenoh.CongestionControl.BLOCK,
            id="heartbeat",
        ),
    ],
)
def test_upstream_subscriber_decodes_what_we_publish(
    upstream, ours, cleanup, robot, publisher, rec, value, priority, congestion_control
):
    key = f"korvo/vyr/{robot}/out"
    samples = queue.Queue()
    subscriber = upstream.declare_subscriber(key, samples.put)
    cleanup.callback(subscriber.undeclare)
    pub = cleanup.enter_context(contextlib.closing(publisher(ours, key)))
    message = to_ours(rec, value)

    def attempt():
        assert pub.publish(message)
        try:
            return samples.get(timeout=0.05)
        except queue.Empty:
            return None

    sample = retry_until(attempt, "the upstream subscriber")
    assert str(sample.key_expr) == key
    assert str(sample.encoding) == "zenoh/serialized"
    assert sample.priority == priority
    assert sample.congestion_control == congestion_control
    assert not sample.express
    assert wire_decode(rec, sample.payload.to_bytes()) == as_sent(rec, value)


# ---- our RPC clients, upstream's queryable -------------------------------------------------------


def serve(session, key, cleanup, request_rec, answer):
    """An upstream queryable on `key`: decodes every request independently into the returned
    list (with the query's encoding), then calls answer(query). Failures are listed as text, so
    that no traceback keeps the query (and its final response) alive."""
    seen = []

    def on_query(query):
        try:
            payload = query.payload.to_bytes()
            seen.append((str(query.encoding), wire_decode(request_rec, payload)))
            answer(query)
        except Exception as e:  # noqa: BLE001 - reported to the test
            seen.append(repr(e))

    queryable = session.declare_queryable(key, on_query)
    cleanup.callback(queryable.undeclare)
    return seen


def reply_with(payload):
    def answer(query):
        query.reply(query.key_expr, payload, encoding=zenoh.Encoding.ZENOH_SERIALIZED)

    return answer


RPC_PAIRS = [
    pytest.param(
        mt.VyrRpcClient,
        VYR_REQUEST,
        VYR_REQUEST_SAMPLE,
        VYR_REPLY,
        VYR_REPLY_SAMPLE,
        id="vyr",
    ),
    pytest.param(
        mt.QelRpcClient,
        QEL_REQUEST,
        QEL_REQUEST_SAMPLE,
        QEL_REPLY,
        QEL_REPLY_SAMPLE,
        id="qel",
    ),
]


@pytest.mark.parametrize(
    "client_cls, request_rec, request_value, reply_rec, reply_value", RPC_PAIRS
)
def test_upstream_queryable_answers_our_rpc_client(
    upstream,
    ours,
    cleanup,
    robot,
    client_cls,
    request_rec,
    request_value,
    reply_rec,
    reply_value,
):
    key = f"korvo/vyr/{robot}/rpc"
    payload = upstream_bytes(reply_rec, reply_value)
    seen = serve(upstream, key, cleanup, request_rec, reply_with(payload))
    client = cleanup.enter_context(contextlib.closing(client_cls(ours, key)))
    request = to_ours(request_rec, request_value)

    reply = retry_until(lambda: client.call(request, 2.0), "the queryable")
    assert from_ours(reply_rec, reply) == as_sent(reply_rec, reply_value)
    assert seen
    sent = ("zenoh/serialized", as_sent(request_rec, request_value))
    assert all(entry == sent for entry in seen), seen


@pytest.mark.parametrize(
    "answer",
    [
        pytest.param(
            reply_with(upstream_bytes(VYR_REPLY, VYR_REPLY_SAMPLE) + b"\x00"),
            id="trailing-byte",
        ),
        pytest.param(
            reply_with(upstream_bytes(VYR_REPLY, VYR_REPLY_SAMPLE)[:-1]), id="truncated"
        ),
        pytest.param(reply_with(_with_tool_com([0.0] * 4)), id="CoM-of-4"),
        pytest.param(lambda query: query.reply_err(b"refused"), id="error-reply"),
    ],
)
def test_our_rpc_client_returns_none_for_a_reply_it_cannot_use(
    upstream, ours, cleanup, robot, answer
):
    key = f"korvo/vyr/{robot}/rpc"
    good = reply_with(upstream_bytes(VYR_REPLY, VYR_REPLY_SAMPLE))
    current = [answer]
    seen = serve(upstream, key, cleanup, VYR_REQUEST, lambda query: current[-1](query))
    client = cleanup.enter_context(contextlib.closing(mt.VyrRpcClient(ours, key)))
    request = to_ours(VYR_REQUEST, VYR_REQUEST_SAMPLE)

    # Every call returns only once zenoh has finished its query, so a call after which the
    # queryable has answered saw that answer.
    results = []

    def attempt():
        results.append(client.call(request, 2.0))
        return True if seen else None

    retry_until(attempt, "the queryable")
    assert results == [None] * len(results)
    assert all(not isinstance(entry, str) for entry in seen), seen

    # The same client still takes a good reply afterwards.
    current.append(good)
    got = client.call(request, 2.0)
    assert got is not None
    assert from_ours(VYR_REPLY, got) == as_sent(VYR_REPLY, VYR_REPLY_SAMPLE)


# ---- upstream's publisher, our subscriber ------------------------------------------------------


def test_our_subscriber_reads_upstream_states_and_drops_a_malformed_sample(
    upstream, ours, cleanup, robot
):
    key = f"korvo/vyr/{robot}/states"
    subscriber = cleanup.enter_context(
        contextlib.closing(mt.RealtimeStatesSubscriber(ours, key))
    )
    first = filled(REALTIME_STATES, mode=1, timeliness_failure_count=1)
    bad = {**REALTIME_STATES_SAMPLE, "mode": 2}
    last = REALTIME_STATES_SAMPLE

    def put(payload):
        upstream.put(
            key,
            payload,
            encoding=zenoh.Encoding.ZENOH_SERIALIZED,
            congestion_control=zenoh.CongestionControl.BLOCK,
        )

    def attempt():
        put(upstream_bytes(REALTIME_STATES, first))
        return True if subscriber.wait_for(1, 0.05) else None

    retry_until(attempt, "our subscriber")
    # One link, one priority: the samples arrive in the order they were put.
    put(upstream_bytes(REALTIME_STATES, bad) + b"\x00")
    put(upstream_bytes(REALTIME_STATES, last))

    def last_arrived():
        received = [from_ours(REALTIME_STATES, r) for r in subscriber.received()]
        return received if received[-1] == as_sent(REALTIME_STATES, last) else None

    received = retry_until(last_arrived, "the last sample")
    assert received[:-1] == [as_sent(REALTIME_STATES, first)] * (len(received) - 1)
