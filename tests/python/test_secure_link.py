"""Secured links between the library and korvo-sim, made from the example configurations of
examples/secure with certificates that its make_certs.sh makes at test time: mutual TLS, a user
and password over TLS, and access control by certificate. Loopback only."""

import contextlib
import gc
import os
import subprocess
import uuid

import pytest

import korvo_mdw_test as mt
import korvosim
import korvovyr as kv
from support import commands_publisher, retry_until, states_subscriber

SECURE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "secure")
ARM_1 = 3
GET_MODE = 7


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """certs/ (the authority, the robot for 127.0.0.1, an operator and an observer), other/ (an
    authority the robot does not trust, with an operator of its own) and the users file."""
    folder = tmp_path_factory.mktemp("secure")
    make_certs = os.path.join(SECURE, "make_certs.sh")
    for sub, clients in (("certs", ["operator", "observer"]), ("other", ["operator"])):
        subprocess.run(
            [make_certs, str(folder / sub), "127.0.0.1", *clients], check=True, capture_output=True
        )
    with open(os.path.join(SECURE, "users.txt")) as users:
        (folder / "users.txt").write_text(users.read())
    return folder


def example(name, folder, port, **replace):
    """The example configuration `name` as a test uses it: its files under `folder`, its
    endpoint on 127.0.0.1:`port`, and each text `old` of `replace` replaced by `new`."""
    with open(os.path.join(SECURE, name)) as f:
        text = f.read()
    for old, new in replace.items():
        assert old in text, old
        text = text.replace(old, new)
    for name in ('"certs/', '"other/', '"users.txt"'):
        text = text.replace(name, f'"{folder}/{name[1:]}')
    for address in ("0.0.0.0:7447", "192.168.2.100:7447"):
        text = text.replace(f"tls/{address}", f"tls/127.0.0.1:{port}")
    assert text.count(f"tls/127.0.0.1:{port}") == 1
    return text


@contextlib.contextmanager
def client_config(text, tmp_path, monkeypatch):
    """Points the library's session at the configuration `text`."""
    gc.collect()  # no Robot of an earlier test keeps the shared session open
    path = tmp_path / "client.json5"
    path.write_text(text)
    monkeypatch.setenv("ZENOH_CONFIG", str(path))
    try:
        yield str(path)
    finally:
        gc.collect()


def controls(sim):
    """A ready robot hosted on `sim`, controlled through the library: it becomes operational and
    switches mode on request."""
    serial = f"Olvar-L-s{uuid.uuid4().hex[:10]}"
    hosted = sim.add_robot("Olvar-L", serial)
    try:
        hosted.make_ready()
        robot = kv.Robot(serial, verbose=False)
        retry_until(robot.operational, "the robot to become operational")
        robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
        assert robot.mode() == kv.Mode.NRT_JOINT_POSITION
        assert hosted.heartbeat_count > 0
        del robot
    finally:
        sim.remove_robot(serial)


def cannot_connect(sim):
    serial = f"Olvar-L-s{uuid.uuid4().hex[:10]}"
    sim.add_robot("Olvar-L", serial)
    try:
        with pytest.raises(RuntimeError) as error:
            kv.Robot(serial, verbose=False)
        assert str(error.value).startswith(f"[korvo::vyr::Robot] Failed to connect to [{serial}]")
    finally:
        sim.remove_robot(serial)


# ---- who may open a session ----------------------------------------------------------------------

NO_CERTIFICATE = {
    'connect_certificate: "certs/operator.pem",': "",
    'connect_private_key: "certs/operator.key",': "",
}
OTHER_AUTHORITY = {
    'connect_certificate: "certs/operator.pem"': 'connect_certificate: "other/operator.pem"',
    'connect_private_key: "certs/operator.key"': 'connect_private_key: "other/operator.key"',
}


