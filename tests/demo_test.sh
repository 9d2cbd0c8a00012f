#!/usr/bin/env bash
# Runs the demo as a new user would, in a scratch build folder that holds
# only the built products, and checks that every file it announces exists.
#
#   demo_test.sh <source dir> <build dir>
set -euo pipefail
source=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$scratch/build/windows/served/instrument" "$scratch/build/bin"
cp -r "$build/QuillMarlow.vst3" "$scratch/build/"
cp -r "$build/windows/served/Quill.vst3" "$scratch/build/windows/served/"
cp -r "$build/windows/served/instrument/Quill.vst3" "$scratch/build/windows/served/instrument/"
cp "$build/bin/quillmarlow" "$build/bin/vst3host" "$build/bin/demosound" "$build/bin/wavepicture" "$scratch/build/bin/"

unset DISPLAY
bash "$source/scripts/demo.sh" "$scratch/build" </dev/null >"$scratch/demo.out" 2>&1 || {
    cat "$scratch/demo.out"
    echo "demo_test: the demo failed"
    exit 1
}
cat "$scratch/demo.out"

announced=$(sed -n '/^demo: done. Files:/,$p' "$scratch/demo.out" |
    awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }')
[ -n "$announced" ] || { echo "demo_test: the demo announced no files"; exit 1; }
missing=0
for f in $announced; do
    if [ ! -s "$f" ]; then
        echo "demo_test: announced but missing or empty: $f"
        missing=1
    fi
done
[ $missing -eq 0 ] && echo "demo_test: all $(echo "$announced" | wc -l) announced files exist"
exit $missing
