#!/usr/bin/env bash
# Cross-builds the library, the example host and every test for Windows x64 with mingw-w64, and
# runs the whole CTest suite under wine. Everything goes into build-windows/:
#   apt/       a private apt configuration: the machine's own Debian sources as deb-src entries,
#              with their own lists, cache and status, to fetch source packages
#   src/       SuiteSparse's source package, as `apt-get source suitesparse` unpacks it
#   prefix/    the target's libraries: SuiteSparse_config, AMD, COLAMD, BTF and KLU as static
#              archives, googletest, the {fmt} headers (used header-only)
#   varnok/    the cross-build of this project, its tests run from there
#   wine/      the wine prefix of the run (scripts/wine-run.sh), wine-tmp/ its server's folder
# A repeated run fetches and builds nothing of src/ and prefix/ again. VARNOK_JOBS sets the
# parallel jobs (all cores by default).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
jobs=${VARNOK_JOBS:-$(nproc)}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
prefix=$out/prefix

bash scripts/setup.sh windows
mkdir -p "$out"

# SuiteSparse's source comes through a private apt configuration: the machine's own sources as
# deb-src entries, nothing of the machine's apt state read or changed, no lock taken.
apt_dir=$out/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State=$apt_dir/state"
  -o "Dir::State::status=$apt_dir/state/status"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Acquire::Languages=none"
  # the files land in folders of the caller's own
  -o "APT::Sandbox::User=$(id -un)"
)

# The machine's configured Debian sources, each turned into the same source as deb-src.
write_source_entries() {
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" \
    "$apt_dir/cache/archives/partial"
  : >"$apt_dir/state/status"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb(-src)?([[:space:]])/deb-src\2/p' "$f"
  done | sort -u >"$apt_dir/sources.list"
}

fetch_suitesparse_source() {
  if [ -f "$out/src/suitesparse.done" ]; then return; fi
  echo "== SuiteSparse source"
  write_source_entries
  apt-get "${apt_opts[@]}" -q update
  rm -rf "$out/src"
  mkdir -p "$out/src"
  (cd "$out/src" && apt-get "${apt_opts[@]}" -q source suitesparse)
  touch "$out/src/suitesparse.done"
}

# A step done leaves a stamp in prefix/ with the key of what it was made from ($2): the step is
# done again only when its key changes.
stamp_matches() { [ -f "$prefix/.$1.stamp" ] && [ "$(cat "$prefix/.$1.stamp")" = "$2" ]; }
stamp() { echo "$2" >"$prefix/.$1.stamp"; }

cross_cmake() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVARNOK_TARGET_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release "$@"
}

# SuiteSparse_config, AMD, COLAMD, BTF and KLU as static archives for the target.
build_klu_archives() {
  local source key
  source=$(echo "$out"/src/suitesparse-*/)
  source=${source%/}
  key="$(basename "$source") $(cat cmake/klu-archives/CMakeLists.txt "$toolchain" | md5sum)"
  if stamp_matches klu "$key"; then return; fi
  echo "== KLU archives for the target"
  rm -rf "$out/klu-archives"
  cross_cmake -S cmake/klu-archives -B "$out/klu-archives" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DSUITESPARSE_SOURCE_DIR="$source" >/dev/null
  cmake --build "$out/klu-archives" -j "$jobs"
  cmake --install "$out/klu-archives" >/dev/null
  stamp klu "$key"
}

# googletest from the sources of Debian's googletest package.
build_googletest() {
  local key
  key="$(dpkg-query -W -f='${Version}' googletest) $(md5sum <"$toolchain")"
  if stamp_matches googletest "$key"; then return; fi
  echo "== googletest for the target"
  rm -rf "$out/googletest"
  cross_cmake -S /usr/src/googletest -B "$out/googletest" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$out/googletest" -j "$jobs"
  cmake --install "$out/googletest" >/dev/null
  stamp googletest "$key"
}

# {fmt} header-only: the build machine's headers, alone in the target's include folder (never
# the build machine's /usr/include), with a package file that says so.
install_fmt_headers() {
  local key
  key=$(dpkg-query -W -f='${Version}' libfmt-dev)
  if stamp_matches fmt "$key $(md5sum <cmake/fmt-header-only/fmt-config.cmake)"; then return; fi
  rm -rf "$prefix/include/fmt" "$prefix/lib/cmake/fmt"
  mkdir -p "$prefix/include" "$prefix/lib/cmake/fmt"
  cp -r /usr/include/fmt "$prefix/include/fmt"
  cp cmake/fmt-header-only/fmt-config.cmake "$prefix/lib/cmake/fmt/"
  stamp fmt "$key $(md5sum <cmake/fmt-header-only/fmt-config.cmake)"
}

fetch_suitesparse_source
mkdir -p "$prefix"
build_klu_archives
build_googletest
install_fmt_headers

echo "== cross-build"
cross_cmake -S . -B "$out/varnok" -DVARNOK_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh"
cmake --build "$out/varnok" -j "$jobs"

echo "== tests under wine"
export WINEPREFIX=$out/wine
export WINE_RETRY_LOG=$out/wine-retries.log
rm -f "$WINE_RETRY_LOG"
trap 'scripts/wine-run.sh --stop-server' EXIT
scripts/wine-run.sh --start-server
status=0
ctest --test-dir "$out/varnok" -j "$jobs" --timeout 300 --output-on-failure || status=$?
if [ -s "$WINE_RETRY_LOG" ]; then
  echo "wine failed to start or to end $(wc -l <"$WINE_RETRY_LOG") test processes," \
    "each started once more:"
  cat "$WINE_RETRY_LOG"
fi
exit "$status"
