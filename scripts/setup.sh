#!/usr/bin/env bash
# Installs the Debian packages that building, testing and fuzzing need, only those missing.
# This is the one place that knows the package names.
#
#   setup.sh [windows]
#
# With "windows" it also installs what scripts/test-windows.sh needs to cross-build for Windows
# x64 and to run the tests under wine.
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
# clang with libFuzzer and the sanitizer runtimes, for the fuzz target; the locale data, for the
# test of a host that reads numbers under a comma-decimal locale
optional=(clang libclang-rt-dev locales)
# the cross compiler with the posix thread model (std::thread through winpthreads), wine to run
# what it builds, and dpkg-dev to unpack the source packages of the target's own libraries
windows=(
  g++-mingw-w64-x86-64-posix
  wine64
  dpkg-dev
)
wanted=("${packages[@]}" "${optional[@]}")
for group in "$@"; do
  case "$group" in
    windows) wanted+=("${windows[@]}") ;;
    *) echo "setup: unknown package group $group" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale for the reader's locale test (which skips itself where none exists).
comma_locale=de_DE.UTF-8
locales_present=$(locale -a 2>/dev/null || true)
if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null 2>&1 &&
   ! grep -qix 'de_DE.utf-\?8' <<<"$locales_present"; then
  echo "setup: generating the locale $comma_locale"
  if grep -q "^# *$comma_locale UTF-8" /etc/locale.gen; then
    $SUDO sed -i "s/^# *$comma_locale UTF-8/$comma_locale UTF-8/" /etc/locale.gen
  elif ! grep -q "^$comma_locale UTF-8" /etc/locale.gen; then
    echo "$comma_locale UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen
fi
