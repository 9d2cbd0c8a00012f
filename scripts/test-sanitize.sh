#!/usr/bin/env bash
# The native tests under sanitizers, each variant in a build folder of its
# own next to the main one:
#   <build>-asan  AddressSanitizer with UndefinedBehaviorSanitizer (leaks
#                 included): plug-in, editor view and outpost native tests;
#   <build>-tsan  ThreadSanitizer: the plug-in and outpost native tests,
#                 which run threads (registry, state waits, spinning stand-in
#                 audio threads, the editor's event thread is in the above).
# Tests that need Wine, the fuzzers (sanitized already) and the hardening
# tests (they replace malloc themselves) are left out. Any report fails.
#
#   test-sanitize.sh [build] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${2:-2}
skip='^(wineprefix|windows|hardening|fuzz|demo|HostLoadsBundle)|_NOT_BUILT$'
here=$PWD

# ctest in <dir> with the given arguments; on a failure the failure
# messages come again at the end.
run_ctest() {
    local dir=$1
    shift
    (cd "$dir" && "$@") || { bash "$here/scripts/test-failures.sh" "$dir"; exit 1; }
}

run_variant() {
    local dir=$1 flags=$2 targets=$3
    echo "=== $dir: $flags"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
        -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" --target $targets
    run_ctest "$dir" ctest --output-on-failure -j "$jobs" -E "$skip" -LE "e2e|editor"
    # The editor tests wait on a window manager and an X server in real time;
    # slowed down by the sanitizers, one may miss a wait: a second run decides
    # (a sanitizer report fails every run).
    run_ctest "$dir" ctest --output-on-failure -j "$jobs" -E "$skip" -L editor --repeat until-pass:2
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
# What fontconfig holds until the process ends (plotbars draws text with it) is no leak of ours.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# vptr checks need the type information of classes that only the Windows
# build has (PlugFrame), so they are left out.
run_variant "$build-asan" "-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    "fake_outpost QuillMarlow plugin_tests editor_tests outpost_native_tests plotbars"

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# ThreadSanitizer needs the address layout it knows: no randomisation. It
# does not model fences (gcc warns); the fenced flags are shared with
# another process anyway, which no sanitizer sees.
tsan_dir="$build-tsan"
echo "=== $tsan_dir: -fsanitize=thread"
cmake -S . -B "$tsan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -Wno-tsan" -DCMAKE_C_FLAGS="-fsanitize=thread -Wno-tsan" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target fake_outpost QuillMarlow plugin_tests outpost_native_tests
run_ctest "$tsan_dir" setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs" -E "$skip" -LE "e2e|editor|tools"
