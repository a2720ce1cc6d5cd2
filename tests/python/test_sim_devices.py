"""korvo-sim's devices and grippers: the korvosim controls and read-backs, seen through the
requests a client sends with the test-only middleware module over loopback.

One simulator per module (conftest.py) listens on a free port of 127.0.0.1; every test hosts its
own robot under a fresh serial number.
"""

import contextlib
import struct
import uuid

import pytest

import korvo_mdw_test as mt
from support import retry_until

ARM_1, ARM_2 = 3, 4



def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


class Client:
    """The VYR server of one hosted robot, seen from a client."""

    def __init__(self, session, serial, cleanup):
        self.session = session
        self.serial = serial
        self.cleanup = cleanup
        self.rpc = self.closing(
            mt.VyrRpcClient(session, f"korvo/vyr/{serial}/rpc")
        )

    def closing(self, entity):
        return self.cleanup.enter_context(contextlib.closing(entity))

    def vyr(self, op_code, timeout=2.0, **fields):
        """Sends a VYR request; the decoded reply, or None."""
        request = mt.vyr_msg.RPCRequest()
        request.op_code = op_code
        for name, value in fields.items():
            setattr(request, name, value)
        return self.rpc.call(request, timeout)

    def command(self, device, slots):
        """Sends op 42 with (wire name, int slot, float slot) per command."""
        return self.vyr(
            42,
            string_container=[s[0] for s in slots] + [device],
            int_container=[s[1] for s in slots],
            float_container=[s[2] for s in slots],
        )

    def states(self):
        topic = f"korvo/vyr/{self.serial}/states"
        return self.closing(mt.RealtimeStatesSubscriber(self.session, topic))


@pytest.fixture
def host(simulator, session):
    """Hosts a robot of `model` under a fresh serial number once its VYR server answers."""
    with contextlib.ExitStack() as cleanup:

        def add(model="Olvar-LL"):
            serial = f"SN-{uuid.uuid4().hex[:12]}"
            robot = simulator.add_robot(model, serial)
            cleanup.callback(simulator.remove_robot, serial)
            client = Client(session, serial, cleanup)
            retry_until(lambda: client.vyr(40), "the VYR server")
            return robot, client

        yield add


@pytest.fixture
def robot(host):
    return host()


@pytest.mark.parametrize(
    "model, names",
    [
        ("Olvar-L", ["Gripper1", "Conveyor0"]),
        ("TAVU-Core", ["Gripper1", "Gripper2", "Conveyor0"]),
    ],
)
def test_device_list_and_status_at_start(host, model, names):
    sim, client = host(model)
    assert sim.devices == names
    assert client.vyr(40).string_container == names
    for name in names:
        assert client.vyr(45, string_container=[name]).int_container == [0, 1]
        assert (sim.device_enabled(name), sim.device_connected(name)) == (False, True)
    assert sim.gripper_map == {}


@pytest.mark.parametrize(
    "value, ints, floats, strings",
    [
        pytest.param(7, [7], [], [], id="int"),
        pytest.param(True, [1], [], [], id="bool"),
        pytest.param(2.5, [], [2.5], [], id="float"),
        pytest.param("KG-200", [], [], ["KG-200"], id="str"),
        pytest.param([0.1, 1], [], [f32(0.1), 1.0], [], id="floats"),
        pytest.param([1, -2], [1, -2], [], [], id="ints"),
        pytest.param(["a", "b"], [], [], ["a", "b"], id="strs"),
        pytest.param([], [], [], [], id="nothing"),
    ],
)
def test_python_values_are_reported_in_their_containers(
    robot, value, ints, floats, strings
):
    sim, client = robot
    sim.set_device_params("Conveyor0", {"p": value})
    reply = client.vyr(44, string_container=["Conveyor0", "p"])
    assert (reply.success, reply.op_code) == (True, 44)
    assert (reply.int_container, reply.float_container, reply.string_container) == (
        ints,
        floats,
        strings,
    )


def test_replaced_params_are_listed_in_name_order_and_none_is_refused(robot):
    sim, client = robot
    sim.set_device_params("Gripper1", {"zeta": 1, "alpha": None})
    names = client.vyr(43, string_container=["Gripper1"]).string_container
    assert names == ["alpha", "zeta"]
    assert not client.vyr(44, string_container=["Gripper1", "alpha"]).success
    assert not client.vyr(44, string_container=["Gripper1", "maxWidth"]).success


