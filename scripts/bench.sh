#!/usr/bin/env bash
# Measures exports of one Nota Fiscal of N items (default 1000 10000 50000) against the floor
# of reading the same tables with one plain query each, then the replay of that slice with
# corvane-cli's replayer against isql-fb -b -ch UTF8 -i on identical empty databases, one line
# replay_ratio=<ours/isql> per size (CORVANE_BENCH_REPLAY=0 leaves it out). Builds in release
# mode first. Last, the desktop window against corvane-cli on the largest size: one line
# desktop_ratio=<desktop/cli> (CORVANE_BENCH_DESKTOP=0 leaves it out).
#   scripts/bench.sh [N...]      RUNS=5 by default (first run reported apart as cold)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh" >/dev/null
BUILD="$ROOT/build-release"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target corvane-bench corvane-cli corvane-desktop-bench >/dev/null
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(1000 10000 50000)
LAST=""
for N in "${SIZES[@]}"; do
  OUT=$("$BUILD/bench/corvane-bench" "$N" "${RUNS:-5}")
  printf '%s\n' "$OUT" | head -n 1
  printf '%s\n' "$OUT" | grep '^replay_ratio=' || true
  LAST=$(printf '%s\n' "$OUT" | grep '^ratio=')
done
printf '%s\n' "$LAST"
if [ "${CORVANE_BENCH_DESKTOP:-1}" != 0 ]; then
  N=${SIZES[${#SIZES[@]}-1]}
  DEMO_DIR=${CORVANE_DEMO_DIR:-/var/tmp/corvane}
  [ -f "$DEMO_DIR/bench-$N.ini" ] || "$ROOT/demo/make-bench.sh" "$N" >/dev/null
  QT_QPA_PLATFORM=offscreen "$BUILD/bench/corvane-desktop-bench" "$DEMO_DIR/bench-$N.ini" 900001 \
    "$BUILD/cli/corvane-cli" "${DESKTOP_RUNS:-3}" 2>/dev/null
fi
