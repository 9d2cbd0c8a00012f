#!/usr/bin/env bash
# The demo: the job a musician comes for. A private Wine prefix with the
# project's test effect (Quill) and test instrument (Quill Synth) installed
# under their own names, `quillmarlow sync` making a Linux bundle of each,
# a generated sound processed through the effect's bundle (its state saved
# and restored), a phrase of notes played into the instrument's bundle,
# pictures of both sounds and a screenshot of the effect's editor.
#
#   demo.sh [build dir]
# Writes everything to <build>/demo and says where each file is.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bundle="$build/QuillMarlow.vst3"
effect="$build/windows/served/Quill.vst3"
instrument="$build/windows/served/instrument/Quill.vst3"
bin="$build/bin"
out="$build/demo"
for f in "$bundle/Contents/x86_64-linux/QuillMarlow.so" "$bundle/Contents/Resources/outpost.exe" \
         "$effect" "$instrument" "$bin/quillmarlow" "$bin/vst3host" "$bin/demosound" "$bin/wavepicture"; do
    [ -e "$f" ] || { echo "demo: $f is missing; run 'make demo' (it builds what the demo needs)" >&2; exit 1; }
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

# A Wine prefix of the demo's own, with the test effect and the test
# instrument installed as vendors install plug-ins, under their own names.
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "demo: preparing the Wine prefix (the first time takes a while)..."
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$effect" >/dev/null
vst3="$WINEPREFIX/drive_c/Program Files/Common Files/VST3"
rm -rf "$vst3/Quill Synth.vst3"
cp -r "$instrument" "$vst3/Quill Synth.vst3"

log="$out/bridge.log"
: >"$log"
# Shows the host's own lines of a run's output; the bridge's lines (tagged,
# and outpost's banner) go to the log.
show() {
    grep -v -E '^(\[|=== Tandem Host|Version: )' "$1" || true
    grep -E '^(\[|=== Tandem Host|Version: )' "$1" >>"$log" || true
}

echo "demo: quillmarlow sync makes a Linux bundle of each Windows plug-in of the prefix"
made="$out/vst3"
rm -rf "$made"
XDG_CACHE_HOME="$out/cache" "$bin/quillmarlow" sync --vst3-dir "$made" >"$out/sync.txt" 2>>"$log"
sed 's/^/  /' "$out/sync.txt"
quill="$made/Quill.vst3"
synth="$made/Quill Synth.vst3"
for b in "$quill" "$synth"; do
    [ -d "$b" ] || { echo "demo: sync made no $b (see $out/sync.txt and $log)" >&2; exit 1; }
done

echo "demo: generating the demo sound"
"$bin/demosound" "$out/before.wav" --seconds 4

echo "demo: processing it through the effect's bundle, Quill.vst3 (state saved afterwards)"
"$bin/vst3host" process "$quill" "$out/before.wav" "$out/after.wav" --block 256 \
    --realtime --save-state "$out/quill.state" >"$out/process.txt" 2>>"$log"
show "$out/process.txt"

echo "demo: processing again in a fresh plug-in with the saved state restored"
"$bin/vst3host" process "$quill" "$out/before.wav" "$out/restored.wav" --block 256 \
    --realtime --load-state "$out/quill.state" --save-state "$out/quill-restored.state" \
    >"$out/restore.txt" 2>>"$log"
show "$out/restore.txt" >/dev/null
if cmp -s "$out/quill.state" "$out/quill-restored.state"; then
    echo "demo: the restored state came back bit-exact ($(stat -c %s "$out/quill.state") bytes)"
else
    echo "demo: the restored state differs from the saved one (see $log)" >&2
    exit 1
fi

# A phrase of seven notes, a quarter of a second each: C E G C G E C
# (a standard MIDI file, 480 ticks a beat at 120 beats a minute).
write_phrase() {
    local track="" delta='\x00' n
    for n in 3c 40 43 48 43 40 3c; do
        track+="$delta\x90\x$n\x64\x81\x58\x80\x$n\x00"
        delta='\x18'
    done
    track+='\x00\xff\x2f\x00'
    printf "MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xe0MTrk\x00\x00\x00\x43$track" >"$1"
}
write_phrase "$out/phrase.mid"
echo "demo: playing a phrase of notes into the instrument's bundle, Quill Synth.vst3"
"$bin/vst3host" process "$synth" "$out/synth.wav" --midi "$out/phrase.mid" --block 256 \
    >"$out/synth.txt" 2>>"$log"
show "$out/synth.txt"

"$bin/wavepicture" "$out/before.wav" "$out/after.wav" "$out/before-after.png"
"$bin/wavepicture" "$out/synth.wav" "$out/synth.png"

echo "demo: opening the effect's editor embedded in a host window"
editor_note=""
if ! "$bin/vst3host" editor "$quill" --seconds 3 --screenshot "$out/editor.png" >"$out/editor.txt" 2>>"$log"; then
    editor_note=" (not written: see $log)"
fi
show "$out/editor.txt"

cat <<DONE

demo: done. Files:
  made bundles          $made (Quill.vst3, Quill Synth.vst3)
  input sound           $out/before.wav
  processed sound       $out/after.wav
  with restored state   $out/restored.wav
  saved state           $out/quill.state
  state after restore   $out/quill-restored.state
  before/after picture  $out/before-after.png (waveforms and spectra; blue: before, red: after)
  notes played          $out/phrase.mid
  instrument's sound    $out/synth.wav
  instrument picture    $out/synth.png (waveform and spectrum)
  editor screenshot     $out/editor.png$editor_note
  bridge log            $log
DONE
