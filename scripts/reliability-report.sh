#!/usr/bin/env bash
# Runs the hardening tests (real-time watch, faults, fuzzers: the tests named
# hardening.* and fuzz.*) in a configured and built build folder and writes
# docs/reliability.md from what they print: every "[figure] AREA | WHAT |
# RESULT" line becomes a row, and each test's verdict is listed under it.
#
#   reliability-report.sh [build] [output]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/reliability.md}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

status=0
(cd "$build" && ctest -R '^(hardening|fuzz)\.|SharedFile\.' -V) >"$log" 2>&1 || status=$?

# The sanitizer builds of `make test-sanitize`, when they are there: one row
# each from ctest's own count.
skip='^(wineprefix|windows|hardening|fuzz|demo|HostLoadsBundle)|_NOT_BUILT$'
sanitized() {
    local dir=$1 what=$2 result
    shift 2
    [ -d "$dir" ] || return 0
    result=$(cd "$dir" && "$@" ctest -j 2 -E "$skip" -LE "e2e|editor|tools" 2>&1 | grep -E 'tests passed' || true)
    echo "[figure] sanitize | $what | ${result:-no result}" >>"$log"
    [[ "$result" == "100% tests passed"* ]] || status=1
}
sanitized "$build-asan" "native plug-in and outpost tests under ASan + UBSan (leaks on)" env
sanitized "$build-tsan" "native plug-in and outpost tests under TSan" setarch "$(uname -m)" -R

{
    echo "# Reliability: what was tried and what held"
    echo
    echo "Produced by \`scripts/reliability-report.sh\` from the output of the hardening"
    echo "tests (\`ctest -R '^(hardening|fuzz)\\.|SharedFile\\.'\`) on $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -sr)."
    echo "Each row is one figure a test printed; the verdicts of the tests follow."
    echo
    echo "| Area | What was tried | What held |"
    echo "|---|---|---|"
    sed -n 's/^[0-9]*: \[figure\] //p; s/^\[figure\] //p' "$log" |
        awk -F' \\| ' '{ printf "| %s | %s | %s |\n", $1, $2, $3 }'
    echo
    echo "## How"
    echo
    echo "- **rt**: \`rt_guard\` replaces malloc, calloc, realloc, free, the aligned"
    echo "  allocators, operator new/delete, pthread_mutex_lock/trylock, nanosleep,"
    echo "  clock_nanosleep, usleep and sleep in the test program (and, exported, for the"
    echo "  bundle it loads) and counts calls of the armed audio thread. A seccomp filter on"
    echo "  that thread traps every system call and counts it before making it. No block"
    echo "  may allocate, lock, sleep or write (log lines go to a writer thread). A clean"
    echo "  block, answered within the spin window, makes no system call at all; a block"
    echo "  that waited longer may only probe outpost's liveness and use the futex."
    echo "- **lifetime**: processor time from /proc while no block comes; a host killed"
    echo "  with SIGKILL, and how long its outpost and shared file outlive it."
    echo "- **faults**: blocks carry distinct samples; the stand-in halves them, so a"
    echo "  block is processed (halved), passed through (unchanged) or stale (anything"
    echo "  else, which would be another block's output). Four processors under Wine"
    echo "  each stream their own constant level through Quill at their own gain, so a"
    echo "  block of another processor's audio would come back at another level."
    echo "- **inputs**: the shared file against a second account that the test makes"
    echo "  with useradd (as root) and removes afterwards; its actions run in a child"
    echo "  process with that account's ids."
    echo "- **fuzz**: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, from"
    echo "  the seed corpora in \`tests/fuzz/corpus/\`; outpost's file is an allocation of"
    echo "  exactly the file's size, so a read or write outside it is reported."
    echo
    echo "## Test verdicts"
    echo
    echo '```'
    grep -E '^ *[0-9]+/[0-9]+ Test +#' "$log" | sed 's/^ *//; s/  */ /g'
    grep -E '^[0-9]+% tests passed' "$log" || true
    echo '```'
} >"$out"
echo "wrote $out"
exit "$status"