@pytest.mark.parametrize(
    "robot_file, client_file, client_change, connects",
    [
        ("robot-mtls.json5", "client-mtls.json5", {}, True),
        ("robot-mtls.json5", "client-mtls.json5", NO_CERTIFICATE, False),
        ("robot-mtls.json5", "client-mtls.json5", OTHER_AUTHORITY, False),
        ("robot-usrpwd.json5", "client-usrpwd.json5", {}, True),
        ("robot-usrpwd.json5", "client-usrpwd.json5", {'"change-me"': '"wrong-password"'}, False),
        ("robot-usrpwd.json5", "client-usrpwd.json5", {'user: "operator"': 'user: "guest"'}, False),
    ],
    ids=[
        "mtls",
        "mtls-no-certificate",
        "mtls-other-authority",
        "password",
        "wrong-password",
        "unknown-user",
    ],
)
def test_only_clients_the_robot_trusts_connect(
    folder, tmp_path, monkeypatch, robot_file, client_file, client_change, connects
):
    port = korvosim.free_port()
    with korvosim.Simulator(example(robot_file, folder, port)) as sim, client_config(
        example(client_file, folder, port, **client_change), tmp_path, monkeypatch
    ):
        (controls if connects else cannot_connect)(sim)


def test_a_client_of_the_plain_link_does_not_reach_a_secured_robot(folder, tmp_path, monkeypatch):
    port = korvosim.free_port()
    with korvosim.Simulator(example("robot-mtls.json5", folder, port)) as sim, client_config(
        korvosim.connector_config(port), tmp_path, monkeypatch
    ):
        cannot_connect(sim)


@pytest.mark.parametrize("rust_log", [None, "zenoh=debug"])
def test_zenoh_tells_why_a_handshake_failed_when_rust_log_asks(
    folder, tmp_path, run_python, monkeypatch, rust_log
):
    port = korvosim.free_port()
    with korvosim.Simulator(example("robot-mtls.json5", folder, port)) as sim, client_config(
        example("client-mtls.json5", folder, port, **OTHER_AUTHORITY), tmp_path, monkeypatch
    ):
        serial = f"Olvar-L-s{uuid.uuid4().hex[:10]}"
        sim.add_robot("Olvar-L", serial)
        if rust_log:
            monkeypatch.setenv("RUST_LOG", rust_log)
        else:
            monkeypatch.delenv("RUST_LOG", raising=False)
        done = run_python(
            "-c", f"import korvovyr as kv\nkv.Robot({serial!r}, verbose=False)", timeout=60
        )
    assert f"[korvo::vyr::Robot] Failed to connect to [{serial}]" in done.stderr
    told = f"Unable to connect to configured peer tls/127.0.0.1:{port}!" in done.stdout
    assert told == bool(rust_log), done.stdout


# ---- configurations that name files that are not there -----------------------------------------


def test_a_missing_certificate_is_named_when_the_session_opens(folder, tmp_path, monkeypatch):
    port = korvosim.free_port()
    missing = f"{folder}/certs/missing.pem"
    client = example(
        "client-mtls.json5", folder, port, **{"certs/operator.pem": "certs/missing.pem"}
    )
    with client_config(client, tmp_path, monkeypatch) as path:
        with pytest.raises(RuntimeError) as error:
            kv.Robot("Olvar-L-anything", verbose=False)
    assert str(error.value).startswith(
        f"Failed to create default configuration from ZENOH_CONFIG file {path}: "
        f"transport/link/tls/connect_certificate names the file {missing}, which cannot be read: "
    )

    robot = example("robot-usrpwd.json5", folder, port, **{'"users.txt"': '"nobody.txt"'})
    with pytest.raises(korvosim.ZException) as error:
        korvosim.Simulator(robot.replace('"nobody.txt"', f'"{folder}/nobody.txt"'))
    assert f"{folder}/nobody.txt" in str(error.value)
    assert "transport/auth/usrpwd/dictionary_file" in str(error.value)


# ---- access control ------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def guarded(folder):
    """korvo-sim under robot-acl.json5, with a ready robot."""
    port = korvosim.free_port()
    with korvosim.Simulator(example("robot-acl.json5", folder, port)) as sim:
        serial = f"Olvar-L-a{uuid.uuid4().hex[:10]}"
        sim.add_robot("Olvar-L", serial).make_ready()
        yield sim, serial, port


