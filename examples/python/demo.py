"""Korvo VYR demo: connect to a robot, show what it reports, servo it on and switch modes.

`make demo` starts korvo-sim on loopback and runs this against it; on a real robot, pass its
serial number: `python demo.py Olvar-L-123456`.
"""

import os
import sys
import time
from collections.abc import Callable

import korvovyr as kv


def wait_until(condition: Callable[[], bool], timeout_s: float) -> bool:
    deadline = time.monotonic() + timeout_s
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def main() -> None:
    serial = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KORVO_DEMO_SERIAL")
    if not serial:
        sys.exit("usage: demo.py SERIAL_NUMBER")
    print(kv.__doc__)
    robot = kv.Robot(serial, verbose=False)
    info = robot.info()
    print(
        f"Connected to {info.serial_num} ({kv.kProductModelNames[info.product_model]}), "
        f"software {info.software_ver}"
    )
    for group, name in info.all_groups.items():
        print(f"  {name:9} {info.DoF[group]} joints")

    states = robot.states()
    for group in info.single_arm_groups:
        s = states[group]
        print(
            f"  {kv.kJointGroupNames[group]} q = "
            + " ".join(f"{v:+.3f}" for v in s.q)
            + f"  TCP at {[round(x, 3) for x in s.tcp_pose[:3]]}"
        )
    print("Operational status:", kv.kOpStatusNames[robot.operational_status()])

    if not robot.operational():
        print("Servo on ...")
        robot.ServoOn()
        if not wait_until(robot.operational, 10.0):
            sys.exit(
                "The robot did not become operational: "
                + kv.kOpStatusNames[robot.operational_status()]
            )
    print("Operational status:", kv.kOpStatusNames[robot.operational_status()])

    # A discrete joint target, reached by the robot's own motion generator.
    robot.SwitchMode(kv.Mode.NRT_JOINT_POSITION)
    print("Control mode:", kv.kModeNames[robot.mode()])
    arm = next(iter(info.single_arm_groups))
    start = robot.states()[arm].q
    target = [q + 0.2 for q in start]
    n = len(target)
    robot.SendJointPosition({arm: kv.NrtJointPositionCmd(target, [0.0] * n, [0.5] * n, [2.0] * n)})
    reached = wait_until(
        lambda: max(abs(a - b) for a, b in zip(robot.states()[arm].q, target)) < 1e-3, 10.0
    )
    print(f"  moved {kv.kJointGroupNames[arm]} by 0.2 rad per joint: "
          + ("reached" if reached else "not reached")
          + " -> q = " + " ".join(f"{v:+.3f}" for v in robot.states()[arm].q))

    robot.SwitchMode(kv.Mode.RT_JOINT_TORQUE)
    print("Control mode:", kv.kModeNames[robot.mode()])
    robot.Stop()
    print(
        "Control mode:",
        kv.kModeNames[robot.mode()],
        "- all stopped:",
        robot.all_stopped(),
    )
    for event in robot.event_log()[-3:]:
        print(f"  event {event.id}: {event.description}")


if __name__ == "__main__":
    main()
