#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, each on a scratch copy of its committed
# corpus, and reports per target the inputs executed and the findings. A finding's reproducer
# (crash, timeout, out-of-memory or leak input) is copied to tests/fuzz/regressions/<target>/.
#
#   run_fuzz.sh <fuzz build folder> <seconds per target> [target...]
#
# Exits 1 when there was a finding, 2 when a target did not run.
set -uo pipefail

build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(vyr_msg qel_msg std_msg param_value urdf sim_requests)
fi

runs="$build/fuzz-runs"
rm -rf "$runs"
mkdir -p "$runs"
total=0
total_findings=0
status=0
summary=()
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz_$t was not built" >&2
    status=2
    continue
  fi
  work="$runs/$t"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$here/corpus/$t/"* "$work/corpus/" 2>/dev/null
  args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
        -close_fd_mask=1 -artifact_prefix="$work/artifacts/")
  [ -f "$here/$t.dict" ] && args+=(-dict="$here/$t.dict")
  echo "== fuzz_$t for ${seconds} s"
  "$bin" "${args[@]}" "$work/corpus" >"$work/log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  execs=${execs:-0}
  findings=0
  for f in "$work/artifacts/"*; do
    [ -f "$f" ] || continue
    findings=$((findings + 1))
    mkdir -p "$here/regressions/$t"
    cp "$f" "$here/regressions/$t/"
    echo "   finding: $(basename "$f") -> tests/fuzz/regressions/$t/ (log: $work/log)"
  done
  if [ "$rc" -ne 0 ] && [ "$findings" -eq 0 ]; then
    echo "   fuzz_$t exited with $rc and left no reproducer (log: $work/log)"
    status=2
  fi
  total=$((total + execs))
  total_findings=$((total_findings + findings))
  summary+=("$(printf '%-14s %14s executions %3s findings' "$t" "$execs" "$findings")")
done

echo "== fuzz summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
printf '%-14s %14s executions %3s findings\n' total "$total" "$total_findings"
if [ "$total_findings" -gt 0 ]; then
  exit 1
fi
exit "$status"
