"""Helpers shared by the test modules."""

import contextlib
import os
import signal
import subprocess
import sys
import time
import uuid

import pytest

# The simulator answers on its own threads: conditions are polled until they hold. The deadline
# only bounds a broken run.
DEADLINE_S = 30.0


def retry_until(attempt, what):
    """Calls `attempt` until it returns something other than None or False, and returns that;
    fails the test when the deadline passes first."""
    end = time.monotonic() + DEADLINE_S
    while True:
        result = attempt()
        if result is not None and result is not False:
            return result
        if time.monotonic() > end:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.02)


# Publisher options that deliver every command, large ones too.
BLOCK, RELIABLE = 0, 1


def states_subscriber(session, serial):
    """A subscriber of the test-only middleware module to robot `serial`'s states; close it."""
    import korvo_mdw_test as mt

    return mt.RealtimeStatesSubscriber(session, f"korvo/vyr/{serial}/states")


def commands_publisher(session, serial):
    """A publisher of motion commands to robot `serial` that delivers every one; close it."""
    import korvo_mdw_test as mt

    return mt.MotionCommandsPublisher(
        session, f"korvo/vyr/{serial}/commands", congestion_control=BLOCK, reliability=RELIABLE
    )


@contextlib.contextmanager
def hosted_robot(simulator, session, model, probe_op_code):
    """Hosts a `model` robot under a fresh serial number and yields it with a
    `vyr(op_code, **fields)` caller (the test-only middleware module) that returns the decoded
    reply, None when none arrived; waits until the robot answers `probe_op_code`."""
    import korvo_mdw_test as mt

    serial = f"SN-{uuid.uuid4().hex[:12]}"
    sim = simulator.add_robot(model, serial)
    try:
        with contextlib.closing(mt.VyrRpcClient(session, f"korvo/vyr/{serial}/rpc")) as rpc:

            def vyr(op_code, **fields):
                request = mt.vyr_msg.RPCRequest()
                request.op_code = op_code
                for name, value in fields.items():
                    setattr(request, name, value)
                return rpc.call(request, 2.0)

            retry_until(lambda: vyr(probe_op_code), "the VYR server")
            yield sim, vyr
    finally:
        simulator.remove_robot(serial)


@contextlib.contextmanager
def connected_robot(simulator, model, ext_axes=0):
    """Hosts a ready `model` robot under a fresh serial number and yields a korvovyr.Robot
    connected to it, once operational, with the simulated robot."""
    import korvovyr as kv

    serial = f"{model}-c{uuid.uuid4().hex[:10]}"
    sim = simulator.add_robot(model, serial, ext_axes)
    try:
        sim.make_ready()
        robot = kv.Robot(serial, verbose=False)
        retry_until(robot.operational, "the robot to become operational")
        yield robot, sim
        del robot
    finally:
        simulator.remove_robot(serial)


KORVO_SIM = os.path.join(os.path.dirname(sys.executable), "korvo-sim")


@contextlib.contextmanager
def korvo_sim_process(args, folder, executable=KORVO_SIM):
    """A korvo-sim process started with `args`, listening on a free loopback port, once it says
    what it hosts; yields the path of a client configuration (for ZENOH_CONFIG) that reaches it.
    Stopped with Ctrl-C when done."""
    import korvosim

    port = korvosim.free_port()
    listener, connector = os.path.join(folder, "sim.json5"), os.path.join(folder, "client.json5")
    korvosim.write_config(korvosim.listener_config(port), listener)
    korvosim.write_config(korvosim.connector_config(port), connector)
    sim = subprocess.Popen([executable, *args, "--config", listener], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
    try:
        first = sim.stdout.readline()
        assert first.startswith("korvo-sim: hosting"), first
        yield connector
    finally:
        sim.send_signal(signal.SIGINT)
        sim.wait(timeout=20)
