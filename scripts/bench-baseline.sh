#!/usr/bin/env bash
# `make bench-baseline`: builds the bridge of an earlier commit (by default
# the one before instruments, events and chains woken ahead) and puts its
# bundle where `make bench` measures it beside this build:
# <build>/bench/baseline/QuillMarlow.vst3. Its sources and build tree stay
# in <build>/bench/baseline-src, so a second run only builds what changed.
#
#   bench-baseline.sh [build dir] [commit]
set -euo pipefail
build=$(mkdir -p "${1:-build}" && cd "${1:-build}" && pwd)
commit="${2:-591b9cf}"
root=$(cd "$(dirname "$0")/.." && pwd)
src="$build/bench/baseline-src"

mkdir -p "$src"
git -C "$root" archive --format=tar "$commit" | tar -x -C "$src"
cmake -S "$src" -B "$src/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$src/build" -j "$(nproc)" --target QuillMarlow bundle_outpost
rm -rf "$build/bench/baseline"
mkdir -p "$build/bench/baseline"
cp -r "$src/build/QuillMarlow.vst3" "$build/bench/baseline/"
echo "The bridge of $commit is measured beside this build: $build/bench/baseline/QuillMarlow.vst3"
