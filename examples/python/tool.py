"""Korvo VYR tool example: define a tool, make it the active tool of the first arm, print the TCP
pose before and after, and add a work coordinate at the tool's tip.

Against korvo-sim: `examples/run_demo.sh examples/python/tool.py`; on a real robot, pass its
serial number: `python tool.py Olvar-L-123456`. The robot must be in IDLE mode. What the example
adds is removed again at the end.
"""

import os
import sys
import time

import korvovyr as kv


def tcp_pose(robot: kv.Robot, group: kv.JointGroup) -> list[float]:
    # The states of a few control cycles later show the change.
    time.sleep(0.05)
    return robot.states()[group].tcp_pose


def show(label: str, pose: list[float]) -> None:
    print(f"  {label:14} position [{pose[0]:+.4f}, {pose[1]:+.4f}, {pose[2]:+.4f}] m, "
          f"orientation [{pose[3]:+.3f}, {pose[4]:+.3f}, {pose[5]:+.3f}, {pose[6]:+.3f}]")


def main() -> None:
    serial = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KORVO_DEMO_SERIAL")
    if not serial:
        sys.exit("usage: tool.py SERIAL_NUMBER")
    robot = kv.Robot(serial, verbose=False)
    group = next(iter(robot.info().single_arm_groups))
    tools = kv.Tool(robot)
    print("Tools:", ", ".join(tools.list()), "- active on", kv.kJointGroupNames[group] + ":",
          tools.name(group))

    gauge = kv.ToolParams()
    gauge.mass = 0.8
    gauge.CoM = [0.0, 0.0, 0.06]
    gauge.inertia = [0.002, 0.002, 0.001, 0.0, 0.0, 0.0]
    gauge.tcp_location = [0.0, 0.0, 0.15, 1.0, 0.0, 0.0, 0.0]  # 15 cm along the flange's z
    before = tcp_pose(robot, group)
    tools.Add("Gauge", gauge)
    tools.Switch(group, "Gauge")
    after = tcp_pose(robot, group)
    print("Active tool:", tools.name(group), f"({tools.params(group).mass:.2f} kg)")
    show("TCP at Flange", before)
    show("TCP at Gauge", after)
    moved = sum((a - b) ** 2 for a, b in zip(after[:3], before[:3])) ** 0.5
    print(f"  the TCP moved by {moved * 1000:.1f} mm")

    frames = kv.WorkCoord(robot)
    frames.Add("GaugeTip", after)
    print("Work coordinates:", ", ".join(frames.list()))
    show("GaugeTip", frames.pose("GaugeTip"))

    # Leave the robot as it was.
    frames.Remove("GaugeTip")
    tools.Switch(group, "Flange")
    tools.Remove("Gauge")
    print("Removed GaugeTip and Gauge; active tool:", tools.name(group))


if __name__ == "__main__":
    main()
