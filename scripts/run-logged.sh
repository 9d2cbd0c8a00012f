#!/usr/bin/env bash
# Runs a test command and passes on its output and exit code. The output
# goes through a file: Wine's helper processes (services, the desktop)
# inherit the descriptors of whatever started Wine and may outlive it, and
# must not hold the caller's pipe open.
#
#   run-logged.sh <command> [arguments...]
set -uo pipefail

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" </dev/null >"$log" 2>&1
rc=$?
cat "$log"
exit $rc
