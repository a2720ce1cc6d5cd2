"""The module face of the data model: enums, constants, name tables, records and conversions."""

import datetime
import pickle

import pytest

import korvovyr as kv


def test_module_doc():
    assert kv.__doc__ == "Korvo Robotic Development Kit (VYR)"


REGISTRATION_ORDER = [
    "kCartDoF",
    "kSerialJointDoF",
    "kPoseSize",
    "kIOPorts",
    "kMaxExtAxes",
    "ProductModel",
    "kProductModelNames",
    "JointGroup",
    "kJointGroupNames",
    "OperationalStatus",
    "kOpStatusNames",
    "CoordType",
    "SyncMotionMode",
    "RobotEvent_Level",
    "RobotEvent",
    "RobotInfo",
    "RobotStates",
    "RobotActions",
    "PlanInfo",
    "JPos",
    "Coord",
    "PrimitiveArgs",
    "PrimitiveStates",
    "RtJointTorqueCmd",
    "RtJointPositionCmd",
    "NrtJointPositionCmd",
    "RtCartesianCmd",
    "NrtCartesianCmd",
    "NrtCartesianMultiWaypointCmd",
    "GripperParams",
    "GripperStates",
    "Mode",
    "kModeNames",
    "IKParams",
    "IKResult",
    "Robot",
    "kSafetyIOPorts",
    "SafetyLimits",
    "ToolParams",
]


def test_module_contents_are_registered_in_order():
    # The module dict keeps insertion order; exported members interleave with the types.
    registered = [name for name in vars(kv) if name in REGISTRATION_ORDER]
    assert registered == REGISTRATION_ORDER


# ---- Enumerations -------------------------------------------------------------------------------

ENUM_VALUES = {
    kv.Mode: {
        "UNKNOWN": 0,
        "IDLE": 1,
        "RT_JOINT_TORQUE": 2,
        "RT_JOINT_IMPEDANCE": 3,
        "NRT_JOINT_IMPEDANCE": 4,
        "RT_JOINT_POSITION": 5,
        "NRT_JOINT_POSITION": 6,
        "NRT_PLAN_EXECUTION": 7,
        "NRT_PRIMITIVE_EXECUTION": 8,
        "RT_CARTESIAN_MOTION_FORCE": 9,
        "NRT_CARTESIAN_MOTION_FORCE": 10,
        "NRT_SUPER_PRIMITIVE": 11,
    },
    kv.JointGroup: {
        "UNKNOWN": -1,
        "ALL": 0,
        "ARMS": 2,
        "ARM_1": 3,
        "ARM_2": 4,
        "EXT_AXIS": 5,
        "FIRST": 0,
        "LAST": 5,
    },
    kv.ProductModel: {
        "UNKNOWN": 0,
        "Olvar_L": 1,
        "Olvar_LL": 2,
        "TAVU_Core": 3,
        "TAVU_Plus": 4,
        "TAVU_Ultra": 5,
    },
    kv.OperationalStatus: {
        "UNKNOWN": 0,
        "READY": 1,
        "BOOTING": 2,
        "ESTOP_NOT_RELEASED": 3,
        "NOT_SERVO_ON": 4,
        "RELEASING_BRAKE": 5,
        "MINOR_FAULT": 6,
        "CRITICAL_FAULT": 7,
        "IN_REDUCED_STATE": 8,
        "IN_RECOVERY_STATE": 9,
        "IN_MANUAL_MODE": 10,
        "IN_AUTO_MODE": 11,
    },
    kv.CoordType: {"WORLD": 0, "TCP": 1},
    kv.SyncMotionMode: {"DISABLE": 0, "ARM1_TCP": 1, "ARM2_TCP": 2, "POSITIONER": 3},
    kv.RobotEvent_Level: {
        "UNKNOWN": 0,
        "INFO": 1,
        "WARNING": 2,
        "ERROR": 3,
        "CRITICAL": 4,
    },
}


@pytest.mark.parametrize("enum", list(ENUM_VALUES), ids=lambda e: e.__name__)
def test_enum_members_and_values(enum):
    members = {name: int(member) for name, member in enum.__members__.items()}
    assert members == ENUM_VALUES[enum]


