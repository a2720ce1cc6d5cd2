"""The cost of one StreamJointTorque call from Python (binding, checks, conversion, publication),
for one and for two arms, against a simulated robot in this process.

    .venv/bin/python bench/python_stream_bench.py
"""

import statistics
import time

from simulated import simulated_robot


def main() -> None:
    with simulated_robot("Olvar-LL", "Olvar-LL-000001") as (kv, robot):
        robot.SwitchMode(kv.Mode.RT_JOINT_TORQUE)
        for arms in (1, 2):
            groups = [kv.JointGroup.ARM_1, kv.JointGroup.ARM_2][:arms]
            cmds = {g: kv.RtJointTorqueCmd([0.1] * 7) for g in groups}
            batches = []
            for _ in range(30):
                n = 1000
                start = time.perf_counter()
                for _ in range(n):
                    robot.StreamJointTorque(cmds)
                batches.append((time.perf_counter() - start) / n * 1e6)
            print(f"StreamJointTorque from Python, {arms} arm(s): median {statistics.median(batches):.2f} us "
                  f"per call (min {min(batches):.2f}, max {max(batches):.2f}, 30 batches of 1000)")
        robot.Stop()


if __name__ == "__main__":
    main()
