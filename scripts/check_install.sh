#!/usr/bin/env bash
# Installs the build tree given into a temporary prefix and builds two tiny hosts against it:
# one through find_package(varnok), one through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in LICENSE THIRD_PARTY_NOTICES.md; do
  [ -f "$tmp/prefix/share/doc/varnok/$f" ] || { echo "check_install: $f not installed" >&2; exit 1; }
done
cmake -S tests/install_consumer -B "$tmp/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/consumer"

export PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig:$tmp/prefix/lib/x86_64-linux-gnu/pkgconfig"
cc -std=c99 tests/install_consumer/consumer.c $(pkg-config --cflags --libs varnok) -o "$tmp/pc_consumer"
LD_LIBRARY_PATH="$tmp/prefix/lib:$tmp/prefix/lib/x86_64-linux-gnu" "$tmp/pc_consumer"