@pytest.mark.parametrize(
    "enum, doc",
    [
        (
            kv.Mode,
            "Robot control modes. The robot needs to be switched into the correct control mode "
            "before\nthe corresponding commands can be sent.",
        ),
        (kv.JointGroup, "All possible joint groups of the robot."),
        (kv.ProductModel, "All supported product models of the robot."),
        (
            kv.OperationalStatus,
            "All possible operational statuses of the robot. Except for the first two, the other "
            "enumerators indicate the cause of the robot being not ready to operate.",
        ),
        (kv.CoordType, "Type of commonly-used reference coordinates."),
        (kv.SyncMotionMode, "Modes for synchronous motions."),
    ],
    ids=lambda v: v.__name__ if isinstance(v, type) else "doc",
)
def test_enum_type_doc(enum, doc):
    assert enum.__doc__.startswith(doc)


@pytest.mark.parametrize(
    "enum, member, description",
    [
        (
            kv.Mode,
            "RT_JOINT_TORQUE",
            "Run real-time joint torque control to track continuous commands @1kHz.\n"
            "Note: Real-time (RT) mode.",
        ),
        (
            kv.Mode,
            "NRT_JOINT_IMPEDANCE",
            "Run non-real-time joint impedance control to track discrete commands (smoothened by "
            "internal\nmotion generator).\nNote: Non-real-time (NRT) mode.",
        ),
        (
            kv.Mode,
            "NRT_PRIMITIVE_EXECUTION",
            "Execute robot primitives (unit skills).\nNote: Non-real-time (NRT) mode.\n",
        ),
        (kv.JointGroup, "UNKNOWN", "Unknown group"),
        (
            kv.JointGroup,
            "ARMS",
            "The dual arms as a whole, only applicable to dual-arm robots",
        ),
        (
            kv.ProductModel,
            "TAVU_Core",
            "TAVU-Core: Dual Olvar-L with fixed-mounting upper body",
        ),
        (
            kv.OperationalStatus,
            "NOT_SERVO_ON",
            "Not servo on, call ServoOn() to send the signal.",
        ),
        (kv.CoordType, "TCP", "TCP frame (move with the robot's end effector)."),
        (kv.SyncMotionMode, "DISABLE", "Don't sync with any target"),
        (kv.SyncMotionMode, "ARM1_TCP", "Sync with arm1 tcp"),
        (kv.SyncMotionMode, "ARM2_TCP", "sync with arm2 tcp"),
        (kv.SyncMotionMode, "POSITIONER", "sync with positioner"),
        (kv.RobotEvent_Level, "CRITICAL", "Critical error event"),
    ],
)
def test_enum_member_description(enum, member, description):
    assert f"\n\n  {member} : {description}" in enum.__doc__


def test_members_without_description():
    # The unknown product model and the two joint group aliases carry no text.
    assert "\n\n  UNKNOWN\n\n  Olvar_L : " in kv.ProductModel.__doc__
    assert kv.JointGroup.__doc__.endswith("\n\n  FIRST\n\n  LAST")


@pytest.mark.parametrize(
    "name, member",
    [
        ("UNKNOWN", kv.Mode.UNKNOWN),
        ("IDLE", kv.Mode.IDLE),
        ("INFO", kv.RobotEvent_Level.INFO),
        ("WARNING", kv.RobotEvent_Level.WARNING),
        ("ERROR", kv.RobotEvent_Level.ERROR),
        ("CRITICAL", kv.RobotEvent_Level.CRITICAL),
        ("ARM_1", kv.JointGroup.ARM_1),
        ("LAST", kv.JointGroup.LAST),
        ("Olvar_LL", kv.ProductModel.Olvar_LL),
        ("READY", kv.OperationalStatus.READY),
        ("TCP", kv.CoordType.TCP),
        ("POSITIONER", kv.SyncMotionMode.POSITIONER),
    ],
)
def test_members_exported_to_module_last_one_wins(name, member):
    assert getattr(kv, name) is member


def test_robot_event_level_is_the_nested_enum():
    assert kv.RobotEvent.Level is kv.RobotEvent_Level


def test_plain_enum_compares_with_int_scoped_enums_do_not():
    assert kv.RobotEvent_Level.INFO == 1
    assert kv.RobotEvent_Level.INFO != 2
    assert not (kv.Mode.IDLE == 1)
    assert kv.Mode.IDLE != 1
    assert kv.Mode.UNKNOWN != kv.ProductModel.UNKNOWN
    assert kv.Mode.IDLE == kv.Mode.IDLE


def test_enum_conversions_and_aliases():
    assert kv.Mode(1) == kv.Mode.IDLE
    assert int(kv.JointGroup.UNKNOWN) == -1
    assert kv.JointGroup.FIRST == kv.JointGroup.ALL
    assert kv.JointGroup.LAST == kv.JointGroup.EXT_AXIS
    assert kv.Mode.NRT_PLAN_EXECUTION.value == 7
    assert kv.Mode.NRT_PLAN_EXECUTION.name == "NRT_PLAN_EXECUTION"
    assert hash(kv.Mode.IDLE) == hash(kv.Mode(1))
    assert pickle.loads(pickle.dumps(kv.JointGroup.ARM_2)) == kv.JointGroup.ARM_2


def test_enums_have_no_ordering():
    with pytest.raises(TypeError):
        kv.Mode.IDLE < kv.Mode.RT_JOINT_TORQUE  # noqa: B015


@pytest.mark.parametrize(
    "member, text_repr, text_str",
    [
        (kv.Mode.IDLE, "<Mode.IDLE: 1>", "Mode.IDLE"),
        (kv.JointGroup.UNKNOWN, "<JointGroup.UNKNOWN: -1>", "JointGroup.UNKNOWN"),
        (
            kv.RobotEvent_Level.INFO,
            "<RobotEvent_Level.INFO: 1>",
            "RobotEvent_Level.INFO",
        ),
        (
            kv.ProductModel.TAVU_Core,
            "<ProductModel.TAVU_Core: 3>",
            "ProductModel.TAVU_Core",
        ),
    ],
)
def test_enum_repr_and_str(member, text_repr, text_str):
    assert repr(member) == text_repr
    assert str(member) == text_str


# ---- Constants and name tables ------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, value",
    [
        ("kCartDoF", 6),
        ("kSerialJointDoF", 7),
        ("kPoseSize", 7),
        ("kIOPorts", 20),
        ("kMaxExtAxes", 6),
        ("kSafetyIOPorts", 8),
    ],
)
def test_size_constants(name, value):
    constant = getattr(kv, name)
    assert type(constant) is int
    assert constant == value


G = kv.JointGroup
OS = kv.OperationalStatus
PM = kv.ProductModel


@pytest.mark.parametrize(
    "table, items",
    [
        (
            kv.kJointGroupNames,
            [
                (G.UNKNOWN, "UNKNOWN"),
                (G.ALL, "ALL"),
                (G.ARMS, "ARMS"),
                (G.ARM_1, "ARM_1"),
                (G.ARM_2, "ARM_2"),
                (G.EXT_AXIS, "EXT_AXIS"),
            ],
        ),
        (
            kv.kProductModelNames,
            [
                (PM.UNKNOWN, "UNKNOWN"),
                (PM.Olvar_L, "Olvar-L"),
                (PM.Olvar_LL, "Olvar-LL"),
                (PM.TAVU_Core, "TAVU-Core"),
                (PM.TAVU_Plus, "TAVU-Plus"),
                (PM.TAVU_Ultra, "TAVU-Ultra"),
            ],
        ),
        (
            kv.kOpStatusNames,
            [
                (OS.UNKNOWN, "Unknown status"),
                (OS.READY, "Ready"),
                (OS.BOOTING, "System booting"),
                (OS.ESTOP_NOT_RELEASED, "E-Stop not released"),
                (OS.NOT_SERVO_ON, "Not servo on"),
                (OS.RELEASING_BRAKE, "Releasing brakes"),
                (OS.MINOR_FAULT, "Minor fault occurred"),
                (OS.CRITICAL_FAULT, "Critical fault occurred"),
                (OS.IN_REDUCED_STATE, "In reduced state"),
                (OS.IN_RECOVERY_STATE, "In recovery state"),
                (OS.IN_MANUAL_MODE, "In Manual mode"),
                (OS.IN_AUTO_MODE, "In regular Auto mode"),
            ],
        ),
        (kv.kModeNames, [(m, m.name) for m in kv.Mode.__members__.values()]),
    ],
    ids=["joint_groups", "product_models", "op_status", "modes"],
)
def test_name_tables_are_dicts_keyed_by_members_in_value_order(table, items):
    assert type(table) is dict
    assert list(table.items()) == items
    for key, (member, _) in zip(table, items):
        assert key is member


