#!/usr/bin/env bash
# Runs a Windows program under wine: the emulator of the Windows cross-build, through which CTest
# starts every test (scripts/test-windows.sh).
#
#   wine-run.sh program.exe [arguments...]
#   wine-run.sh --start-server   one wineserver for the prefix, kept until --stop-server, with
#                                wine's own services already started
#   wine-run.sh --stop-server
#
# Everything runs in the wine prefix WINEPREFIX (build-windows/wine unless set, never the home
# folder), without wine's debug output, its Mono and Gecko installers or its desktop menu entries.
#
# Wine itself fails now and then, about once in 3,000 starts: a process dies before the program
# writes anything, or a test program that has printed GoogleTest's closing summary never ends.
# Such a process, and only such a process, is started once more; each retry is written to
# WINE_RETRY_LOG (build-windows/wine-retries.log unless set), not to the program's own output,
# which a test may compare.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
retry_log=${WINE_RETRY_LOG:-$root/build-windows/wine-retries.log}
# wine finds the prefix's server through a folder under TMPDIR: one folder for every caller,
# whatever temporary folder it gives its tests (a Windows program takes its own from the prefix)
export TMPDIR=${WINEPREFIX%/}-tmp
mkdir -p "$WINEPREFIX" "$TMPDIR"
wine=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# seconds a test program may take to end after its closing summary
exit_grace=20

case "${1:-}" in
  --start-server)
    "$wineserver" -p
    # the first program of a prefix starts wine's services, which keep the output streams they
    # were given open: give them none of a test's
    "$wine" wineboot.exe </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --stop-server)
    "$wineserver" -k 2>/dev/null || true
    exit 0
    ;;
esac

scratch=$(mktemp -d)
child=
watchdog=
cleanup() {
  if [ -n "$child" ]; then kill -9 "$child" 2>/dev/null || true; fi
  if [ -n "$watchdog" ]; then kill "$watchdog" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Kills the program once it has printed its closing summary and not ended $exit_grace seconds
# later, leaving the mark "hung".
watch() {
  local nap=
  trap 'kill "$nap" 2>/dev/null; exit 0' TERM
  until grep -qs '^\[==========\] .* ran\.' "$scratch/out"; do
    sleep 1 & nap=$!
    wait "$nap"
  done
  sleep "$exit_grace" & nap=$!
  wait "$nap"
  touch "$scratch/hung"
  kill -9 "$child" 2>/dev/null
}

# Runs the program once, its output kept in $scratch/out and $scratch/err; its status, or 254
# when it printed its closing summary but did not end.
run_once() {
  rm -f "$scratch/hung"
  "$wine" "$@" >"$scratch/out" 2>"$scratch/err" &
  child=$!
  watch >/dev/null 2>&1 </dev/null &
  watchdog=$!
  local status=0
  { wait "$child"; } 2>/dev/null || status=$?  # no word from bash on a program killed above
  child=
  kill "$watchdog" 2>/dev/null || true
  wait "$watchdog" 2>/dev/null || true
  watchdog=
  if [ -e "$scratch/hung" ]; then return 254; fi
  return "$status"
}

# True when the program wrote nothing: its standard output is empty and its standard error holds
# at most wine's own lines ("wine: ..." or, with a debug channel on, "0024:err:...").
wrote_nothing() {
  [ ! -s "$scratch/out" ] && ! grep -qvE '^(wine: |[0-9a-f]{4}:(err|fixme|warn|trace):)' "$scratch/err"
}

# Logs why the program is started once more, with what wine said on its standard error.
retry() {
  local reason=$1 said
  shift
  said=$(head -c 300 "$scratch/err" | tr '\n' ' ')
  echo "$(date '+%F %T') $reason: $*${said:+ (standard error: $said)}" >>"$retry_log"
}

status=0
run_once "$@" || status=$?
if [ "$status" -eq 254 ]; then
  retry "wine did not end the program after its summary" "$@"
  status=0
  run_once "$@" || status=$?
elif [ "$status" -ne 0 ] && wrote_nothing; then
  retry "wine ended the program with status $status before it wrote anything" "$@"
  status=0
  run_once "$@" || status=$?
fi
cat "$scratch/out"
cat "$scratch/err" >&2
exit "$status"
