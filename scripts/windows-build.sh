#!/usr/bin/env bash
# Builds the programs for Windows with mingw-w64 (posix threads, statically linked, ODBC only:
# SQLite and libpq are not built for Windows here), with every warning an error, and the
# package an operator unpacks.
#
#   bash scripts/windows-build.sh              # both widths and the package; prints the zip's path
#   bash scripts/windows-build.sh 64           # zarvelt.exe, zarvelt_admin.exe, zarvelt_config.exe
#                                              # for 64-bit Windows; prints zarvelt.exe's path
#   bash scripts/windows-build.sh 32 [--tests] # the same for 32-bit Windows (i686); --tests also
#                                              # builds the unit tests; prints the build directory
#   bash scripts/windows-build.sh package      # the package of both widths, each built first
#
# The 64-bit programs run here under wine64. The 32-bit ones cannot run on these machines at
# all: the kernel runs no 32-bit code, and Debian's wine runs 32-bit Windows programs only
# through 32-bit Linux libraries. They are built and checked by the compiler, not run.
#
# ZARVELT_WINDOWS_BUILD_DIR (build-windows) and ZARVELT_WINDOWS_32_BUILD_DIR (build-windows-32)
# choose the build directories, ZARVELT_BUILD_JOBS the jobs. The package is
# <64-bit build directory>/zarvelt-<version>-windows.zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build64=${ZARVELT_WINDOWS_BUILD_DIR:-build-windows}
build32=${ZARVELT_WINDOWS_32_BUILD_DIR:-build-windows-32}
jobs=${ZARVELT_BUILD_JOBS:-$(nproc)}
programs=(zarvelt zarvelt_admin zarvelt_config)

# build WIDTH DIR TESTS: configures and builds the three programs (and the unit tests when
# TESTS is ON) for one width; the build's chatter goes to standard error.
build() {
  local width=$1 dir=$2 tests=$3 toolchain generator=()
  case $width in
    64) toolchain=cmake/mingw-w64-x86_64.cmake ;;
    32) toolchain=cmake/mingw-w64-i686.cmake ;;
  esac
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
  mkdir -p "$dir"
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DZARVELT_WARNINGS_AS_ERRORS=ON -DZARVELT_BUILD_TESTS="$tests" \
    -DZARVELT_WITH_SQLITE=OFF -DZARVELT_WITH_POSTGRESQL=OFF -DZARVELT_WITH_ODBC=ON \
    -DZARVELT_BUILD_BENCH=OFF >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; exit 1; }
  local targets=("${programs[@]}")
  [ "$tests" = ON ] && targets+=(zarvelt_unit_tests)
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}" >&2
}

# A text file as Windows tools show it: CR LF line ends.
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }

package() {
  build 64 "$build64" OFF
  build 32 "$build32" OFF
  local version stage name epoch
  version=$(sed -n 's/^project(zarvelt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  name=zarvelt-$version-windows
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' RETURN
  mkdir -p "$stage/$name/win64" "$stage/$name/win32" "$stage/$name/doc" "$stage/$name/sql/oracle"
  for program in "${programs[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/$name/win64/$program.exe" "$build64/$program.exe"
    i686-w64-mingw32-strip -o "$stage/$name/win32/$program.exe" "$build32/$program.exe"
  done
  sed "s/@VERSION@/$version/g" doc/windows-install.txt >"$stage/install.txt"
  crlf "$stage/install.txt" "$stage/$name/INSTALL.txt"
  crlf doc/operations.md "$stage/$name/doc/operations.txt"
  groff -man -Tutf8 -P-cbou doc/zarvelt.1 >"$stage/zarvelt.txt"
  crlf "$stage/zarvelt.txt" "$stage/$name/doc/zarvelt.txt"
  for sql in sql/oracle/*.sql; do crlf "$sql" "$stage/$name/$sql"; done
  # The same sources give the same zip: every file dated by the last commit.
  epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)
  find "$stage/$name" -exec touch -d "@$epoch" {} +
  local zip=$root/$build64/$name.zip
  rm -f "$zip"
  (cd "$stage" && TZ=UTC zip -q -X -r "$zip" "$name")
  echo "$zip"
}

case "${1:-all}" in
  64)
    build 64 "$build64" OFF
    echo "$root/$build64/zarvelt.exe"
    ;;
  32)
    tests=OFF
    if [ "${2:-}" = --tests ]; then tests=ON; fi
    build 32 "$build32" "$tests"
    echo "$root/$build32"
    ;;
  package | all) package ;;
  *)
    echo "usage: $0 [64 | 32 [--tests] | package]" >&2
    exit 2
    ;;
esac