def test_mode_names_cover_the_twelve_modes():
    assert len(kv.kModeNames) == 12
    assert kv.kModeNames[kv.Mode.NRT_SUPER_PRIMITIVE] == "NRT_SUPER_PRIMITIVE"


# ---- Records: classes, defaults, constructors ---------------------------------------------------

RECORD_DOCS = {
    "RobotEvent": "Information about a robot event.",
    "RobotInfo": "General information about the connected robot.",
    "RobotStates": "Robot states data in joint and Cartesian space for a joint group.",
    "RobotActions": "Robot actions data in joint and Cartesian space for a joint group.",
    "PlanInfo": "Information of the on-going primitive/plan.",
    "PrimitiveArgs": "Arguments of a primitive command.",
    "PrimitiveStates": "States data of a primitive.",
    "RtJointTorqueCmd": "Commands data for real-time joint torque control.",
    "RtJointPositionCmd": "Commands data for real-time joint position control.",
    "NrtJointPositionCmd": "Commands data for non-real-time joint position control.",
    "RtCartesianCmd": "Commands data for real-time Cartesian motion-force control.",
    "NrtCartesianCmd": "Commands data for non-real-time Cartesian motion-force control.",
    "NrtCartesianMultiWaypointCmd": "Commands data for non-real-time Cartesian multi-waypoint "
    "motion-force control.",
    "GripperParams": "Data structure containing the gripper parameters.",
    "GripperStates": "Data structure containing the gripper states.",
    "IKParams": "Per-joint-group IK input parameters for SolveConstrainedIK().",
    "IKResult": "Result from SolveConstrainedIK().",
    "SafetyLimits": "Data structure containing configurable robot safety limits.",
    "ToolParams": "Data structure containing robot tool parameters.",
}

CUSTOM_CONSTRUCTORS = {
    "JPos",
    "Coord",
    "PrimitiveArgs",
    "RtJointTorqueCmd",
    "RtJointPositionCmd",
    "NrtJointPositionCmd",
    "RtCartesianCmd",
    "NrtCartesianCmd",
    "NrtCartesianMultiWaypointCmd",
}


@pytest.mark.parametrize("name", sorted(RECORD_DOCS))
def test_record_doc_and_repr(name):
    cls = getattr(kv, name)
    assert cls.__doc__ == RECORD_DOCS[name]
    assert repr(cls()) == f"<struct korvo::vyr::{name}>"


@pytest.mark.parametrize("name", sorted(set(RECORD_DOCS) | {"JPos", "Coord"}))
def test_record_constructor_docs(name):
    doc = getattr(kv, name).__init__.__doc__
    assert "Default constructor." in doc
    assert ("Custom constructor." in doc) == (name in CUSTOM_CONSTRUCTORS)


@pytest.mark.parametrize(
    "name, field, doc",
    [
        (
            "RobotStates",
            "q",
            "Joint positions from the link-side encoder (direct measurement); ",
        ),
        ("RobotEvent", "timestamp", "Timestamp (since epoch) of the event"),
        ("RobotInfo", "DoF", "Joint-space degrees of freedom of each joint group"),
        ("JPos", "q_m", "Joint positions of the manipulator, degrees"),
        ("GripperStates", "is_moving", "Whether the gripper fingers are moving"),
    ],
)
def test_field_docs(name, field, doc):
    assert getattr(kv, name).__dict__[field].__doc__.startswith(doc)


Z6 = [0.0] * 6
Z7 = [0.0] * 7


