#!/usr/bin/env bash
# Builds zarvelt.exe for 64-bit Windows with mingw-w64: the ODBC backend only (SQLite and libpq
# are not built for mingw here), no tests. Prints the path of the executable.
#
#   bash scripts/windows-build.sh            # into build-windows
#   ZARVELT_WINDOWS_BUILD_DIR=dir bash scripts/windows-build.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${ZARVELT_WINDOWS_BUILD_DIR:-build-windows}
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
mkdir -p "$build"
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZARVELT_BUILD_TESTS=OFF -DZARVELT_WITH_SQLITE=OFF \
  -DZARVELT_WITH_POSTGRESQL=OFF -DZARVELT_WITH_ODBC=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j"${ZARVELT_BUILD_JOBS:-$(nproc)}" --target zarvelt >&2
echo "$root/$build/zarvelt.exe"
