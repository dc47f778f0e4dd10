#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the main job: the example host on a sample network,
# which prints its bus table and fills in its diagram (varnok_diagram.svg in the working directory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
./build/examples/varnok_host "$@"
