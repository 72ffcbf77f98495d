#!/usr/bin/env bash
# Checks the Debian package that the package_build test made: its control data with the computed
# dependencies, the installed layout, the icons, and that the desktop entry and metainfo validate.
#   package_contents_test.sh PACKAGE_FOLDER VERSION
set -uo pipefail
folder=$1
version=$2
id=org.example.vantaro.Vantaro
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

debs=("$folder"/vantaro_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single package in $folder" >&2; exit 1; }
deb=${debs[0]}
dpkg-deb -I "$deb"

[ "$(dpkg-deb -f "$deb" Package)" = vantaro ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not the project's $version"
# dpkg-shlibdeps writes versioned entries for what the binaries link; the run-time loads are named.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in "libqt6widgets6 (>=" "libfreeimage3 (>=" "libepoxy0 (>=" "libcurl4 (>=" "libssl3 (>=" \
  "libc6 (>=" "libqt6gui6" "libgl1-mesa-dri"; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
[ "$(readlink "$root/usr/bin/vntro")" = ../lib/vantaro/vntro ] || fail "usr/bin/vntro is not the relative link"
for file in usr/lib/vantaro/vntro usr/lib/vantaro/libvantaro_engine.so usr/lib/vantaro/pano.mesh \
  "usr/share/icons/hicolor/scalable/apps/$id.svg"; do
  [ -s "$root/$file" ] || fail "missing $file"
done
for size in 16 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "no $size x $size icon: $(file -b "$png")"
done

desktop=$root/usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx "Name=Vantaro" "$desktop" || fail "desktop entry name"
exec_command=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$root/usr/bin/${exec_command%% *}" ] || fail "the desktop entry's Exec ($exec_command) is not in usr/bin"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$root/usr/share/metainfo/$id.metainfo.xml" ||
  fail "metainfo does not launch the desktop entry"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$id.metainfo.xml" || fail "no release $version"

[ $failures -eq 0 ] && echo "The package is complete." || echo "$failures package checks failed."
exit $((failures > 0))