@contextlib.contextmanager
def peer(folder, port, name):
    """A session of the test-only middleware module with the certificate of client `name`."""
    change = {} if name == "operator" else {"certs/operator.": f"certs/{name}."}
    text = example("client-mtls.json5", folder, port, **change)
    session = mt.Session(text)
    try:
        yield session
    finally:
        session.close()


def joint_torque_commands(tau):
    command = mt.vyr_msg.JointCommand()
    command.tau_d = [tau] * 7
    m = mt.vyr_msg.MotionCommands()
    m.joint_groups = [ARM_1]
    m.joint_commands = [command]
    return m


@contextlib.contextmanager
def client_of(session, serial):
    """The states, the VYR service and the commands of robot `serial` as `session` reaches them."""
    with contextlib.ExitStack() as stack:
        states = stack.enter_context(contextlib.closing(states_subscriber(session, serial)))
        rpc = stack.enter_context(
            contextlib.closing(mt.VyrRpcClient(session, f"korvo/vyr/{serial}/rpc"))
        )
        commands = stack.enter_context(contextlib.closing(commands_publisher(session, serial)))
        request = mt.vyr_msg.RPCRequest()
        request.op_code = GET_MODE
        yield states, lambda: rpc.call(request, 2.0), commands


def test_only_operators_command_while_others_watch_the_states(guarded, folder):
    sim, serial, port = guarded
    hosted = sim.robot(serial)
    hosted.clear_records()
    with peer(folder, port, "observer") as observer, peer(folder, port, "operator") as operator:
        with client_of(observer, serial) as (states, get_mode, commands):
            states.wait_for(50, 10.0)
            assert states.count() >= 50
            assert get_mode() is None
            assert hosted.vyr_requests() == []
            for _ in range(100):
                assert commands.publish(joint_torque_commands(1.0))

        with client_of(operator, serial) as (states, get_mode, commands):
            assert retry_until(get_mode, "the robot's reply").success
            assert commands.publish(joint_torque_commands(2.0))
            retry_until(lambda: hosted.commands() or None, "the operator's command")
        # The observer's commands went out before the operator's, and none arrived.
        received = hosted.commands()
        assert len(received) == 1 and received[0]["joint_commands"][0]["tau_d"] == [2.0] * 7
        assert hosted.ignored_commands == 0
        assert [r["op_code"] for r in hosted.vyr_requests()] == [GET_MODE]


def test_under_access_control_only_an_operator_can_make_a_robot(
    guarded, folder, tmp_path, monkeypatch
):
    sim, _, port = guarded
    with client_config(example("client-mtls.json5", folder, port), tmp_path, monkeypatch):
        controls(sim)

    observer = example("client-mtls.json5", folder, port, **{"certs/operator.": "certs/observer."})
    with client_config(observer, tmp_path, monkeypatch):
        serial = f"Olvar-L-s{uuid.uuid4().hex[:10]}"
        sim.add_robot("Olvar-L", serial).make_ready()
        try:
            # It sees the states but none of its requests is answered, the first included.
            with pytest.raises(RuntimeError) as error:
                kv.Robot(serial, verbose=False)
            assert str(error.value) == "[korvo::vyr::Robot] Failed to sync VYR server version"
        finally:
            sim.remove_robot(serial)


def test_a_client_outlives_many_secured_links(folder, tmp_path, monkeypatch):
    """Robots made and dropped one after another, each against a simulator of its own under
    robot-acl.json5. zenoh's TLS link once let its reading and writing tasks change one rustls
    connection at the same time, which aborted this process within a few dozen links."""
    for _ in range(30):
        port = korvosim.free_port()
        with korvosim.Simulator(example("robot-acl.json5", folder, port)) as sim, client_config(
            example("client-mtls.json5", folder, port), tmp_path, monkeypatch
        ):
            sim.add_robot("Olvar-L", f"Olvar-L-o{uuid.uuid4().hex[:10]}").make_ready()
            serial = f"Olvar-L-s{uuid.uuid4().hex[:10]}"
            sim.add_robot("Olvar-L", serial).make_ready()
            robot = kv.Robot(serial, verbose=False)
            assert robot.info().serial_num == serial
            del robot
