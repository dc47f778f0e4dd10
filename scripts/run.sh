#!/usr/bin/env bash
# Sets up what is missing, builds the library and the example host only (scripts/test.sh builds
# the rest), and runs the main job: the host on a network, which prints its bus table and fills
# in its diagram. It runs in the caller's working directory, so file arguments are taken from
# there and the diagram (varnok_diagram.svg unless named) is written there.
#
#   run.sh [network file [diagram template [diagram output]]]
#
# Without arguments it solves the sample network examples/sample.txt with its template.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" --target varnok_host -j "$(nproc)"
if [ $# -eq 0 ]; then
  set -- "$root/examples/sample.txt"
fi
"$root/build/examples/varnok_host" "$@"
