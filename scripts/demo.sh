#!/usr/bin/env bash
# The demo: a generated sound through QuillMarlow.vst3 -> outpost.exe under
# Wine -> the served Quill plug-in and back, its state saved and restored, a
# before/after picture and a screenshot of the embedded editor.
#
#   demo.sh [build dir]
# Writes everything to <build>/demo and says where each file is.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bundle="$build/QuillMarlow.vst3"
served="$build/windows/served/Quill.vst3"
bin="$build/bin"
out="$build/demo"
for f in "$bundle/Contents/x86_64-linux/QuillMarlow.so" "$bundle/Contents/Resources/outpost.exe" \
         "$served" "$bin/vst3host" "$bin/demosound" "$bin/wavepicture"; do
    [ -e "$f" ] || { echo "demo: $f is missing; run 'make build' first" >&2; exit 1; }
done
mkdir -p "$out"

# A display for Wine and the editor: the user's, or a private Xvfb.
xvfb_pid=""
cleanup() {
    WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    for n in $(seq 120 199); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
    echo "demo: using a private X server on $DISPLAY"
fi

# A Wine prefix of the demo's own with Quill at the fixed place.
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "demo: preparing the Wine prefix (the first time takes a while)..."
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$served" >/dev/null

log="$out/bridge.log"
: >"$log"
# Shows the host's own lines of a run's output; the bridge's lines (tagged,
# and outpost's banner) go to the log.
show() {
    grep -v -E '^(\[|=== Tandem Host|Version: )' "$1" || true
    grep -E '^(\[|=== Tandem Host|Version: )' "$1" >>"$log" || true
}

echo "demo: generating the demo sound"
"$bin/demosound" "$out/before.wav" --seconds 4

echo "demo: processing it through QuillMarlow.vst3 (state saved afterwards)"
"$bin/vst3host" process "$bundle" "$out/before.wav" "$out/after.wav" --block 256 \
    --realtime --save-state "$out/quill.state" >"$out/process.txt" 2>>"$log"
show "$out/process.txt"

echo "demo: processing again in a fresh plug-in with the saved state restored"
"$bin/vst3host" process "$bundle" "$out/before.wav" "$out/restored.wav" --block 256 \
    --realtime --load-state "$out/quill.state" --save-state "$out/quill-restored.state" \
    >"$out/restore.txt" 2>>"$log"
show "$out/restore.txt" >/dev/null
if cmp -s "$out/quill.state" "$out/quill-restored.state"; then
    echo "demo: the restored state came back bit-exact ($(stat -c %s "$out/quill.state") bytes)"
else
    echo "demo: the restored state differs from the saved one (see $log)" >&2
    exit 1
fi

"$bin/wavepicture" "$out/before.wav" "$out/after.wav" "$out/before-after.png"

echo "demo: opening the editor embedded in a host window"
editor_note=""
if ! "$bin/vst3host" editor "$bundle" --seconds 3 --screenshot "$out/editor.png" >"$out/editor.txt" 2>>"$log"; then
    editor_note=" (not written: see $log)"
fi
show "$out/editor.txt"

cat <<DONE

demo: done. Files:
  input sound           $out/before.wav
  processed sound       $out/after.wav
  with restored state   $out/restored.wav
  saved state           $out/quill.state
  state after restore   $out/quill-restored.state
  before/after picture  $out/before-after.png (waveforms and spectra; blue: before, red: after)
  editor screenshot     $out/editor.png$editor_note
  bridge log            $log
DONE
