#!/usr/bin/env bash
# Renders the windows of the desktop program to PNG files with Qt's offscreen platform: the
# main window after a finished NFSe export of the demo database, the covered-tables window and
# the replay window in each of its states, replaying that export into an empty database.
#   scripts/screenshots.sh [OUTPUT_FOLDER]     (default: build/screenshots)
# Environment: CORVANE_BUILD_DIR (default build/), CORVANE_SCREENSHOT_NFSID (default 1001).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${CORVANE_BUILD_DIR:-$ROOT/build}
OUT=${1:-$ROOT/build/screenshots}
NFSID=${CORVANE_SCREENSHOT_NFSID:-1001}

port_open() { (exec 3<>/dev/tcp/127.0.0.1/3050) >/dev/null 2>&1; }
if ! port_open; then
  # No server yet: the set-up installs and starts it (and builds everything).
  CORVANE_BUILD_DIR="$BUILD_DIR" "$ROOT/scripts/setup.sh"
fi

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${CORVANE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
cmake --build "$BUILD_DIR" --target corvane-screenshots -j"$(nproc)"
"$ROOT/demo/make-demo.sh" "$BUILD_DIR"

mkdir -p "$OUT"
TARGET_DB=${CORVANE_DEMO_DIR:-/var/tmp/corvane}/screenshots-target.fdb
"$ROOT/demo/make-empty.sh" "$TARGET_DB" >/dev/null
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/ui/corvane-screenshots" \
  --config "$BUILD_DIR/ui/config.ini" --nfsid "$NFSID" --out "$OUT" --target "${TARGET_DB%.fdb}.ini"
echo "screenshots in $OUT:"
ls -1 "$OUT"/*.png
