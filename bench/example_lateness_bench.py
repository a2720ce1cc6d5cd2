"""Late commands of the 1 kHz joint torque examples (C++ and Python), with the simulated robot in
this process and each example in a process of its own: the robot's count of gaps of more than
3 ms between commands, and the longest gap among the commands it keeps (the newest, within a
byte budget of about 40 s).

    .venv/bin/python bench/example_lateness_bench.py [SECONDS]   (default 60 each)
"""

import os
import subprocess
import sys
import tempfile
import time

import korvosim

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
EXAMPLES = {
    "C++": [os.path.join(ROOT, "build", "examples", "cpp", "joint_torque_loop")],
    "Python": [sys.executable, os.path.join(ROOT, "examples", "python", "joint_torque_loop.py")],
}


def longest_gap_ms(commands):
    times = [c["time"] for c in commands]
    gaps = [(b - a) * 1e3 for a, b in zip(times, times[1:])]  # times in seconds
    return max(gaps, default=0.0)


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    port = korvosim.free_port()
    config = os.path.join(tempfile.mkdtemp(), "client.json5")
    korvosim.write_config(korvosim.connector_config(port), config)
    env = dict(os.environ, ZENOH_CONFIG=config)
    print(f"joint torque example, {seconds:.0f} s at 1 kHz, korvo-sim in another process")
    print(f"{'example':8} {'late':>5} {'longest gap [ms]':>17} {'over [s]':>9}")
    with korvosim.Simulator(korvosim.listener_config(port)) as sim:
        for name, command in EXAMPLES.items():
            serial = f"Olvar-LL-{name.lower().replace('+', 'p')}"
            robot = sim.add_robot("Olvar-LL", serial)
            robot.make_ready()
            robot.clear_records()
            late_before = robot.timeliness_failure_count
            run = subprocess.run(
                [*command, serial, str(seconds)], env=env, capture_output=True, text=True
            )
            if run.returncode != 0:
                sys.exit(f"{name} example failed: {run.stderr}")
            time.sleep(0.1)
            commands = robot.commands()
            late = robot.timeliness_failure_count - late_before
            print(f"{name:8} {late:5d} {longest_gap_ms(commands):17.2f} {len(commands) / 1000:9.1f}")
            for line in run.stderr.splitlines():
                if line.startswith("warning:"):
                    print(f"         {line}")
            sim.remove_robot(serial)


if __name__ == "__main__":
    main()
