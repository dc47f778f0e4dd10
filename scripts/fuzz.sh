#!/usr/bin/env bash
# Fuzzes each reader of the library (the input file, the diagram template) and the dump read
# back, for SECONDS seconds (default 60) each, with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero when a fuzzer finds a crash, a leak, a timeout or a
# failed round trip; the failing input is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
# The reference networks are among the tests' data; VARNOK_CASES_DIR names another folder of
# them, which then seeds the input reader and the dump too.
cases=${VARNOK_CASES_DIR:-$PWD/tests/data/cases}
network_seeds=(tests/data)
if [ -n "${VARNOK_CASES_DIR:-}" ]; then network_seeds+=("$VARNOK_CASES_DIR"); fi
max_len=65536

# Only the core library and the fuzz targets are built; the test programs are configured but not
# compiled.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BUILD_FUZZ=ON -DVARNOK_BUILD_TESTS=ON -DVARNOK_BUILD_BENCH=OFF \
  -DVARNOK_CASES_DIR="$cases" >/dev/null

# fuzz TARGET PATTERN DIR...: builds TARGET, gathers its seed corpus from the files named PATTERN
# under the directories given (files above max_len left out), and runs it.
fuzz() {
  local target=$1 pattern=$2; shift 2
  cmake --build "$build" --target "$target" -j "$(nproc)"
  local corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/artifacts"
  while IFS= read -r -d '' seed; do
    [ "$(stat -c %s "$seed")" -le "$max_len" ] && cp "$seed" "$corpus/$(echo "$seed" | tr '/' '_')"
  done < <(find "$@" -type f -name "$pattern" -print0 2>/dev/null)
  echo "== fuzzing $target for $seconds s"
  "$build/tests/fuzz/$target" "$corpus" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1
}

# The input reader: the repository's test networks and the small reference networks.
fuzz fuzz_input_reader '*.txt' "${network_seeds[@]}"
# The dump: what loads is dumped, the dump loads again and dumps to the same bytes.
fuzz fuzz_dump_roundtrip '*.txt' "${network_seeds[@]}"

# The diagram renderer: the shipped template and the templates of the tests.
fuzz fuzz_diagram_renderer '*.svg' examples tests/data

# The contingency reader: the repository's contingency files.
fuzz fuzz_contingency_reader '*.ctg' tests/data/contingency
