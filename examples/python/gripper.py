"""Korvo VYR gripper example: enable the gripper of the first arm, initialize it, grasp and
release, printing the fingers' width and force as they move.

Against korvo-sim: `examples/run_demo.sh examples/python/gripper.py`; on a real robot, pass its
serial number and the gripper's device name: `python gripper.py Olvar-L-123456 Gripper1`.
"""

import os
import sys
import time

import korvovyr as kv


def watch(gripper: kv.Gripper, group: kv.JointGroup, what: str,
          timeout_s: float = 10.0) -> kv.GripperStates:
    """Prints the gripper's state until its fingers have come to rest."""
    deadline = time.monotonic() + timeout_s
    time.sleep(0.05)  # the fingers start moving within a few control cycles
    while True:
        state = gripper.states()[group]
        print(f"  {what:8} width {state.width * 1000:6.1f} mm  force {state.force:5.1f} N"
              + ("  moving" if state.is_moving else ""))
        if not state.is_moving or time.monotonic() > deadline:
            return state
        time.sleep(0.1)


def main() -> None:
    serial = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KORVO_DEMO_SERIAL")
    if not serial:
        sys.exit("usage: gripper.py SERIAL_NUMBER [GRIPPER_NAME]")
    robot = kv.Robot(serial, verbose=False)
    group = next(iter(robot.info().single_arm_groups))

    devices = kv.Device(robot)
    print("Devices:", ", ".join(devices.list()))
    name = sys.argv[2] if len(sys.argv) > 2 else next(
        (d for d in devices.list() if d.startswith("Gripper")), None)
    if name is None:
        sys.exit("No gripper found among the robot's devices")

    gripper = kv.Gripper(robot)
    gripper.Enable(group, name)
    params = gripper.params()[group]
    print(f"Enabled {name} on {kv.kJointGroupNames[group]}: width "
          f"[{params.min_width:.3f}, {params.max_width:.3f}] m, force "
          f"[{params.min_force:.0f}, {params.max_force:.0f}] N, velocity "
          f"[{params.min_vel:.3f}, {params.max_vel:.3f}] m/s")

    gripper.Init(group)
    watch(gripper, group, "init")

    gripper.Grasp(group, min(20.0, params.max_force))
    held = watch(gripper, group, "grasp")
    print(f"Grasped: width {held.width * 1000:.1f} mm, force {held.force:.1f} N")

    gripper.Move(group, params.max_width, params.max_vel / 2, min(10.0, params.max_force))
    watch(gripper, group, "release")

    gripper.Disable(group)
    print("Disabled", name)


if __name__ == "__main__":
    main()
