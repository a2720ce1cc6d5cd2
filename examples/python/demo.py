"""Korvo VYR demo: what the korvovyr module offers.

Until the simulated robot joins the project, the demo imports the module and prints its
constants, enumerations and name tables.
"""

import korvovyr as kv


def main() -> None:
    print(kv.__doc__)
    for name in ("kCartDoF", "kSerialJointDoF", "kPoseSize", "kIOPorts", "kMaxExtAxes",
                 "kSafetyIOPorts"):
        print(f"{name:16} = {getattr(kv, name)}")
    print("Product models:", ", ".join(kv.kProductModelNames.values()))
    print("Joint groups:  ", ", ".join(kv.kJointGroupNames.values()))
    print("Control modes: ", ", ".join(kv.kModeNames.values()))
    target = kv.JPos([0, -40, 0, 90, 0, 40, 0])
    print("A joint target:", target)
    print("Its repr:      ", repr(target))


if __name__ == "__main__":
    main()