@pytest.mark.parametrize(
    "make, expected",
    [
        (
            kv.RtJointTorqueCmd,
            dict(
                tau_d=[],
                enable_gravity_comp=True,
                enable_soft_limits=True,
                friction_comp_scale=100.0,
            ),
        ),
        (
            kv.NrtCartesianCmd,
            dict(
                pose_d=Z7,
                wrench_d=Z6,
                twist_d=Z6,
                max_linear_vel=0.5,
                max_angular_vel=1.0,
                max_linear_acc=2.0,
                max_angular_acc=5.0,
            ),
        ),
        (
            kv.PrimitiveArgs,
            dict(
                pt_name="",
                input_params={},
                external_axis_control=True,
                sync_motion_mode=kv.SyncMotionMode.DISABLE,
            ),
        ),
        (
            kv.RobotEvent,
            dict(
                level=kv.RobotEvent_Level.UNKNOWN,
                id=0,
                description="",
                recommended_actions="",
            ),
        ),
        (
            kv.RobotInfo,
            dict(
                product_model=kv.ProductModel.UNKNOWN, serial_num="", DoF={}, K_x_nom={}
            ),
        ),
        (
            kv.RobotStates,
            dict(
                timestamp=(0, 0),
                q=[],
                tau_ext=[],
                flange_pose=Z7,
                tcp_wrench=Z6,
                raw_ft_sensor=Z6,
            ),
        ),
        (
            kv.RobotActions,
            dict(timestamp=(0, 0), q_d=[], tcp_pose_d=Z7, tcp_wrench_d=Z6),
        ),
        (kv.PlanInfo, dict(pt_name="", velocity_scale=0.0, waiting_for_step=False)),
        (kv.JPos, dict(q_m=Z7, q_e=Z6)),
        (
            kv.Coord,
            dict(position=[0.0] * 3, ref_frame=["", ""], ref_q_m=Z7, ref_q_e=Z6),
        ),
        (kv.PrimitiveStates, dict(pt_name="", names_and_values={})),
        (kv.NrtCartesianMultiWaypointCmd, dict(waypoints=[])),
        (kv.GripperParams, dict(name="", min_width=0.0, max_force=0.0)),
        (kv.GripperStates, dict(width=0.0, force=0.0, is_moving=False)),
        (kv.IKParams, dict(cartesian_pose=Z7, seed_q=[], free_orientation=False)),
        (kv.IKResult, dict(success=False, solved_q={})),
        (kv.SafetyLimits, dict(q_min={}, dq_max_reduced={})),
        (kv.ToolParams, dict(mass=0.0, CoM=[0.0] * 3, inertia=Z6, tcp_location=Z7)),
    ],
    ids=lambda v: getattr(v, "__name__", ""),
)
def test_record_defaults(make, expected):
    record = make()
    assert {field: getattr(record, field) for field in expected} == expected


