# Shared by ./run and ./test: installs what the build needs when it is missing
# and builds the two trees. Sourced, not run.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"

PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev libcairo2-dev libhidapi-dev
          g++-mingw-w64-x86-64 googletest wine wine64 xvfb xauth fonts-dejavu-core ccache
          msitools wixl zip unzip python3 clang libclang-rt-14-dev dpkg-dev lintian libcli11-dev nlohmann-json3-dev)

ensure_packages() {
  local missing=()
  local p
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null || return 1
}

build_native() {
  if [ ! -f "$BUILD/native/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || return 1
  fi
  ninja -C "$BUILD/native" >"$BUILD/native-build.log" 2>&1 || { cat "$BUILD/native-build.log"; return 1; }
  grep -E "warning:" "$BUILD/native-build.log" || true
}

build_win32() {
  if [ ! -f "$BUILD/win32/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD/win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null || return 1
  fi
  ninja -C "$BUILD/win32" >"$BUILD/win32-build.log" 2>&1 || { cat "$BUILD/win32-build.log"; return 1; }
  grep -E "warning:" "$BUILD/win32-build.log" || true
}

# The native tests built with a sanitizer into build/KIND: tsan (ThreadSanitizer)
# or asan (AddressSanitizer with UndefinedBehaviorSanitizer; any undefined
# behaviour ends the run).
build_sanitized() {
  local kind="$1" flags
  case "$kind" in
    tsan) flags="-fsanitize=thread" ;;
    # GCC 12 sees uninitialised std::function members inside <regex> once
    # AddressSanitizer instruments it; the code is the library's, the warning false.
    asan) flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -Wno-maybe-uninitialized" ;;
    *) return 1 ;;
  esac
  # Configured every time, so that a change of flags here reaches the tree.
  # Debian's hardening flags stay out: _FORTIFY_SOURCE's checked calls hide
  # accesses from the sanitizers' own checks.
  cmake -S "$ROOT" -B "$BUILD/$kind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULKUSB_DPKG_BUILDFLAGS=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null || return 1
  ninja -C "$BUILD/$kind" ulk_tests ulktool >"$BUILD/$kind-build.log" 2>&1 || { cat "$BUILD/$kind-build.log"; return 1; }
  grep -E "warning:" "$BUILD/$kind-build.log" || true
}

# How the sanitized tests run: every report fails the run.
sanitizer_env() {
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  export ASAN_OPTIONS="detect_leaks=1 strict_init_order=1 check_initialization_order=1 detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$ROOT/scripts/leak-suppressions.txt print_suppressions=0"
}

# The fuzz targets: clang with libFuzzer, ASan and UBSan over the core.
build_fuzz() {
  mkdir -p "$BUILD"
  # One build at a time: runs started side by side would otherwise share ninja's tree.
  (
    flock 9
    if [ ! -f "$BUILD/fuzz/build.ninja" ]; then
      CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DULKUSB_FUZZ=ON >/dev/null || exit 1
    fi
    ninja -C "$BUILD/fuzz" >"$BUILD/fuzz-build.log" 2>&1 || { cat "$BUILD/fuzz-build.log"; exit 1; }
    grep -E "warning:" "$BUILD/fuzz-build.log" || true
  ) 9>"$BUILD/fuzz-build.lock"
}

fuzz_targets() {
  local f
  for f in "$ROOT"/fuzz/fuzz_*.cpp; do basename "$f" .cpp; done
}

# Runs one target over its seeds and what earlier runs found, then for the
# given seconds more; prints "TARGET: N executions, coverage C, T s" and
# answers false on a crash, a leak or a hang (the input is kept in crashes/).
# Leaves the figures in FUZZ_RUNS, FUZZ_COV, FUZZ_FT, FUZZ_SECONDS and
# FUZZ_RESULT (ok, crash, leak, timeout, oom or failed) for the campaign ledger.
run_fuzz_target() {
  local t="$1" seconds="$2"
  local work="$BUILD/fuzz-work/$t"
  mkdir -p "$work/corpus" "$work/crashes" "$work/tmp"
  # FUZZ_JOB names the log of one of several runs of a target at once.
  local log="$work/last${FUZZ_JOB:+.$FUZZ_JOB}.log"
  local started=$(date +%s)
  # The time-out is wall time: at the lowest priority on a machine busy with
  # other work, an input of a tenth of a second has been held for twenty.
  TMPDIR="$work/tmp" nice -n 19 "$BUILD/fuzz/$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/crashes/" "$work/corpus" "$ROOT/fuzz/corpus/$t" >"$log" 2>&1
  local status=$?
  local runs cov
  runs=$(grep -aE '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
  # A run that stopped on a finding prints no final figures: its last status line has them.
  [ -n "$runs" ] || runs=$(grep -aoE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  cov=$(grep -aoE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  FUZZ_SECONDS=$(( $(date +%s) - started ))
  FUZZ_RUNS=${runs:-0}
  FUZZ_COV=$(echo "$cov" | awk '{print $2}')
  FUZZ_FT=$(echo "$cov" | awk '{print $4}')
  FUZZ_RESULT=ok
  if [ "$status" -ne 0 ]; then
    if grep -aq 'ERROR: libFuzzer: timeout' "$log"; then FUZZ_RESULT=timeout
    elif grep -aq 'ERROR: libFuzzer: out-of-memory' "$log"; then FUZZ_RESULT=oom
    elif grep -aq 'ERROR: LeakSanitizer' "$log"; then FUZZ_RESULT=leak
    elif grep -aqE 'ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error|property broken' "$log"; then FUZZ_RESULT=crash
    else FUZZ_RESULT=failed
    fi
  fi
  echo "$t: ${runs:-?} executions, ${cov:-coverage ?}, $FUZZ_SECONDS s"
  if [ "$status" -ne 0 ]; then
    grep -aE 'ERROR|property broken|SUMMARY|Test unit written' "$log" | head -8
    echo "$t failed (status $status); the log is $log"
    return 1
  fi
}

# Wine in a private prefix under the build tree, quiet, without the offers to
# install Mono or Gecko.
wine_env() {
  export WINEPREFIX="$BUILD/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # Let the new prefix finish setting itself up before anything uses it.
    wineserver -w >/dev/null 2>&1 || true
  fi
}

# A virtual display for the Win32 windows; sets DISPLAY and XVFB_PID.
start_xvfb() {
  local n
  for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      kill "$XVFB_PID" 2>/dev/null
    fi
  done
  return 1
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  XVFB_PID=""
}
