"""The korvo-sim program: started ready (--ready), as the physical twin it is by default, a
client finds it operational without servoing it on, and it holds its posture under the physics
until interrupted."""

import gc
import os
import signal
import subprocess
import sys
import time

import korvosim
import korvovyr as kv
from support import retry_until

KORVO_SIM = os.path.join(os.path.dirname(sys.executable), "korvo-sim")


def test_the_twin_starts_ready_and_holds_its_posture(tmp_path, monkeypatch):
    gc.collect()  # no session of an earlier module may stay open
    port = korvosim.free_port()
    listener, connector = str(tmp_path / "sim.json5"), str(tmp_path / "client.json5")
    korvosim.write_config(korvosim.listener_config(port), listener)
    korvosim.write_config(korvosim.connector_config(port), connector)
    serial = "Olvar-L-cli0001"
    sim = subprocess.Popen(
        [KORVO_SIM, "--model", "Olvar-L", "--serial", serial, "--config", listener,
         "--ready"],
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        assert sim.stdout.readline().startswith(f"korvo-sim: hosting {serial} (Olvar-L, 7 joints)")
        monkeypatch.setenv("ZENOH_CONFIG", connector)
        robot = kv.Robot(serial, verbose=False)
        retry_until(robot.operational, "the robot to be operational")
        start = robot.states()[kv.JointGroup.ARM_1].q
        time.sleep(0.5)
        held = robot.states()[kv.JointGroup.ARM_1].q
        assert max(abs(a - b) for a, b in zip(held, start)) < 1e-3
        del robot
        gc.collect()
    finally:
        sim.send_signal(signal.SIGINT)
        assert sim.wait(timeout=20) == 0
