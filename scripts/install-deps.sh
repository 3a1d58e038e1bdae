#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Idempotent; run as root
# (only when a package is missing).
#
#   scripts/install-deps.sh          # everything the tests need (scripts/test.sh)
#   scripts/install-deps.sh --demo   # only what the SQLite demo build needs (scripts/demo.sh)
set -euo pipefail

# The demo: the compiler, CMake and SQLite (library and shell); iconv comes with libc-bin.
demo_packages=(
  g++ cmake make
  libsqlite3-dev sqlite3
)
# The tests on top: Ninja (the test builds use it), the other backends, GoogleTest, the Windows
# builds (64-bit, run under wine64, and 32-bit) and their package (zip; the man page as text
# with groff), the fuzzers, formatting, an Oracle SQL grammar (sqlglot, for Debian's own python3)
# for the Oracle-only texts, and strace (the crash-point campaign kills the program at its calls).
test_packages=(
  "${demo_packages[@]}"
  pkg-config clang-format ninja-build strace
  libgtest-dev libgmock-dev
  libpq-dev postgresql-15 postgresql-client-15
  unixodbc-dev odbc-postgresql libsqliteodbc
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
  zip unzip groff-base
  libssl-dev
  clang-14 libclang-rt-14-dev
  python3-sqlglot
)

case "${1:-}" in
  --demo) packages=("${demo_packages[@]}") ;;
  "") packages=("${test_packages[@]}") ;;
  *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # apt's and the packages' own chatter ("could not determine current runlevel" in a container,
  # "Could not get FQDN") reads like errors although nothing failed: it goes to a log, which is
  # shown only when the installation fails.
  log=$(mktemp "${TMPDIR:-/tmp}/install-deps.XXXXXX")
  echo "install-deps: installing ${missing[*]} (apt-get; its output is shown if it fails)"
  if ! { apt-get update && apt-get install -y --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps: apt-get failed; its output is above and in $log" >&2
    exit 1
  fi
  grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$log" || true
  rm -f "$log"
fi
