#!/usr/bin/env bash
# The whole program's download of a full flight memory under Wine, paced in
# real time (sim:full, 1 ms a report), with and without Live Update: prints
# each download's wall time as a ratio to the device's own 53.2 s, the reports
# the simulated bus dropped because the program's input ring was full, and the
# two downloads' ratio to each other.
#   bench/download-wall-time.sh [--busy]   (after ./test or ./run has built the Windows tree)
# --busy runs a CPU-bound neighbour of normal priority for the whole run, as a
# laptop at the field running something else would.
# SCENARIO=sim:... chooses another simulator scenario; SHOT=FILE.png SHOT_AT=SECONDS
# saves the screen during the Live Update run; MODES=--live or MODES=--plain runs one of the two.
set -u
. "$(dirname "$0")/../scripts/common.sh"
cd "$ROOT"
BUSY=0
for arg in "$@"; do
  case "$arg" in
    --busy) BUSY=1 ;;
    *) echo "usage: bench/download-wall-time.sh [--busy]"; exit 2 ;;
  esac
done
EXE="$BUILD/win32/UlkUsb.exe"
DRIVER="$BUILD/win32/DownloadWallTimeWin32.exe"
[ -f "$EXE" ] && [ -f "$DRIVER" ] || { echo "build the Windows tree first (./test or ./run)"; exit 1; }
start_xvfb || { echo "no virtual display could be started"; exit 1; }
sleep 1
wine_env
DESKTOP="explorer /desktop=ulkbench,1280x1024"
RESULT="$BUILD/download-bench.txt"
STATUS=0
NEIGHBOUR=
end_neighbour() {
  [ -n "$NEIGHBOUR" ] && kill "$NEIGHBOUR" 2>/dev/null && wait "$NEIGHBOUR" 2>/dev/null
  NEIGHBOUR=
}
trap 'end_neighbour; stop_xvfb' EXIT
if [ "$BUSY" = 1 ]; then
  # A shell spinning in a loop: one core's worth of work at nice 0.
  nice -n 0 bash -c 'while :; do :; done' &
  NEIGHBOUR=$!
  echo "busy: a CPU-bound neighbour (pid $NEIGHBOUR) runs beside both downloads"
else
  echo "quiet: nothing else runs"
fi
declare -A SECONDS_OF
for mode in ${MODES:---live --plain}; do
  wineserver -p >/dev/null 2>&1
  sleep 1
  rm -f "$RESULT"
  LOG="$BUILD/download-bench${mode#-}.log"
  # Both inside one Wine desktop, where they see each other's windows; the
  # desktop keeps them and hands back at once, so the result comes by file.
  ULKUSB_DEVICE="${SCENARIO:-sim:full}" wine $DESKTOP "$EXE" >"$LOG" 2>&1 &
  APP=$!
  EXTRA=(--out "$(winepath -w "$RESULT")")
  [ "$mode" = "--live" ] && EXTRA+=(--live)
  if [ -n "${SHOT:-}" ]; then
    EXTRA+=(--shot "$(winepath -w "$SHOT")" "${SHOT_AT:-3}")
  fi
  wine $DESKTOP "$DRIVER" "${EXTRA[@]}" >/dev/null 2>&1 &
  DRIVE=$!
  for i in $(seq 1 3000); do
    [ -s "$RESULT" ] && break
    sleep 0.2
  done
  if [ -s "$RESULT" ]; then cat "$RESULT"; else echo "no result ($mode)"; STATUS=1; fi
  grep -q succeeded "$RESULT" 2>/dev/null || STATUS=1
  SECONDS_OF[$mode]=$(sed -n 's/.* packets, \([0-9.]*\) s,.*/\1/p' "$RESULT" 2>/dev/null)
  wineserver -k >/dev/null 2>&1
  wait "$APP" "$DRIVE" 2>/dev/null
  DROPPED=$(sed -n 's/.*full, \([0-9]*\) oldest report(s) dropped.*/\1/p' "$LOG" | awk '{n += $1} END {print n + 0}')
  echo "  input reports dropped (ring full): $DROPPED"
  [ "$DROPPED" = 0 ] || STATUS=1
done
end_neighbour
if [ -n "${SECONDS_OF[--live]:-}" ] && [ -n "${SECONDS_OF[--plain]:-}" ]; then
  awk -v live="${SECONDS_OF[--live]}" -v plain="${SECONDS_OF[--plain]}" \
    'BEGIN { printf "with Live Update / without: %.3f\n", live / plain }'
fi
exit $STATUS
