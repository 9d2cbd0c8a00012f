#!/usr/bin/env bash
# Runs a Windows program under Wine for a test and passes on its output and
# exit code. The program's output goes through a file: Wine's helper
# processes (services, the desktop) inherit the program's descriptors and may
# outlive it, and must not hold the caller's pipe open.
#
#   wine-run.sh <program.exe> [arguments...]
# WINEPREFIX, DISPLAY and the like come from the environment.
set -uo pipefail

log=$(mktemp)
trap 'rm -f "$log"' EXIT
/usr/bin/wine "$@" </dev/null >"$log" 2>&1
rc=$?
cat "$log"
exit $rc
