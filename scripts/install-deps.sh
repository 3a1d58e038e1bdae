#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Idempotent; run as root.
set -euo pipefail

packages=(
  g++ cmake make pkg-config clang-format
  libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3
  libpq-dev postgresql-15 postgresql-client-15
  unixodbc-dev odbc-postgresql libsqliteodbc
  g++-mingw-w64-x86-64-posix wine64
  libssl-dev
  clang-14 libclang-rt-14-dev
)

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
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
