#!/usr/bin/env bash
# Builds quillmarlow_<version>_amd64.deb from a build tree with the Debian
# tools: the files are staged under their system-wide places, the control
# file is generated (library dependencies from dpkg-shlibdeps, Wine's
# packages added) and dpkg-deb makes the package.
#
#   scripts/make-deb.sh BUILD_DIR [OUT_DIR]
#
# What it installs, and nothing else (a user's made bundles live in their
# own ~/.vst3 and are never the package's):
#   /usr/lib/vst3/QuillMarlow.vst3          the bridge's own bundle, for hosts
#   /usr/bin/quillmarlow                    sync, list, doctor
#   /usr/lib/quillmarlow/QuillMarlow.vst3   what sync copies into made bundles
#                                           (a link to the bundle above)
#   /usr/lib/quillmarlow/Quill.vst3         the test plug-in doctor starts
#   /usr/share/doc/quillmarlow/README.md
set -euo pipefail

build=$(cd "$1" && pwd)
out=${2:-$build}
here=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(QuillMarlow VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
arch=$(dpkg --print-architecture)
bundle="$build/QuillMarlow.vst3"
for f in "$bundle/Contents/x86_64-linux/QuillMarlow.so" "$bundle/Contents/Resources/outpost.exe" \
         "$bundle/Contents/Resources/moduleinfo.json" "$build/bin/quillmarlow" \
         "$build/windows/served/Quill.vst3/Contents/x86_64-win/Quill.vst3"; do
  [ -f "$f" ] || { echo "make-deb: $f is missing: build first (make deb)" >&2; exit 1; }
done

stage=$(mktemp -d "${TMPDIR:-/tmp}/quillmarlow-deb.XXXXXX")
trap 'rm -rf "$stage"' EXIT
root="$stage/root"
install -d "$root/usr/lib/vst3" "$root/usr/bin" "$root/usr/lib/quillmarlow" "$root/usr/share/doc/quillmarlow" \
           "$root/DEBIAN"
cp -r "$bundle" "$root/usr/lib/vst3/"
ln -s ../vst3/QuillMarlow.vst3 "$root/usr/lib/quillmarlow/QuillMarlow.vst3"
cp -r "$build/windows/served/Quill.vst3" "$root/usr/lib/quillmarlow/"
install -m 755 "$build/bin/quillmarlow" "$root/usr/bin/quillmarlow"
install -m 644 "$here/README.md" "$root/usr/share/doc/quillmarlow/README.md"
# Binaries as Debian ships them: without their debugging information.
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
  "$root/usr/lib/vst3/QuillMarlow.vst3/Contents/x86_64-linux/QuillMarlow.so" "$root/usr/bin/quillmarlow"
x86_64-w64-mingw32-strip --strip-unneeded --remove-section=.gnu_debuglink "$root/usr/lib/vst3/QuillMarlow.vst3/Contents/Resources/outpost.exe" \
  "$root/usr/lib/quillmarlow/Quill.vst3/Contents/x86_64-win/Quill.vst3"
find "$root/usr" -type d -exec chmod 755 {} +
find "$root/usr" -type f -exec chmod go-w {} +

# The shared libraries the Linux binaries need, as dpkg-shlibdeps tells them.
mkdir -p "$stage/src/debian"
printf 'Source: quillmarlow\n\nPackage: quillmarlow\nArchitecture: any\n' >"$stage/src/debian/control"
shlibs=$(cd "$stage/src" && dpkg-shlibdeps -O \
  "$root/usr/lib/vst3/QuillMarlow.vst3/Contents/x86_64-linux/QuillMarlow.so" "$root/usr/bin/quillmarlow" \
  | sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<CONTROL
Package: quillmarlow
Version: $version
Architecture: $arch
Maintainer: QuillMarlow developers <quillmarlow@localhost>
Installed-Size: $size
Depends: $shlibs, wine, wine64
Recommends: binutils
Section: sound
Priority: optional
Description: use Windows VST 3 plug-ins in Linux audio hosts
 QuillMarlow bridges 64-bit Windows VST 3 plug-ins, run under Wine, into
 Linux VST 3 hosts. quillmarlow sync makes one Linux bundle per plug-in of a
 Wine prefix (in ~/.vst3), quillmarlow doctor tells what the system lacks.
CONTROL

mkdir -p "$out"
deb="$out/quillmarlow_${version}_${arch}.deb"
dpkg-deb --root-owner-group --build "$root" "$deb" >/dev/null
echo "$deb"
