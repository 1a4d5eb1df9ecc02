#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks the files it holds and the
# packages it needs. Exit 77 (skipped) where dpkg-deb is not installed.
# Usage: check_deb.sh CPACK CPACK-CONFIG OUT-DIR DEB
set -euo pipefail
cpack=$1 config=$2 out=$3 deb=$4

command -v dpkg-deb >/dev/null || { echo "SKIPPED: no dpkg-deb (dpkg)" >&2; exit 77; }
rm -rf "$out"
mkdir -p "$out"
"$cpack" -G DEB --config "$config" -B "$out" >"$out/cpack.log" || { cat "$out/cpack.log"; exit 1; }
[ -f "$deb" ] || { echo "no $deb; cpack made: $(ls "$out")" >&2; exit 1; }

# Every file, and nothing else: in particular no tables, which an installed copy keeps
# in the user's data directory.
expected=$(
  printf '%s\n' ./usr/bin/melofon ./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)/melofon/melofon-gst.so ./usr/share/applications/melofon.desktop \
    ./usr/share/doc/melofon/changelog.gz ./usr/share/doc/melofon/copyright \
    ./usr/share/icons/hicolor/scalable/apps/melofon.svg ./usr/share/man/man1/melofon.1.gz \
    ./usr/share/metainfo/org.example.melofon.metainfo.xml
  for size in 16 22 24 32 48 64 128 256; do
    echo "./usr/share/icons/hicolor/${size}x${size}/apps/melofon.png"
  done
)
actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
expected=$(sort <<<"$expected")
if [ "$actual" != "$expected" ]; then
  echo "The package's files differ from the expected ones (< expected, > in the package):" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for p in libqt6widgets6 libgstreamer1.0-0 gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
  timgm6mb-soundfont libsndfile1; do
  grep -q "\b$p\b" <<<"$depends" || { echo "Depends lacks $p" >&2; exit 1; }
done
