#!/usr/bin/env bash
# The whole test suite: set up, build with warnings as errors, run every test through CTest, check
# the installed package, run the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and run every fuzz target briefly where clang is available: a fixed
# number of inputs from a fixed seed, so that one tree always gives the same answer (both builds
# also replay, as tests, every input a fuzz target once failed on).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOK_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== installed package"
bash scripts/check_install.sh build

# The shared SuiteSparse libraries here (the build without the private copy), whose blocks come
# from the C library's allocator with AddressSanitizer's red zones around them.
echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNOK_WERROR=ON -DVARNOK_SANITIZE=ON \
  -DVARNOK_BUILD_BENCH=OFF -DVARNOK_PRIVATE_KLU=OFF
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan -j "$jobs" --output-on-failure

if [ -f tests/fuzz/CMakeLists.txt ] && command -v clang++ >/dev/null 2>&1; then
  echo "== fuzzing"
  bash scripts/fuzz.sh --fixed
fi
