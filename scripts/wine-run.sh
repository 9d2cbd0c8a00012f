#!/usr/bin/env bash
# Runs a Windows program under Wine for a test (see run-logged.sh).
#
#   wine-run.sh <program.exe> [arguments...]
# WINEPREFIX, DISPLAY and the like come from the environment.
exec bash "$(dirname "$0")/run-logged.sh" /usr/bin/wine "$@"
