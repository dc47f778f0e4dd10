#!/usr/bin/env bash
# Fuzzes the input reader for SECONDS seconds (default 60) with libFuzzer under AddressSanitizer
# and UndefinedBehaviorSanitizer. Exits non-zero when the fuzzer finds a crash, a leak or a
# timeout; the failing input is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
cases=${VARNOK_CASES_DIR:-$(cd .. && pwd)/shared/cases}

# Only the core library and the fuzz target are built; the test programs are configured but not
# compiled.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BUILD_FUZZ=ON -DVARNOK_BUILD_TESTS=ON -DVARNOK_BUILD_BENCH=OFF \
  -DVARNOK_CASES_DIR="$cases" >/dev/null
cmake --build "$build" --target fuzz_input_reader -j "$(nproc)"

# The seed corpus: the repository's test inputs and the small reference networks.
corpus="$build/corpus"
mkdir -p "$corpus" "$build/artifacts"
max_len=65536
while IFS= read -r -d '' seed; do
  cp "$seed" "$corpus/$(echo "$seed" | tr '/' '_')"
done < <(find tests/data -name '*.txt' -print0)
if [ -d "$cases" ]; then
  while IFS= read -r -d '' seed; do
    cp "$seed" "$corpus/$(basename "$seed")"
  done < <(find "$cases" -maxdepth 1 -name '*.txt' -size -${max_len}c -print0)
fi

"$build/tests/fuzz/fuzz_input_reader" "$corpus" \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1
