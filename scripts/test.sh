#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. The one command CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

build=${ZARVELT_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j2)
