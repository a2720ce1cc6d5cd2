"""A request's round trip from Python to korvo-sim in another process, three ways: the module's
own call (Robot.plan_list()), the same request through the zenoh bridge alone (the test-only
middleware module's RPC client) and through upstream zenoh's Python binding (eclipse-zenoh, the
third reference; `pip install -r bench/requirements.txt`, skipped when missing). Alternating, so
that the machine's moods fall on all three alike. Microseconds.

    .venv/bin/python bench/python_rpc_bench.py [ROUND_TRIPS]   (default 2000 each)
"""

import os
import subprocess
import sys
import tempfile
import time

import korvo_mdw_test as mt
import korvosim

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SIM = os.path.join(ROOT, "build", "sim", "korvo-sim")
SERIAL = "Olvar-LL-000001"
PLAN_LIST = 7


def percentiles(values):
    values = sorted(values)
    at = lambda q: values[min(len(values) - 1, int(q * len(values)))]  # noqa: E731
    return at(0.5), at(0.99), at(0.999), values[-1]


def main() -> None:
    trips = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    try:
        import zenoh  # upstream zenoh's Python binding
    except ImportError:
        zenoh = None
    port = korvosim.free_port()
    with tempfile.TemporaryDirectory() as directory:
        listener = os.path.join(directory, "robot.json5")
        connector = os.path.join(directory, "client.json5")
        korvosim.write_config(korvosim.listener_config(port), listener)
        korvosim.write_config(korvosim.connector_config(port), connector)
        sim = subprocess.Popen(
            [SIM, "--model", "Olvar-LL", "--serial", SERIAL, "--config", listener, "--ready"],
            stdout=subprocess.PIPE, text=True,
        )
        try:
            sim.stdout.readline()  # "korvo-sim: hosting ..."
            os.environ["ZENOH_CONFIG"] = connector
            import korvovyr as kv

            robot = kv.Robot(SERIAL, verbose=False)
            bridge = mt.Session(korvosim.connector_config(port))
            rpc = mt.VyrRpcClient(bridge, f"korvo/vyr/{SERIAL}/rpc")
            request = mt.vyr_msg.RPCRequest()
            request.op_code = PLAN_LIST
            request_bytes = request.encode()
            upstream = None
            if zenoh is not None:
                config = zenoh.Config.from_json5(korvosim.connector_config(port))
                upstream = zenoh.open(config)

            def ours():
                robot.plan_list()

            def bare():
                assert rpc.call(request, 2.0) is not None

            def reference():
                replies = list(upstream.get(f"korvo/vyr/{SERIAL}/rpc", payload=request_bytes,
                                            timeout=2.0))
                assert replies and replies[0].ok is not None

            ways = {"plan_list()": ours, "bridge RPC client": bare}
            if upstream is not None:
                ways["upstream zenoh get"] = reference
            for call in ways.values():  # warm up
                for _ in range(50):
                    call()
            spent = {name: [] for name in ways}
            for _ in range(trips):
                for name, call in ways.items():
                    start = time.perf_counter()
                    call()
                    spent[name].append((time.perf_counter() - start) * 1e6)
            print(f"round trip from Python to korvo-sim in another process, {trips} each, "
                  "microseconds")
            print(f"{'':22} {'p50':>8} {'p99':>8} {'p99.9':>8} {'max':>8}")
            for name, values in spent.items():
                print(f"{name:22} " + " ".join(f"{v:8.1f}" for v in percentiles(values)))
            if upstream is None:
                print("upstream zenoh get: skipped (pip install -r bench/requirements.txt)")
            else:
                mine, theirs = percentiles(spent["plan_list()"]), percentiles(
                    spent["upstream zenoh get"])
                print("plan_list() / upstream: " + " ".join(
                    f"{a / b:.2f}" for a, b in zip(mine, theirs)) + "  (p50 p99 p99.9 max)")
                upstream.close()
            rpc.close()
            bridge.close()
            del robot
        finally:
            sim.terminate()
            sim.wait(timeout=30)


if __name__ == "__main__":
    main()
