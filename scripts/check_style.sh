#!/usr/bin/env bash
# Checks that our own sources are formatted as .clang-format says; prints
# each file clang-format would change and exits 1 when there is one.
# Usage: scripts/check_style.sh [REPO]   (--list prints the files checked)
# Format them with: clang-format -i $(scripts/check_style.sh --list)
set -uo pipefail
list=false
[ "${1:-}" = "--list" ] && { list=true; shift; }
cd "${1:-$(dirname "$0")/..}"
# The SDK's stand-ins under sdk/ keep the SDK's own text.
files=$(git ls-files plugin outpost protocol served tools log tests bench sdk/ref_counted.h | grep -E '\.(cpp|h)$')
if $list; then
    printf '%s\n' $files
    exit 0
fi
unformatted=$(clang-format --dry-run $files 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning:.*/\1/p' | sort -u)
[ -z "$unformatted" ] && exit 0
printf 'not formatted as .clang-format says: %s\n' $unformatted
exit 1
