#!/usr/bin/env bash
# The demo: shows the built bundle and runs a launch of the bridge against
# the native stand-in for outpost.
set -euo pipefail
build=${1:-build}
so="$build/QuillMarlow.vst3/Contents/x86_64-linux/QuillMarlow.so"
[ -f "$so" ] || { echo "demo: $so is missing; run 'make build' first" >&2; exit 1; }

echo "Bundle: $build/QuillMarlow.vst3"
echo "Exported symbols:"
nm -D --defined-only "$so" | awk '{print "  " $3}'
echo
echo "Launch smoke (activation, readiness, reuse, termination):"
cd "$build" && ctest --output-on-failure -R 'ProcessorLifecycle.ActivationLaunchesWaitsForReadinessAndReuses'
