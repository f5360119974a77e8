#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite against the local Firebird server.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
cd "${CORVANE_BUILD_DIR:-$ROOT/build}"
ctest --output-on-failure -j1 "$@"
