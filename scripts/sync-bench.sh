#!/usr/bin/env bash
# The quillmarlow figures of `make bench`: a sync of 20 plug-ins with a warm
# prefix (Quill and 19 copies of the several-classes module under other
# names, so other class ids), a second sync with nothing changed, a host's
# scan of one made bundle (vst3host list: load, factory, classes), and one
# served instance's start and memory with a cold and a warm prefix. The
# figures go to standard output and to <build>/bench/sync.txt.
#
#   sync-bench.sh <build dir>     (WINEPREFIX set to a prefix with Quill.vst3)
set -euo pipefail
build=$(cd "$1" && pwd)
out="$build/bench"
vst3="$WINEPREFIX/drive_c/Program Files/Common Files/VST3"
copies="$vst3/QMBench"
dir=$(mktemp -d /tmp/qm-sync-bench-XXXXXX)
trap 'rm -rf "$copies" "$dir"' EXIT

rm -rf "$copies"
mkdir -p "$copies"
for i in $(seq -w 1 19); do
    cp "$build/windows/served/modules/Named.vst3" "$copies/Bench Plug-in $i.vst3"
done
count=$(find "$vst3" -name '*.vst3' -prune | wc -l)

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }

{
    echo "quillmarlow, $count plug-ins in the prefix, warm prefix:"
    wine cmd /c exit >/dev/null 2>&1 || true   # the prefix's wineserver runs: warm
    t0=$(seconds); "$build/bin/quillmarlow" sync --vst3-dir "$dir" >"$out/sync_first.log" 2>&1; t1=$(seconds)
    printf '  first sync:   %.2f s (%s)\n' "$(elapsed "$t0" "$t1")" "$(tail -1 "$out/sync_first.log")"
    t0=$(seconds); "$build/bin/quillmarlow" sync --vst3-dir "$dir" >"$out/sync_second.log" 2>&1; t1=$(seconds)
    printf '  second sync:  %.3f s (%s)\n' "$(elapsed "$t0" "$t1")" "$(tail -1 "$out/sync_second.log")"
    bundle="$dir/Bench Plug-in 01.vst3"
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    best=""
    for run in 1 2 3 4 5; do
        t0=$(seconds); "$build/bin/vst3host" list "$bundle" >/dev/null; t1=$(seconds)
        s=$(elapsed "$t0" "$t1")
        if [ -z "$best" ] || awk -v s="$s" -v b="$best" 'BEGIN { exit !(s < b) }'; then best=$s; fi
    done
    printf '  scan of one made bundle (vst3host list, with the prefix cold, best of 5): %.3f s\n' "$best"
    echo "  one served instance (activation to its first processed block; memory as PSS):"
    # The instances' own log lines go to the log; their figures here.
    served() { "$out/served_bench" "$bundle" --label "$1" 2>>"$out/bridge_bench.log" | grep -e '^cold' -e '^warm' || true; }
    served "cold prefix"
    wineserver -p >/dev/null 2>&1 || true
    for run in 1 2 3; do served "warm prefix"; done
} | tee "$out/sync.txt"