POSE = [0.5, 0.0, 0.4, 0.0, 1.0, 0.0, 0.0]


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: kv.JPos([1.0] * 7), dict(q_m=[1.0] * 7, q_e=Z6)),
        (
            lambda: kv.JPos(q_e=[1, 2, 0, 0, 0, 0], q_m=[0, -40, 0, 90, 0, 40, 0]),
            dict(
                q_m=[0.0, -40.0, 0.0, 90.0, 0.0, 40.0, 0.0], q_e=[1.0, 2.0, 0, 0, 0, 0]
            ),
        ),
        (
            lambda: kv.Coord([1, 2, 3], [0, 180, 0], ["WORK", "table"]),
            dict(
                position=[1.0, 2.0, 3.0],
                ref_frame=["WORK", "table"],
                ref_q_m=Z7,
                ref_q_e=Z6,
            ),
        ),
        (
            lambda: kv.Coord(
                position=[0, 0, 0],
                orientation=[0, 0, 0],
                ref_frame=("TRAJ", "START"),
                ref_q_e=[5, 0, 0, 0, 0, 0],
            ),
            dict(ref_frame=["TRAJ", "START"], ref_q_m=Z7, ref_q_e=[5.0] + [0.0] * 5),
        ),
        (
            lambda: kv.PrimitiveArgs(pt_name="MoveJ", input_params={"vel": 0.2}),
            dict(
                pt_name="MoveJ", input_params={"vel": 0.2}, external_axis_control=True
            ),
        ),
        (
            lambda: kv.RtJointTorqueCmd(tau_d=[1.0, 2.0], friction_comp_scale=50),
            dict(
                tau_d=[1.0, 2.0],
                enable_gravity_comp=True,
                enable_soft_limits=True,
                friction_comp_scale=50.0,
            ),
        ),
        (
            lambda: kv.RtJointTorqueCmd([0.5], False, False, 0.0),
            dict(
                enable_gravity_comp=False,
                enable_soft_limits=False,
                friction_comp_scale=0.0,
            ),
        ),
        (
            lambda: kv.RtJointPositionCmd([1], [2], ddq_d=[3]),
            dict(q_d=[1.0], dq_d=[2.0], ddq_d=[3.0]),
        ),
        (
            lambda: kv.NrtJointPositionCmd(q_d=[1], dq_d=[2], dq_max=[3], ddq_max=[4]),
            dict(q_d=[1.0], dq_d=[2.0], dq_max=[3.0], ddq_max=[4.0]),
        ),
        (
            lambda: kv.RtCartesianCmd(POSE, acc_d=[1, 0, 0, 0, 0, 0]),
            dict(pose_d=POSE, wrench_d=Z6, twist_d=Z6, acc_d=[1.0] + [0.0] * 5),
        ),
        (
            lambda: kv.NrtCartesianCmd(pose_d=POSE, max_linear_vel=0.2),
            dict(
                pose_d=POSE,
                wrench_d=Z6,
                max_linear_vel=0.2,
                max_angular_vel=1.0,
                max_linear_acc=2.0,
                max_angular_acc=5.0,
            ),
        ),
        (
            lambda: kv.NrtCartesianCmd(POSE, Z6, Z6, 0.1, 0.2, 0.3, 0.4),
            dict(
                max_linear_vel=0.1,
                max_angular_vel=0.2,
                max_linear_acc=0.3,
                max_angular_acc=0.4,
            ),
        ),
    ],
)
def test_custom_constructors(make, expected):
    record = make()
    assert {field: getattr(record, field) for field in expected} == expected


def test_multi_waypoint_constructor_copies_its_waypoints():
    first = kv.NrtCartesianCmd(POSE, max_linear_vel=0.3)
    cmd = kv.NrtCartesianMultiWaypointCmd(waypoints=[first, kv.NrtCartesianCmd()])
    first.max_linear_vel = 1.5
    assert [w.max_linear_vel for w in cmd.waypoints] == [0.3, 0.5]


@pytest.mark.parametrize(
    "call",
    [
        lambda: kv.JPos([0.0] * 6),
        lambda: kv.JPos([0.0] * 8),
        lambda: kv.JPos(Z7, [0.0] * 7),
        lambda: kv.Coord([0, 0], [0, 0, 0], ["WORLD", "WORLD_ORIGIN"]),
        lambda: kv.Coord([0, 0, 0], [0, 0, 0], ["WORLD"]),
        lambda: kv.RtCartesianCmd([0.0] * 6),
        lambda: kv.NrtCartesianCmd(POSE, wrench_d=[0.0] * 7),
        lambda: kv.PrimitiveArgs("Home"),
        lambda: kv.RtJointTorqueCmd(enable_gravity_comp=False),
        lambda: kv.NrtCartesianMultiWaypointCmd([kv.RtCartesianCmd()]),
    ],
)
def test_constructor_arguments_that_do_not_match(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "record, field, value",
    [
        (kv.RobotStates(), "tcp_pose", [0.0] * 6),
        (kv.RobotStates(), "tcp_twist", [0.0] * 7),
        (kv.ToolParams(), "CoM", [0.0] * 2),
        (kv.JPos(), "q_m", "1234567"),
        (kv.Coord(), "ref_frame", ["a", "b", "c"]),
        (kv.RobotInfo(), "K_x_nom", {kv.JointGroup.ARM_1: [1.0] * 5}),
        # Maps keyed by joint group take members, not the integer of a member's value.
        (kv.RobotInfo(), "DoF", {0: 7}),
        (kv.IKResult(), "solved_q", {3: [0.0]}),
        (kv.SafetyLimits(), "q_min", {kv.JointGroup.ALL: [0.0], 0: [0.0]}),
        # Only a dict converts to a map.
        (kv.RobotInfo(), "DoF", [(kv.JointGroup.ALL, 7)]),
        (kv.RobotEvent(), "level", 1),
        (kv.PrimitiveArgs(), "sync_motion_mode", 0),
        (kv.RtJointTorqueCmd(), "tau_d", "abc"),
    ],
)
def test_assignments_that_do_not_convert(record, field, value):
    before = repr(getattr(record, field))
    with pytest.raises(TypeError):
        setattr(record, field, value)
    assert repr(getattr(record, field)) == before


