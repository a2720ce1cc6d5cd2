"""Streams joint torques at 1 kHz for 10 s: a small damping torque holds the arms in place.

    python joint_torque_loop.py SERIAL_NUMBER [seconds]
"""

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
    robot.SwitchMode(kv.Mode.RT_JOINT_TORQUE)

    arms = list(robot.info().single_arm_groups)
    cmds = {arm: kv.RtJointTorqueCmd([0.0] * robot.info().DoF[arm]) for arm in arms}
    cycles = int(seconds * 1000)
    # The loop's thread on the last core (realtime.py).
    pin_to_cpu((os.cpu_count() or 1) - 1)
    period = Period(0.001)
    for _ in range(cycles):
        states = robot.states()
        for arm in arms:
            cmds[arm].tau_d = [-2.0 * v for v in states[arm].dq]
        robot.StreamJointTorque(cmds)
        period.wait()
    robot.Stop()
    print(
        f"streamed {cycles} joint torque commands; timeliness limit reached: "
        f"{robot.reached_timeliness_failure_limit()}"
    )


if __name__ == "__main__":
    main()
