#!/usr/bin/env bash
# Fetches the real photograph weld_bench cuts its tiles from: a 2560 x 1600 landscape (wooden boats
# on a pebble shore under an evening sky) from Debian's plasma-workspace-wallpapers package. Puts it
# at WORK/photo.jpg, where weld_bench looks by default, and prints that path.
#   bench/photo.sh [WORK]   (WORK: weld_bench's work folder, by default build/weld_bench_data, the
#                            one a weld_bench in build/ uses)
# A second run finds the photo and fetches nothing; the package (94 MB) is removed once the photo is
# out. Neither belongs in the repository.
set -euo pipefail

work=$(realpath -m "${1:-$(dirname "$0")/../build/weld_bench_data}")
photo="$work/photo.jpg"
photo_in_package=./usr/share/wallpapers/EveningGlow/contents/images/2560x1600.jpg

if [ ! -s "$photo" ]; then
  mkdir -p "$work"
  download=$(mktemp -d "$work/package.XXXXXX")
  trap 'rm -rf "$download"' EXIT
  # apt-get download writes into the current folder.
  (cd "$download" && apt-get download plasma-workspace-wallpapers >&2)
  dpkg-deb --fsys-tarfile "$download"/plasma-workspace-wallpapers_*.deb | tar -x -O "$photo_in_package" >"$photo.part"
  mv "$photo.part" "$photo"
fi
echo "$photo"
