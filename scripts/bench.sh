#!/usr/bin/env bash
# `make bench`: runs the benchmarks, prints their tables and writes them as
# one JSON file, <build>/bench/results.json.
#
#   bench.sh [build dir]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
out="$build/bench"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$build/windows/served/Quill.vst3" >/dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

"$out/process_bench" --json "$out/process.json"
echo
# Wine's helpers inherit descriptors (see run-logged.sh); outpost's own
# lines are left out of the table.
"$root/scripts/run-logged.sh" "$out/bridge_bench" --json "$out/bridge.json" |
    grep -v -E '^(\[|=== Tandem Host|Version: )' || true
{
    echo '{"in_process": '
    cat "$out/process.json"
    echo ', "bridge": '
    cat "$out/bridge.json"
    echo '}'
} >"$out/results.json"
echo
echo "bench: results written to $out/results.json"