def test_joint_group_keyed_maps_take_members():
    info = kv.RobotInfo()
    info.DoF = {kv.JointGroup.ALL: 14, kv.JointGroup.ARM_1: 7}
    info.K_x_nom = {kv.JointGroup.ARM_1: (1, 2, 3, 4, 5, 6)}
    assert info.DoF == {kv.JointGroup.ALL: 14, kv.JointGroup.ARM_1: 7}
    assert info.K_x_nom == {kv.JointGroup.ARM_1: [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]}


# ---- Copy semantics -----------------------------------------------------------------------------


def test_mutating_a_returned_value_leaves_the_record_unchanged():
    states = kv.RobotStates()
    states.q = [1.0]
    states.q.append(2.0)
    states.tcp_pose[0] = 5.0
    assert states.q == [1.0]
    assert states.tcp_pose == Z7

    info = kv.RobotInfo()
    info.DoF[kv.JointGroup.ALL] = 7
    assert info.DoF == {}

    cmd = kv.NrtCartesianMultiWaypointCmd([kv.NrtCartesianCmd()])
    cmd.waypoints[0].max_linear_vel = 9.0
    assert cmd.waypoints[0].max_linear_vel == 0.5

    args = kv.PrimitiveArgs("MoveJ", {"target": kv.JPos()})
    args.input_params["target"].q_m = [1.0] * 7
    assert args.input_params["target"].q_m == Z7


def test_assigned_values_are_copied_in():
    target = kv.JPos()
    args = kv.PrimitiveArgs("MoveJ", {"target": target})
    target.q_m = [1.0] * 7
    assert args.input_params["target"].q_m == Z7


# ---- Text forms ---------------------------------------------------------------------------------


def test_text_form_docs():
    doc = "String representation of all data in the struct, separated by space."
    assert kv.JPos.__str__.__doc__.strip().endswith(doc)
    assert kv.Coord.__str__.__doc__.strip().endswith(doc)


@pytest.mark.parametrize(
    "record, text_str, text_repr",
    [
        (
            kv.JPos(),
            " ".join(["0.00"] * 13),
            "korvovyr.JPos(q_m=["
            + ", ".join(["0.000"] * 7)
            + "], q_e=["
            + ", ".join(["0.000"] * 6)
            + "])",
        ),
        (
            kv.JPos([0, -40.5, 0, 90, 0, 40.125, 1e-4], [0.25, 0, 0, 0, 0, 0]),
            "0.00 -40.50 0.00 90.00 0.00 40.12 0.00 0.25 0.00 0.00 0.00 0.00 0.00",
            "korvovyr.JPos(q_m=[0.000, -40.500, 0.000, 90.000, 0.000, 40.125, 0.000], "
            "q_e=[0.250, 0.000, 0.000, 0.000, 0.000, 0.000])",
        ),
        (
            kv.Coord(),
            "0.00 0.00 0.00 0.00 0.00 0.00   " + " ".join(["0.00"] * 13),
            "korvovyr.Coord(position=[0.000, 0.000, 0.000], orientation=[0.000, 0.000, 0.000], "
            "ref_frame=[, ], ref_q_m=["
            + ", ".join(["0.000"] * 7)
            + "], ref_q_e=["
            + ", ".join(["0.000"] * 6)
            + "])",
        ),
        (
            kv.Coord(
                [0.5, -0.25, 1], [180, 0, 90], ["WORK", "table"], [1] * 7, [2] * 6
            ),
            "0.50 -0.25 1.00 180.00 0.00 90.00 WORK table "
            + " ".join(["1.00"] * 7 + ["2.00"] * 6),
            "korvovyr.Coord(position=[0.500, -0.250, 1.000], orientation=[180.000, 0.000, 90.000], "
            "ref_frame=[WORK, table], ref_q_m=["
            + ", ".join(["1.000"] * 7)
            + "], ref_q_e=["
            + ", ".join(["2.000"] * 6)
            + "])",
        ),
    ],
    ids=["default_jpos", "jpos", "default_coord", "coord"],
)
def test_text_forms(record, text_str, text_repr):
    assert str(record) == text_str
    assert repr(record) == text_repr


