#!/usr/bin/env bash
# Stops what wine-prefix.sh left running for a test prefix: the prefix's
# wineserver (and with it the prefix's Wine processes), then the Xvfb it
# started, by the pid it recorded.
#
#   wine-prefix-stop.sh <prefix>
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 <prefix>" >&2
    exit 2
fi
prefix=$1
if [ -d "$prefix" ]; then
    export WINEPREFIX=$prefix
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
fi
pidfile="$prefix.xvfb.pid"
if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
    fi
    rm -f "$pidfile"
fi
exit 0
