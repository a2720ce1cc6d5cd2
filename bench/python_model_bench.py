"""The cost of each Model query from Python (binding, conversion to NumPy and the computation),
for an Olvar-L against a simulated robot in this process. Compare with the C++ figures of
build/bench/model_bench for the binding's share.

    .venv/bin/python bench/python_model_bench.py
"""

import statistics
import time

from simulated import simulated_robot


def main() -> None:
    with simulated_robot("Olvar-L", "Olvar-L-000001") as (kv, robot):
        model = kv.Model(robot)
        n = len(model.joint_names())
        flange = next(name for name in model.link_names() if name.endswith(".arm1.flange"))
        q, dq = [0.3] * n, [0.2] * n
        model.Update(q, dq)
        queries = {
            "Update": lambda: model.Update(q, dq),
            "J": lambda: model.J(flange),
            "dJ": lambda: model.dJ(flange),
            "M": model.M,
            "C": model.C,
            "g": model.g,
            "c": model.c,
            "T": lambda: model.T(flange),
        }
        for name, query in queries.items():
            batches = []
            for _ in range(20):
                count = 2000
                start = time.perf_counter()
                for _ in range(count):
                    query()
                batches.append((time.perf_counter() - start) / count * 1e6)
            print(f"Model.{name} from Python, {n} DoF: median {statistics.median(batches):.2f} us "
                  f"per call (min {min(batches):.2f}, 20 batches of 2000)")
        del model


if __name__ == "__main__":
    main()
