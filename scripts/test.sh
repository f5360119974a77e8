#!/usr/bin/env bash
# Sets everything up, checks the shell scripts (shellcheck, and the set-up's install path with
# stand-ins for the package tools), then runs the whole test suite against the local Firebird server, and
# again in a build with AddressSanitizer and UndefinedBehaviorSanitizer; memcheck over the
# command-line export of the demo Nota Fiscal; each fuzz target for a short while.
# Real command-line runs stopped by SIGINT and SIGTERM at random moments (tests/scripts/interrupt.sh).
# Arguments are passed to both ctest runs. Each stage can be left out:
#   CORVANE_NO_SANITIZE=1  CORVANE_NO_VALGRIND=1  CORVANE_NO_FUZZ=1  CORVANE_NO_INTERRUPT=1
# CORVANE_FUZZ_SECONDS (default 20) is the time of each fuzz target.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${CORVANE_BUILD_DIR:-$ROOT/build}
ASAN_DIR=${CORVANE_ASAN_DIR:-$ROOT/build-asan}
JOBS=${CORVANE_JOBS:-$(nproc)}

stage() { printf '[test] %s: %s\n' "$(date +%H:%M:%S)" "$*"; }

# ctest_run DIR ARGS... ; a run whose only failures are LeakSanitizer's own tracer dying
# while a thread of the client library exits (no leak, no memory error, no failed
# assertion) repeats those tests once; any other failure stands.
ctest_run() {
  local LDir=$1
  shift
  (cd "$LDir" && ctest --output-on-failure -j1 "$@") && return 0
  local LLog=$LDir/Testing/Temporary/LastTest.log
  local LFailed=$LDir/Testing/Temporary/LastTestsFailed.log
  [ -f "$LLog" ] && [ -f "$LFailed" ] || return 1
  local LName LOutput
  while IFS= read -r LName; do
    LName=${LName#*:}
    LOutput=$(awk -v name="$LName" '
      $0 ~ /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); inside = ($0 == name); next }
      inside && /^<end of output>$/ { inside = 0 }
      inside { print }' "$LLog")
    if ! grep -q 'LeakSanitizer has encountered a fatal error' <<<"$LOutput" ||
       grep -qE 'detected memory leaks|ERROR: AddressSanitizer|runtime error|\[  FAILED  \]' <<<"$LOutput"; then
      return 1
    fi
    stage "LeakSanitizer's tracer failed in $LName; running it again"
  done <"$LFailed"
  (cd "$LDir" && ctest --output-on-failure -j1 --rerun-failed)
}

stage "set-up and normal build"
"$ROOT/scripts/setup.sh"

stage "shell scripts: shellcheck and the install path"
(cd "$ROOT" && shellcheck -x -P SCRIPTDIR scripts/*.sh demo/*.sh tests/scripts/*.sh .ci/run)
"$ROOT/tests/scripts/setup-install.sh"

stage "test suite"
ctest_run "$BUILD_DIR" "$@"

if [ -z "${CORVANE_NO_INTERRUPT:-}" ]; then
  stage "runs stopped by signals"
  "$ROOT/tests/scripts/interrupt.sh" "$BUILD_DIR" "${CORVANE_INTERRUPT_RUNS:-30}"
fi

if [ -z "${CORVANE_NO_VALGRIND:-}" ]; then
  stage "memcheck"
  "$ROOT/scripts/valgrind.sh" "$BUILD_DIR"
fi

if [ -z "${CORVANE_NO_SANITIZE:-}" ]; then
  stage "sanitizer build"
  cmake -S "$ROOT" -B "$ASAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON >/dev/null
  cmake --build "$ASAN_DIR" -j"$JOBS"
  "$ROOT/demo/make-demo.sh" "$ASAN_DIR" >/dev/null
  stage "test suite with sanitizers"
  # Any report fails its test: ASan and UBSan stop the program, LSan sets the exit status.
  # Only third-party leaks may be suppressed (tests/sanitizers/lsan.supp). use_tls=0: the
  # runtime's scan of dynamically loaded thread-local storage crashes its tracer.
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=use_tls=0:suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0 \
    ctest_run "$ASAN_DIR" "$@"
fi

if [ -z "${CORVANE_NO_FUZZ:-}" ]; then
  stage "fuzzing"
  CORVANE_JOBS=$JOBS "$ROOT/scripts/fuzz.sh" "${CORVANE_FUZZ_SECONDS:-20}"
fi
stage "done"
