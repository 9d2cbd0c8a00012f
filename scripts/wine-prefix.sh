#!/usr/bin/env bash
# Prepares a Wine prefix for tests: creates it when missing and installs the
# served plug-in's bundle at the fixed place outpost loads it from.
#
#   wine-prefix.sh <prefix> <bundle folder> [display]
#
# With a display (":N"), an Xvfb server is started there unless one already
# runs (its pid is kept in <prefix>.xvfb.pid), so that Wine can create
# windows: Wine binds a prefix's desktop to the display its first program
# saw, so every test of the prefix must use this one display.
#
# Idempotent: an existing prefix is kept, the bundle is replaced by the one
# given. Leaves the prefix's wineserver running (persistent) so that the test
# programs after it start fast; wine-prefix-stop.sh ends it and the Xvfb.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 <prefix> <bundle folder> [display]" >&2
    exit 2
fi
prefix=$1
bundle=$2
display=${3:-}

if [ ! -d "$bundle" ]; then
    echo "wine-prefix: no bundle at $bundle" >&2
    exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

if [ -n "$display" ]; then
    pidfile="$prefix.xvfb.pid"
    number=${display#:}
    running=""
    if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        running=1
    fi
    if [ -z "$running" ]; then
        setsid Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        echo $! >"$pidfile"
        for _ in $(seq 100); do
            [ -S "/tmp/.X11-unix/X$number" ] && break
            sleep 0.05
        done
        if [ ! -S "/tmp/.X11-unix/X$number" ]; then
            echo "wine-prefix: Xvfb did not start on $display" >&2
            exit 1
        fi
        echo "wine-prefix: Xvfb on $display (pid $(cat "$pidfile"))"
    fi
    export DISPLAY=$display
else
    unset DISPLAY
fi

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    echo "wine-prefix: creating $prefix"
    wineboot -i </dev/null >/dev/null 2>&1
    # Wait until the initial set-up has written everything to disk.
    wineserver -w
fi

target="$prefix/drive_c/Program Files/Common Files/VST3/$(basename "$bundle")"
mkdir -p "$(dirname "$target")"
rm -rf "$target"
cp -r "$bundle" "$target"
echo "wine-prefix: installed $(basename "$bundle") in $prefix"

# Keep the server up between the tests (it would otherwise exit and be
# restarted by each test program). Its output must not hold the caller's
# pipes open.
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
