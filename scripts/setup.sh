#!/usr/bin/env bash
# Installs the Debian packages that building, testing and fuzzing need, only those missing.
# This is the one place that knows the package names.
set -euo pipefail

packages=(
  cmake
  ninja-build
  g++
  pkg-config
  libsuitesparse-dev   # KLU with AMD, COLAMD, BTF and SuiteSparse_config
  libfmt-dev
  libgtest-dev
  googletest
  libxml2-utils        # xmllint, to check the filled diagram of the main job
)
# clang with libFuzzer and the sanitizer runtimes, for the fuzz target
optional=(clang libclang-rt-dev)

missing=()
for p in "${packages[@]}" "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
