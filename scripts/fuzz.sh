#!/usr/bin/env bash
# Fuzzes each reader of the library (the input file, the contingency file, the diagram template)
# and the dump read back, with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   fuzz.sh [SECONDS]   explores: each target for SECONDS seconds (default 60) from a fresh random
#                       seed, its corpus kept in build-fuzz/corpus/ from one run to the next
#   fuzz.sh --fixed     the test command's run: each target a fixed number of inputs with a fixed
#                       seed, from a fresh copy of its seed corpus, in one process, so that one
#                       tree always gives the same answer
#
# Each target first replays the inputs it once failed on (tests/fuzz/regressions/<target>/).
# Exits non-zero when a fuzzer finds a crash, a leak, a timeout or a failed round trip; the
# failing input is left in build-fuzz/artifacts/. Once mended, add it to the target's
# regressions folder: the ordinary builds replay those folders as tests.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=explore
seconds=60
case "${1:-}" in
  --fixed) mode=fixed ;;
  "") ;;
  *[!0-9]*) echo "usage: $0 [SECONDS | --fixed]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac
build=build-fuzz
regressions=tests/fuzz/regressions
# The reference networks are among the tests' data. When exploring, VARNOK_CASES_DIR names another
# folder of them, which then seeds the input reader and the dump too; the fixed run reads only the
# tree.
cases=${VARNOK_CASES_DIR:-$PWD/tests/data/cases}
network_seeds=(tests/data)
if [ "$mode" = explore ] && [ -n "${VARNOK_CASES_DIR:-}" ]; then
  network_seeds+=("$VARNOK_CASES_DIR")
fi
max_len=65536

# Inputs of each target in the fixed run, some 15 to 30 s each under the sanitizers on a shared
# 8-core machine (the targets read inputs of different sizes, at different speeds).
fixed_runs() {
  case $1 in
    fuzz_input_reader) echo 25000 ;;
    fuzz_dump_roundtrip) echo 30000 ;;
    fuzz_diagram_renderer) echo 50000 ;;
    fuzz_contingency_reader) echo 60000 ;;
  esac
}
fixed_seed=1
# A run also depends on where the system places the program in memory: some branches of the code
# and of the standard library follow addresses, and so does the coverage that steers the fuzzer.
# The fixed run places it at the same addresses each time, where the system lets it.
same_addresses=()
if [ "$mode" = fixed ]; then
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    same_addresses=(setarch "$(uname -m)" -R)
  else
    echo "fuzz.sh: address randomisation cannot be turned off here; the fixed run may vary" >&2
  fi
fi

# Only the core library and the fuzz targets are built; the test programs are configured but not
# compiled.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BUILD_FUZZ=ON -DVARNOK_BUILD_TESTS=ON -DVARNOK_BUILD_BENCH=OFF \
  -DVARNOK_CASES_DIR="$cases" >/dev/null

# fuzz TARGET PATTERN DIR...: builds TARGET, replays its regression inputs, gathers its seed
# corpus from the files named PATTERN under the directories given and its regression folder
# (files above max_len left out), and runs it.
fuzz() {
  local target=$1 pattern=$2; shift 2
  cmake --build "$build" --target "$target" -j "$(nproc)"
  local binary="$build/tests/fuzz/$target"
  local options=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048
                 -artifact_prefix="$build/artifacts/$target-")
  mkdir -p "$build/artifacts"

  local replayed=()
  if [ -d "$regressions/$target" ]; then
    while IFS= read -r -d '' input; do replayed+=("$input"); done \
      < <(find "$regressions/$target" -maxdepth 1 -type f -print0 | sort -z)
  fi
  if [ ${#replayed[@]} -gt 0 ]; then
    echo "== $target: replaying ${#replayed[@]} regression inputs"
    "$binary" "${options[@]}" "${replayed[@]}"
  fi

  # Seeds are named after their paths, so that the corpus and its order are the same each time.
  local corpus="$build/corpus/$target"
  if [ "$mode" = fixed ]; then
    corpus="$build/corpus-fixed/$target"
    rm -rf "$corpus"
  fi
  mkdir -p "$corpus"
  while IFS= read -r -d '' seed; do
    [ "$(stat -c %s "$seed")" -le "$max_len" ] && cp "$seed" "$corpus/$(echo "$seed" | tr '/' '_')"
  done < <(find "$@" "$regressions/$target" -type f -name "$pattern" -print0 2>/dev/null)

  if [ "$mode" = fixed ]; then
    local runs
    runs=$(fixed_runs "$target")
    echo "== fuzzing $target: $runs inputs from seed $fixed_seed"
    # Two more things would make the run differ from one time to the next: compare tracing,
    # whose operands include addresses, and rereading the corpus folder by the clock.
    "${same_addresses[@]}" "$binary" "$corpus" "${options[@]}" -seed="$fixed_seed" \
      -runs="$runs" -use_cmp=0 -reload=0 -print_final_stats=1
  else
    echo "== fuzzing $target for $seconds s"
    "$binary" "$corpus" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1
  fi
}

# The input reader: the repository's test networks and the small reference networks.
fuzz fuzz_input_reader '*.txt' "${network_seeds[@]}"
# The dump: what loads is dumped, the dump loads again and dumps to the same bytes.
fuzz fuzz_dump_roundtrip '*.txt' "${network_seeds[@]}"

# The diagram renderer: the shipped template and the templates of the tests.
fuzz fuzz_diagram_renderer '*.svg' examples tests/data

# The contingency reader: the repository's contingency files.
fuzz fuzz_contingency_reader '*.ctg' tests/data/contingency
