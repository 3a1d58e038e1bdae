#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and UndefinedBehaviorSanitizer),
# fuzzes each for a bounded time from its committed corpus (fuzz/corpus/<target>), then replays
# every corpus once. A crash fails the script and leaves its input in
# <build>/fuzz-work/<target>/artifacts; commit such an input into fuzz/corpus/<target> once
# fixed, so that the replay keeps it as a regression test.
#
#   scripts/fuzz.sh [seconds per target, default 60]
#   scripts/fuzz.sh --build-only
#
# Each target runs in one process on one core; as many run at once as there are build jobs
# (ZARVELT_BUILD_JOBS, default the number of cores), so every target still fuzzes for its whole
# time. Paths handed to the fuzzers are absolute: the transfer target works in a directory of
# its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build_only=false
if [ "${1:-}" = --build-only ]; then
  build_only=true
  shift
fi
seconds=${1:-${ZARVELT_FUZZ_SECONDS:-60}}
build=$(realpath -m "${ZARVELT_FUZZ_BUILD_DIR:-build-fuzz}")
jobs=${ZARVELT_BUILD_JOBS:-$(nproc)}
sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
targets=(splitter config_reader hex_decipher transfer)

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="$sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DZARVELT_FUZZ=ON -DZARVELT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/%/_fuzz}"
$build_only && exit 0

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fuzz() {
  local target=$1 work="$build/fuzz-work/$1"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$root/fuzz/corpus/$target" 2>"$work/fuzz.log"
}
failed=()
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
  group=("${targets[@]:first:jobs}")
  echo "fuzz: ${group[*]} for ${seconds}s"
  pids=()
  for target in "${group[@]}"; do
    fuzz "$target" &
    pids+=($!)
  done
  for i in "${!group[@]}"; do
    target=${group[$i]}
    if wait "${pids[$i]}"; then
      grep -E '^stat::number_of_executed_units' "$build/fuzz-work/$target/fuzz.log" |
        sed "s/^/$target: /" || true
    else
      tail -n 60 "$build/fuzz-work/$target/fuzz.log" >&2
      echo "fuzz: $target failed" >&2
      failed+=("$target")
    fi
  done
done
[ ${#failed[@]} -eq 0 ] || exit 1

(cd "$build" && ctest --output-on-failure -R '^fuzz_corpus_')
