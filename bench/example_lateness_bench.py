"""Late commands of the 1 kHz joint torque examples (C++ and Python), which follow the real-time
recipe of examples/*/realtime.*, each against korvo-sim in a process of its own: as usual, and
with --realtime. The robot counts a command late when it arrives more than 3 ms after the one
before; korvo-sim says how many it saw when it stops. Beside each run, machine_stall_bench
counts the machine's own stalls of more than 2 ms (enough for such a gap whatever the loop's
priority): on any core, and on every core at once.

    .venv/bin/python bench/example_lateness_bench.py [SECONDS]   (default 60 each)
"""

import os
import re
import signal
import subprocess
import sys
import tempfile

import korvosim

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SIM = os.path.join(ROOT, "build", "sim", "korvo-sim")
PROBE = os.path.join(ROOT, "build", "bench", "machine_stall_bench")
EXAMPLES = {
    "C++": [os.path.join(ROOT, "build", "examples", "cpp", "joint_torque_loop")],
    "Python": [sys.executable, os.path.join(ROOT, "examples", "python", "joint_torque_loop.py")],
}
SERIAL = "Olvar-LL-000001"


def run(example, seconds, sim_options, directory):
    """Runs `example` against a fresh korvo-sim; returns the late commands the robot saw, the
    machine's stalls (on any core, on every core) and the warnings both printed."""
    port = korvosim.free_port()
    listener = os.path.join(directory, f"robot-{port}.json5")
    connector = os.path.join(directory, f"client-{port}.json5")
    korvosim.write_config(korvosim.listener_config(port), listener)
    korvosim.write_config(korvosim.connector_config(port), connector)
    sim = subprocess.Popen(
        [SIM, "--model", "Olvar-LL", "--serial", SERIAL, "--config", listener, "--ready",
         *sim_options],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    )
    probe = None
    try:
        sim.stdout.readline()  # "korvo-sim: hosting ..."
        probe = subprocess.Popen([PROBE, str(seconds)], stdout=subprocess.PIPE, text=True)
        done = subprocess.run(
            [*example, SERIAL, str(seconds)], capture_output=True, text=True,
            env=dict(os.environ, ZENOH_CONFIG=connector),
        )
        if done.returncode != 0:
            sys.exit(f"the example failed: {done.stderr}")
    finally:
        sim.send_signal(signal.SIGINT)
        out, err = sim.communicate(timeout=30)
        probed = probe.communicate(timeout=30)[0] if probe else ""
    late = re.search(r"after the one before\): (\d+)", out)
    per_core = [int(m) for m in re.findall(r"^\s*\d+\s+\d+\s+(\d+)\s", probed, re.MULTILINE)]
    everywhere = re.search(r"at once: (\d+)", probed)
    stalls = (sum(per_core), int(everywhere.group(1)) if everywhere else -1)
    warnings = [line for line in (done.stderr + err).splitlines() if "warning:" in line]
    return (int(late.group(1)) if late else -1), stalls, warnings


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    print(f"joint torque example, {seconds:.0f} s at 1 kHz, korvo-sim in another process")
    print(f"{'example':8} {'korvo-sim':12} {'late':>5} {'stalls, any core':>17} {'every core':>11}")
    with tempfile.TemporaryDirectory() as directory:
        for sim_options in ([], ["--realtime"]):
            for name, example in EXAMPLES.items():
                late, (anywhere, everywhere), warnings = run(
                    example, seconds, sim_options, directory
                )
                print(
                    f"{name:8} {' '.join(sim_options) or 'as usual':12} {late:5d} "
                    f"{anywhere:17d} {everywhere:11d}"
                )
                for line in warnings:
                    print(f"         {line}")


if __name__ == "__main__":
    main()
