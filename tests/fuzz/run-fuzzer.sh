#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time from its seed corpus.
#
#   run-fuzzer.sh <fuzzer> <seed folder> <seconds>
#
# New inputs go to a scratch folder that is removed afterwards; the seeds
# are only read. A crash leaves its input in the scratch folder's parent
# (printed) and fails. Prints one "[figure]" line with the executions.
set -euo pipefail
fuzzer=$1
seeds=$2
seconds=$3
name=$(basename "$fuzzer")
work=$(mktemp -d "/tmp/qm_${name}_XXXXXX")
trap 'rm -rf "$work/corpus"' EXIT
mkdir -p "$work/corpus"
log="$work/log"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -v '^#[0-9]' "$log" | tail -n 40
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
corpus=$(ls "$work/corpus" | wc -l)
if [ "$status" -ne 0 ]; then
    echo "fuzzer failed with status $status; inputs kept in $work" >&2
    trap - EXIT
    echo "[figure] fuzz | ${name} for ${seconds} s | FAILED after ${runs:-?} executions"
    exit 1
fi
echo "[figure] fuzz | ${name} for ${seconds} s | ${runs:-?} executions, no crash, leak or hang; ${corpus} new corpus inputs"
