#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and UndefinedBehaviorSanitizer),
# fuzzes each for a bounded time from its committed corpus (fuzz/corpus/<target>), then replays
# every corpus once. A crash fails the script and leaves its input in
# <build>/fuzz-work/<target>/artifacts; commit such an input into fuzz/corpus/<target> once
# fixed, so that the replay keeps it as a regression test.
#
#   scripts/fuzz.sh [seconds per target, default 60]
#
# Paths handed to the fuzzers are absolute: the transfer target works in a directory of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-${ZARVELT_FUZZ_SECONDS:-60}}
build=$(realpath -m "${ZARVELT_FUZZ_BUILD_DIR:-build-fuzz}")
jobs=${ZARVELT_BUILD_JOBS:-2}
sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DZARVELT_FUZZ=ON -DZARVELT_BUILD_TESTS=OFF -DZARVELT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target splitter_fuzz config_reader_fuzz hex_decipher_fuzz \
  transfer_fuzz

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in splitter config_reader hex_decipher transfer; do
  work="$build/fuzz-work/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "fuzz: $target for ${seconds}s"
  "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$root/fuzz/corpus/$target" 2>"$work/fuzz.log" ||
    { tail -n 60 "$work/fuzz.log" >&2; echo "fuzz: $target failed" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units' "$work/fuzz.log" || true
done

(cd "$build" && ctest --output-on-failure -R '^fuzz_corpus_')
