#!/usr/bin/env bash
# Starts korvo-sim on loopback, runs a Python example against it (the demo unless another is
# named: examples/run_demo.sh examples/python/gripper.py), and stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=.venv
DEMO=build/demo
EXAMPLE=${1:-examples/python/demo.py}
mkdir -p "$DEMO"

port=$("$VENV/bin/python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
scouting='scouting: { multicast: { enabled: false }, gossip: { enabled: false } }'
echo "{ mode: \"peer\", listen: { endpoints: [\"tcp/127.0.0.1:$port\"] }, $scouting }" > "$DEMO/sim.json5"
echo "{ mode: \"peer\", listen: { endpoints: [] }, connect: { endpoints: [\"tcp/127.0.0.1:$port\"] }, $scouting }" > "$DEMO/client.json5"

serial=Olvar-L-000001
"$VENV/bin/korvo-sim" --model Olvar-L --serial "$serial" --config "$DEMO/sim.json5" &
sim=$!
trap 'kill -INT $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT

ZENOH_CONFIG="$DEMO/client.json5" KORVO_DEMO_SERIAL="$serial" "$VENV/bin/python" "$EXAMPLE"
