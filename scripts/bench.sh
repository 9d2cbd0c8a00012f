#!/usr/bin/env bash
# `make bench`: runs the benchmarks, prints their tables and writes them as
# one JSON file, <build>/bench/results.json. The measured instances' own log
# lines go to <build>/bench/bridge_bench.log. The chain figures beside the
# machine's floor are drawn into <build>/bench/chains.png when the build has
# the plotting tool.
#
# A copy of an earlier build's bundle in <build>/bench/baseline/QuillMarlow.vst3
# (`make bench-baseline` builds the build before) is measured first (chains,
# and round trips back to back), for a comparison in the same run; its chains
# are drawn beside this build's and printed beside this build's chain targets
# (median, cycles over budget, outposts' CPU); and a stereo effect's blocks
# through it and through this build are measured in turns (beside_bench).
#
# The host's user-interface calls against a busy outpost, with Quill's editor
# open, run on an Xvfb display of their own (ui_bench).
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
baseline="$out/baseline/QuillMarlow.vst3/Contents/x86_64-linux/QuillMarlow.so"
if [ -f "$baseline" ]; then
    "$out/bridge_bench" --compare-only --bundle "$baseline" --design baseline --json "$out/baseline.json" \
        --host-fifo 70 --log "$out/baseline.log" --tsv "$out/baseline_chains.tsv"
    echo
fi
# Hosts run their audio threads at real-time priority where the system
# allows it: the chains are measured that way too.
# The chains' targets are printed beside the build before's figures.
before=()
if [ -f "$baseline" ]; then before=(--before "$out/baseline.json"); fi
"$out/bridge_bench" --json "$out/bridge.json" --log "$out/bridge_bench.log" --tsv "$out/chains.tsv" --host-fifo 70 \
    "${before[@]}"
echo
# The editor needs a display: a private Xvfb, and a Wine server that knows it.
if command -v Xvfb >/dev/null; then
    display=":$((90 + $$ % 9))"
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
    sleep 1
    wineserver -k >/dev/null 2>&1 || true
    DISPLAY="$display" "$out/ui_bench" --json "$out/ui.json" --log "$out/ui_bench.log" | tee "$out/ui.txt"
    wineserver -k >/dev/null 2>&1 || true
    kill $xvfb 2>/dev/null || true
    echo
fi
# A session of instances alone and grouped; their log lines go with the bridge bench's.
"$out/group_bench" 2>>"$out/bridge_bench.log" | grep -v -e '^\[' -e '^=== Tandem Host' -e '^Version: ' | tee "$out/group.txt"
echo
# The instances' log lines go with the bridge bench's; the figures to the terminal.
"$out/parameters_bench" 2>>"$out/bridge_bench.log" | grep -v -e '^\[' -e '^=== Tandem Host' -e '^Version: ' | tee "$out/parameters.txt"
echo
bash "$root/scripts/sync-bench.sh" "$build" 2>>"$out/bridge_bench.log"
echo
"$out/buses_bench" 2>>"$out/bridge_bench.log" | grep -v -e '^\[' -e '^=== Tandem Host' -e '^Version: ' | tee "$out/buses.txt"
if [ -f "$baseline" ]; then
    echo
    "$out/beside_bench" --before "$baseline" | tee "$out/beside.txt"
fi
{
    echo '{"in_process": '
    cat "$out/process.json"
    echo ', "bridge": '
    cat "$out/bridge.json"
    if [ -f "$baseline" ]; then
        echo ', "baseline": '
        cat "$out/baseline.json"
    fi
    if [ -f "$out/ui.json" ]; then
        echo ', "ui_thread": '
        cat "$out/ui.json"
    fi
    echo '}'
} >"$out/results.json"
# The build before beside this one: its chains as series of their own.
picture="$out/chains.tsv"
if [ -f "$baseline" ] && [ -f "$out/baseline_chains.tsv" ]; then
    picture="$out/chains_with_baseline.tsv"
    { cat "$out/chains.tsv"
      awk -F'\t' 'NR > 1 && $2 ~ /^bridge / { sub(/^bridge/, "before", $2); print $1 "\t" $2 "\t" $3 }' \
          "$out/baseline_chains.tsv"; } >"$picture"
fi
if [ -x "$build/bin/plotbars" ]; then
    "$build/bin/plotbars" "$picture" "$out/chains.png" \
        --title "Chains on one host thread at real-time pace, beside the machine's floor" --ylabel "whole chain (us)" \
        --log-y
    echo "bench: chain figures drawn in $out/chains.png"
fi
echo
echo "bench: results written to $out/results.json; the instances' log lines are in $out/bridge_bench.log"
