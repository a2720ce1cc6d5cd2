"""Korvo VYR demo: connect to a robot, show what it reports, servo it on and switch modes.

`make demo` starts korvo-sim on loopback and runs this against it; on a real robot, pass its
serial number: `python demo.py Olvar-L-123456`.
"""

import os
import sys
import time

import korvovyr as kv


def wait_until(condition, timeout_s):
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

    for mode in (kv.Mode.NRT_JOINT_POSITION, kv.Mode.RT_JOINT_TORQUE):
        robot.SwitchMode(mode)
        wait_until(lambda: robot.mode() == mode, 2.0)
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
