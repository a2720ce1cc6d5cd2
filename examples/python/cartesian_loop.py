"""Streams Cartesian poses at 1 kHz for 10 s: each arm's TCP sways 3 cm to and fro along the
world's y axis, keeping its orientation, under the robot's Cartesian impedance; then prints the
largest distance between a TCP and its target.

    python cartesian_loop.py SERIAL_NUMBER [seconds]
"""

import math
import os
import sys
import time

import korvovyr as kv
from realtime import Period, pin_to_cpu, prepare_realtime


def main() -> None:
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    # Locked memory and SCHED_FIFO before connecting, for zenoh's threads too (realtime.py).
    prepare_realtime(80)
    robot = kv.Robot(sys.argv[1], verbose=False)
    if not robot.operational():
        robot.ServoOn()
        while not robot.operational():
            time.sleep(0.05)
    robot.SwitchMode(kv.Mode.RT_CARTESIAN_MOTION_FORCE)

    arms = list(robot.info().single_arm_groups)
    start = {arm: list(robot.states()[arm].tcp_pose) for arm in arms}
    w = 2 * math.pi * 0.25  # one sway every 4 s
    cycles = int(seconds * 1000)
    worst = 0.0
    # The loop's thread on the last core (realtime.py).
    pin_to_cpu((os.cpu_count() or 1) - 1)
    period = Period(0.001)
    for i in range(cycles):
        t = i * 0.001
        # The sway starts and ends at rest: y = 3 cm * (1 - cos(w t)) / 2.
        y, vy = 0.015 * (1 - math.cos(w * t)), 0.015 * w * math.sin(w * t)
        cmds = {}
        for arm in arms:
            pose = list(start[arm])
            pose[1] += y
            cmds[arm] = kv.RtCartesianCmd(pose, [0.0] * 6, [0.0, vy, 0.0, 0.0, 0.0, 0.0])
        robot.StreamCartesianMotionForce(cmds)
        states = robot.states()
        for arm in arms:
            worst = max(worst, math.dist(states[arm].tcp_pose[:3], cmds[arm].pose_d[:3]))
        period.wait()
    robot.Stop()
    print(
        f"streamed {cycles} Cartesian commands; largest TCP tracking error: {worst * 1000:.1f} mm; "
        f"timeliness limit reached: {robot.reached_timeliness_failure_limit()}"
    )


if __name__ == "__main__":
    main()
