#!/usr/bin/env bash
# The whole program's download of a full flight memory under Wine, paced in
# real time (sim:full, 1 ms a report), with and without Live Update: prints
# each download's wall time as a ratio to the device's own 53.2 s.
#   bench/download-wall-time.sh            (after ./test or ./run has built the Windows tree)
# SCENARIO=sim:... chooses another simulator scenario; SHOT=FILE.png SHOT_AT=SECONDS
# saves the screen during the Live Update run; MODES=--live or MODES=--plain runs one of the two.
set -u
. "$(dirname "$0")/../scripts/common.sh"
cd "$ROOT"
EXE="$BUILD/win32/UlkUsb.exe"
DRIVER="$BUILD/win32/DownloadWallTimeWin32.exe"
[ -f "$EXE" ] && [ -f "$DRIVER" ] || { echo "build the Windows tree first (./test or ./run)"; exit 1; }
start_xvfb || { echo "no virtual display could be started"; exit 1; }
sleep 1
wine_env
DESKTOP="explorer /desktop=ulkbench,1280x1024"
RESULT="$BUILD/download-bench.txt"
STATUS=0
for mode in ${MODES:---live --plain}; do
  wineserver -p >/dev/null 2>&1
  sleep 1
  rm -f "$RESULT"
  # Both inside one Wine desktop, where they see each other's windows; the
  # desktop keeps them and hands back at once, so the result comes by file.
  ULKUSB_DEVICE="${SCENARIO:-sim:full}" wine $DESKTOP "$EXE" >"$BUILD/download-bench.log" 2>&1 &
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
  wineserver -k >/dev/null 2>&1
  wait "$APP" "$DRIVE" 2>/dev/null
done
stop_xvfb
exit $STATUS