@pytest.mark.parametrize(
    "control, error",
    [
        pytest.param(lambda r: r.set_device_params("G", {}), ValueError, id="params"),
        pytest.param(lambda r: r.set_object_width("G", 0.01), ValueError, id="object"),
        pytest.param(
            lambda r: r.set_object_width("Conveyor0", 0.01), ValueError, id="conveyor"
        ),
        pytest.param(
            lambda r: r.set_object_width("Gripper1", -0.01), ValueError, id="negative"
        ),
        pytest.param(lambda r: r.set_device_connected("G"), ValueError, id="connect"),
        pytest.param(lambda r: r.add_device("Conveyor0"), ValueError, id="taken"),
        pytest.param(lambda r: r.device_enabled("G"), ValueError, id="enabled"),
        pytest.param(lambda r: r.device_connected("G"), ValueError, id="connected"),
        pytest.param(lambda r: r.gripper_state("Conveyor0"), ValueError, id="state"),
        pytest.param(lambda r: r.device_commands("G"), ValueError, id="commands"),
        # Parameters that map to nothing the robot could report.
        pytest.param({1: 2}, TypeError, id="int-name"),
        pytest.param({"p": {}}, TypeError, id="dict"),
        pytest.param({"p": [1, "a"]}, TypeError, id="mixed-list"),
        pytest.param({"p": 2**31}, ValueError, id="beyond-int32"),
    ],
)
def test_controls_raise_for_unknown_names_and_unmappable_values(robot, control, error):
    sim, _ = robot
    with pytest.raises(error):
        if isinstance(control, dict):
            sim.set_device_params("Gripper1", control)
        else:
            control(sim)


def test_added_device_takes_typed_commands_while_enabled_and_connected(robot):
    sim, client = robot
    sim.add_device("Probe", {"k": 3})
    assert sim.devices[-1] == "Probe"
    slots = [
        ("flag<bool>", 1, 0.0),
        ("count<int>", -7, 0.0),
        ("level<double>", 0, 0.25),
    ]
    assert not client.command("Probe", slots).success  # disabled

    assert client.vyr(41, int_container=[1], string_container=["Probe"]).success
    assert sim.device_enabled("Probe")
    assert client.command("Probe", slots).success
    applied = sim.device_commands("Probe")
    assert applied == [{"flag": True, "count": -7, "level": 0.25}]
    assert [type(v) for v in applied[0].values()] == [bool, int, float]

    sim.set_device_connected("Probe", False)
    assert not sim.device_connected("Probe")
    assert client.vyr(45, string_container=["Probe"]).int_container == [1, 0]
    assert not client.command("Probe", slots).success
    assert len(sim.device_commands("Probe")) == 1


def test_mapped_gripper_grasps_an_object_and_publishes_its_state(robot):
    sim, client = robot
    assert client.vyr(41, int_container=[1], string_container=["Gripper2"]).success
    assert client.vyr(46, joint_groups=[ARM_2], string_container=["Gripper2"]).success
    assert sim.gripper_map == {ARM_2: "Gripper2"}
    states = client.states()

    sim.set_object_width("Gripper2", 0.03)
    assert client.command("Gripper2", [("targetForce<double>", 0, 20.0)]).success

    def held():
        state = sim.gripper_state("Gripper2")
        return state if not state["is_moving"] and state["width"] == 0.03 else None

    state = retry_until(held, "the fingers on the object")
    assert (state["force"], state["initialized"]) == (20.0, False)

    def published():
        message = states.latest()
        if message is None or len(message.gripper_states) != 1:
            return None
        entry = message.gripper_states[0]
        return None if entry.is_moving else entry

    entry = retry_until(published, "the held gripper in the states")
    assert (entry.width, entry.force) == (f32(0.03), 20.0)

    sim.set_object_width("Gripper2")  # taken away: the grasp closes on
    retry_until(
        lambda: sim.gripper_state("Gripper2")["width"] < 0.03, "the fingers closing on"
    )


@pytest.mark.parametrize(
    "op_code, fields, done",
    [
        pytest.param(
            41,
            {"int_container": [1], "string_container": ["Conveyor0"]},
            lambda sim: sim.device_enabled("Conveyor0"),
            id="enable",
        ),
        pytest.param(
            46,
            {"joint_groups": [ARM_1], "string_container": ["Gripper1"]},
            lambda sim: sim.gripper_map == {ARM_1: "Gripper1"},
            id="gripper-map",
        ),
    ],
)
def test_a_dropped_reply_still_carries_the_operation_out(robot, op_code, fields, done):
    sim, client = robot
    sim.set_reply_rule("vyr", op_code, "drop", count=1)
    assert client.vyr(op_code, timeout=0.5, **fields) is None
    retry_until(lambda: done(sim), "the dropped operation's effect")