# ---- ParamValue ---------------------------------------------------------------------------------


def _kind(value):
    """A comparable picture of a converted value: its type and contents, element by element."""
    if isinstance(value, list):
        return ("list", [_kind(v) for v in value])
    if isinstance(value, (kv.JPos, kv.Coord)):
        return (type(value).__name__, repr(value))
    return (type(value).__name__, value)


COORD = kv.Coord([1, 2, 3], [0, 0, 90], ["WORLD", "WORLD_ORIGIN"])


@pytest.mark.parametrize(
    "given, expected",
    [
        (True, 1),
        (False, 0),
        (7, 7),
        (-3, -3),
        (1.5, 1.5),
        (2.0, 2.0),
        ("abc", "abc"),
        ([1, 2, 3], [1, 2, 3]),
        ((4, 5), [4, 5]),
        ([True, 2], [1, 2]),
        ([1, 2.5], [1.0, 2.5]),
        ([0.1, 0.2, -1.3], [0.1, 0.2, -1.3]),
        ([], []),
        (["a", "b"], ["a", "b"]),
        (kv.JPos([1] * 7), kv.JPos([1] * 7)),
        (COORD, COORD),
        ([kv.JPos(), kv.JPos([2] * 7)], [kv.JPos(), kv.JPos([2] * 7)]),
        ([COORD], [COORD]),
    ],
    ids=repr,
)
@pytest.mark.parametrize("holder", ["input_params", "names_and_values"])
def test_param_value_conversion(holder, given, expected):
    record = kv.PrimitiveArgs() if holder == "input_params" else kv.PrimitiveStates()
    setattr(record, holder, {"value": given})
    assert _kind(getattr(record, holder)["value"]) == _kind(expected)


@pytest.mark.parametrize(
    "given",
    [None, [1, "a"], {"a": 1}, [kv.JPos(), COORD], [[1, 2]], object()],
    ids=repr,
)
def test_param_value_rejects_what_no_alternative_takes(given):
    with pytest.raises(TypeError):
        kv.PrimitiveArgs("P", {"value": given})


def test_param_value_maps_need_string_keys():
    with pytest.raises(TypeError):
        kv.PrimitiveArgs("P", {1: 2})


def test_param_value_maps_read_back_in_name_order():
    states = kv.PrimitiveStates()
    states.names_and_values = {
        "timePeriod": 5.6,
        "reachedTarget": 1,
        "forceOffset": [0.1, 0.2],
    }
    assert list(states.names_and_values) == [
        "forceOffset",
        "reachedTarget",
        "timePeriod",
    ]


# ---- Timestamps ---------------------------------------------------------------------------------


def test_event_timestamp_round_trips_as_naive_local_datetime():
    event = kv.RobotEvent()
    assert event.timestamp == datetime.datetime.fromtimestamp(0)
    when = datetime.datetime(2024, 5, 1, 12, 30, 15, 123456)
    event.timestamp = when
    assert event.timestamp == when
    assert event.timestamp.tzinfo is None


def test_event_fields_round_trip():
    event = kv.RobotEvent()
    event.level = kv.RobotEvent_Level.WARNING
    event.id = -(2**31)
    event.description = "Überlast"
    assert event.level == kv.RobotEvent.Level.WARNING
    assert event.level == 2
    assert event.id == -(2**31)
    assert event.description == "Überlast"
    with pytest.raises(TypeError):
        event.id = 2**31


def test_states_timestamp_holds_signed_32_bit_seconds():
    states = kv.RobotStates()
    states.timestamp = (2**31 - 1, 999_999_999)
    assert states.timestamp == (2**31 - 1, 999_999_999)
    with pytest.raises(TypeError):
        states.timestamp = (2**31, 0)
