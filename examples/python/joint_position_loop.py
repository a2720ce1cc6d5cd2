"""Streams joint positions at 1 kHz for 10 s: every arm joint swings 0.1 rad around its start.

    python joint_position_loop.py SERIAL_NUMBER [seconds]
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
    robot.SwitchMode(kv.Mode.RT_JOINT_POSITION)

    start = robot.states()
    arms = list(robot.info().single_arm_groups)
    w = 2 * math.pi * 0.25  # one swing every 4 s
    cycles = int(seconds * 1000)
    # The loop's thread on the last core (realtime.py).
    pin_to_cpu((os.cpu_count() or 1) - 1)
    period = Period(0.001)
    for i in range(cycles):
        t = i * 0.001
        offset, speed, accel = (
            0.1 * math.sin(w * t),
            0.1 * w * math.cos(w * t),
            -0.1 * w * w * math.sin(w * t),
        )
        cmds = {
            arm: kv.RtJointPositionCmd(
                [q + offset for q in start[arm].q],
                [speed] * len(start[arm].q),
                [accel] * len(start[arm].q),
            )
            for arm in arms
        }
        robot.StreamJointPosition(cmds)
        period.wait()
    robot.Stop()
    print(
        f"streamed {cycles} joint position commands; timeliness limit reached: "
        f"{robot.reached_timeliness_failure_limit()}"
    )


if __name__ == "__main__":
    main()
