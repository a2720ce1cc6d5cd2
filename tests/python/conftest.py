"""Fixtures shared by the test modules: one simulator per module on a free loopback port, the
client-side session of the test-only middleware module, and the connector configuration that
points the library's process-wide session at the simulator. A module may define its own."""

import gc
import os
import subprocess
import sys

import pytest

import korvo_mdw_test as mt
import korvosim


@pytest.fixture(scope="module")
def port():
    return korvosim.free_port()


@pytest.fixture(scope="module")
def simulator(port):
    with korvosim.Simulator(korvosim.listener_config(port)) as sim:
        yield sim


@pytest.fixture(scope="module")
def session(simulator, port):
    """A client session of the test-only middleware module, connected to the simulator."""
    client_session = mt.Session(korvosim.connector_config(port))
    yield client_session
    client_session.close()


@pytest.fixture(scope="module")
def zenoh_config(port, tmp_path_factory):
    """The connector configuration, exported before the module's first Robot opens the session."""
    # A Robot an earlier module left in a reference cycle would keep the shared session open,
    # connected to that module's simulator: release it first.
    gc.collect()
    path = str(tmp_path_factory.mktemp("zenoh") / "client.json5")
    korvosim.write_config(korvosim.connector_config(port), path)
    with pytest.MonkeyPatch.context() as env:
        env.setenv("ZENOH_CONFIG", path)
        yield path
    # Release the Robots a failed test's traceback still holds, so that the shared session
    # closes and a later module can open its own.
    gc.collect()


EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")


@pytest.fixture
def run_python():
    """Runs this interpreter on a script file or `-c` program in a process of its own, with this
    process's environment (ZENOH_CONFIG included). A hang ends in TimeoutExpired, a crash in a
    signal's negative return code. `example("gripper.py")` names a program of examples/python."""

    def run(*args, timeout=120):
        return subprocess.run(
            [sys.executable, *args],
            env=dict(os.environ),
            capture_output=True,
            text=True,
            timeout=timeout,
        )

    run.example = lambda name: os.path.join(EXAMPLES, name)
    return run
