#!/usr/bin/env bash
# The Debian package as `make deb` builds it: its control file and files,
# then unpacked into a scratch root, where its own quillmarlow makes the
# bundles of the test prefix and the made Quill bundle serves the test effect.
#
#   tests/deb_test.sh SOURCE_DIR BUILD_DIR   (WINEPREFIX: the test prefix)
set -euo pipefail

src=$1
build=$2
scratch=$(mktemp -d /tmp/qm_deb_test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "deb_test: $*" >&2
  exit 1
}

deb=$(bash "$src/scripts/make-deb.sh" "$build" "$scratch")
case "$deb" in */quillmarlow_*_amd64.deb) ;; *) fail "unexpected package name: $deb" ;; esac
depends=$(dpkg-deb -f "$deb" Depends)
for package in wine wine64 libc6; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/lib/vst3/QuillMarlow.vst3/Contents/x86_64-linux/QuillMarlow.so \
            ./usr/lib/vst3/QuillMarlow.vst3/Contents/Resources/outpost.exe ./usr/bin/quillmarlow \
            ./usr/lib/quillmarlow/QuillMarlow.vst3 ./usr/lib/quillmarlow/Quill.vst3/Contents/x86_64-win/Quill.vst3; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
# Nothing outside the system's own folders: a user's files are never the package's.
outside=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" || true)
[ -z "$outside" ] || fail "the package installs outside /usr: $outside"

dpkg -x "$deb" "$scratch/root"
root="$scratch/root"
XDG_CACHE_HOME="$scratch/cache" "$root/usr/bin/quillmarlow" sync --vst3-dir "$scratch/vst3" >"$scratch/sync.txt" 2>&1 ||
  fail "sync failed: $(cat "$scratch/sync.txt")"
made="$scratch/vst3/Quill.vst3"
[ -f "$made/Contents/Resources/served.json" ] || fail "no Quill.vst3 made: $(cat "$scratch/sync.txt")"
# Made from the package's bridge, not the build tree's (whose outpost.exe
# keeps its debugging information).
cmp -s "$made/Contents/Resources/outpost.exe" "$root/usr/lib/vst3/QuillMarlow.vst3/Contents/Resources/outpost.exe" ||
  fail "the made bundle's outpost.exe is not the package's"

"$build/bin/demosound" "$scratch/in.wav" --seconds 1 >/dev/null
"$build/bin/vst3host" process "$made" "$scratch/in.wav" "$scratch/out.wav" --block 256 >"$scratch/process.txt" 2>&1 ||
  fail "the made bundle did not process: $(tail -20 "$scratch/process.txt")"
changed=$(sed -n 's/^changed by the plug-in: \([0-9]*\),.*/\1/p' "$scratch/process.txt")
[ "${changed:-0}" -gt 0 ] || fail "the test effect changed no block: $(grep -v '^\[' "$scratch/process.txt")"
echo "deb_test: $(basename "$deb") unpacked; its sync made Quill.vst3, which changed $changed blocks"
