#!/usr/bin/env bash
# The library against SuiteSparse 7 as Debian 13 ships it: fetches Debian 13's
# libsuitesparse-dev with apt (a private apt configuration in a temporary folder, whose source is
# this machine's own Debian archive with Debian 13's suite), unpacks it into a prefix, builds the
# library and its tests against that prefix with the defaults (the library's own copy of KLU,
# from the package's static archives) and runs the whole test suite.
#
# When the package cannot be downloaded (no network), it says "skipped: could not fetch" and
# exits 0; any other failure fails. Only the -dev package is fetched: its headers and static
# archives are all the private copy needs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
suite=trixie  # Debian 13
package=libsuitesparse-dev
build=build-suitesparse7
prefix=$PWD/$build/prefix

fail() {
  echo "test_suitesparse7: $*" >&2
  exit 1
}
skip() {
  echo "test_suitesparse7: $*" >&2
  echo "skipped: could not fetch"
  exit 0
}

# The machine's own Debian archive: the first source of binary packages whose suite is the
# machine's release and that has the main component, from the deb822 .sources files or the
# one-line lists. Prints "URI<tab>keyring" (the keyring empty when the source names none).
debian_archive() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v codename="$codename" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = uris = suites = comps = keyring = enabled = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^#/ || !match($i, /^[A-Za-z-]+:/)) continue
          key = tolower(substr($i, 1, RLENGTH - 1))
          value = substr($i, RLENGTH + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", value)
          if (key == "types") types = value
          else if (key == "uris") uris = value
          else if (key == "suites") suites = value
          else if (key == "components") comps = value
          else if (key == "signed-by") keyring = value
          else if (key == "enabled") enabled = tolower(value)
        }
        if (enabled != "no" && (" " types " ") ~ / deb / && (" " suites " ") ~ (" " codename " ") &&
            (" " comps " ") ~ / main /) {
          split(uris, u, " ")
          print u[1] "\t" keyring
          exit
        }
      }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v codename="$codename" '
      $1 == "deb" {
        keyring = ""; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /signed-by=/) { keyring = $i; sub(/.*signed-by=/, "", keyring); sub(/\]$/, "", keyring) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        uri = $i; dist = $(i + 1); main = 0
        for (j = i + 2; j <= NF; j++) if ($j == "main") main = 1
        if (dist == codename && main) { print uri "\t" keyring; exit }
      }' "$f"
  done
}

[ "$(. /etc/os-release && echo "${ID:-}")" = debian ] ||
  fail "needs a Debian machine: it fetches from the machine's own Debian archive"
archive=$(debian_archive | head -n 1)
[ -n "$archive" ] || fail "no Debian archive with the main component among the machine's apt sources"
uri=${archive%%$'\t'*}
keyring=${archive#*$'\t'}
# A keyring given inline (a key block) or not at all: Debian's own.
case "$keyring" in /*) ;; *) keyring=/usr/share/keyrings/debian-archive-keyring.gpg ;; esac
[ -f "$keyring" ] || fail "no keyring $keyring for the Debian archive"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb [signed-by=$keyring] $uri $suite main" >"$work/sources.list"
cat >"$work/apt.conf" <<EOF
Dir::State::Lists "$work/lists";
Dir::Cache "$work/cache";
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "/dev/null";
Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "/dev/null";
EOF
export APT_CONFIG=$work/apt.conf
# apt's messages when the archive cannot be reached
unreachable='Failed to fetch|Could not resolve|Temporary failure|Could not connect|Unable to connect|Connection failed|Network is unreachable|timed out'

echo "== Debian 13's $package"
if ! output=$(apt-get -q update 2>&1) || ! compgen -G "$work/lists/*_dists_${suite}_*Packages*" >/dev/null; then
  if grep -Eq "$unreachable" <<<"$output"; then skip "the package lists of Debian 13 did not download"; fi
  echo "$output" >&2
  fail "apt-get update of Debian 13's package lists failed"
fi
if ! output=$(cd "$work" && apt-get -q download "$package" 2>&1); then
  if grep -Eq "$unreachable" <<<"$output"; then skip "$package did not download"; fi
  echo "$output" >&2
  fail "apt-get download $package failed"
fi
deb=$(compgen -G "$work/${package}_*.deb" | head -n 1)
[ -n "$deb" ] || fail "apt-get download left no $package package"
echo "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)"
rm -rf "$prefix"
mkdir -p "$prefix"
dpkg -x "$deb" "$prefix"

echo "== build against it"
cmake --fresh -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOK_WERROR=ON \
  -DCMAKE_PREFIX_PATH="$prefix/usr"
# The headers and the private copy must be the package's, not the machine's own SuiteSparse.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
[ "$(cache_value KLU_INCLUDE_DIR)" = "$prefix/usr/include/suitesparse" ] ||
  fail "the build found the headers in $(cache_value KLU_INCLUDE_DIR), not in the package"
[ "$(cache_value VARNOK_KLU_LINKED)" = private ] ||
  fail "the build did not link the library's own copy of KLU from the package's archives"
for lib in klu amd colamd btf; do
  case "$(cache_value "VARNOK_${lib}_ARCHIVE")" in
    "$prefix"/*) ;;
    *) fail "the build took lib$lib.a from $(cache_value "VARNOK_${lib}_ARCHIVE"), not from the package" ;;
  esac
done
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure
