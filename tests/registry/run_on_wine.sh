#!/usr/bin/env bash
# Cross-builds the registry layer's and the registry class's tests for Windows and runs them under Wine in a
# throwaway prefix. Exit 77 (skipped) when the tools are missing: see the README,
# "Cross-check on a real registry".
# Usage: run_on_wine.sh <source dir> <build dir>
set -euo pipefail
src=$1 build=$2

skip() { echo "SKIPPED: $1; install them with: bash scripts/deps --cross-check" >&2; exit 77; }
command -v x86_64-w64-mingw32-g++ >/dev/null || skip "no MinGW-w64 cross compiler (g++-mingw-w64-x86-64)"
wine=$(command -v wine64 || ls /usr/lib/wine/wine64 2>/dev/null) || skip "no wine64"
server=$(command -v wineserver || echo "$(dirname "$(readlink -f "$wine")")/wineserver")
[ -f /usr/src/googletest/CMakeLists.txt ] || skip "no GoogleTest sources (libgtest-dev)"

[ -f "$build/build.ninja" ] ||
  cmake -S "$src/tests/registry/on_wine" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build"

prefix=$(mktemp -d /tmp/melofon-wine.XXXXXX)
# The prefix is removed however the run ends, once its own wineserver has saved and gone.
trap 'WINEPREFIX=$prefix "$server" -w || true; rm -rf "$prefix"' EXIT
# The prefix is thrown away, so the tests may rewrite its system keys.
export WINEPREFIX=$prefix WINEDEBUG=-all LANG=C WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
  MELOFON_THROWAWAY_REGISTRY=1
"$wine" "$build/registry_on_wine.exe" --gtest_color=no
