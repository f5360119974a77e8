#!/usr/bin/env bash
# valgrind.sh [BUILD_DIR]
# Memcheck over corvane-cli exports of the demo Nota Fiscal: one that succeeds and one that
# fails (unknown NOTANUM), so that both the normal and the error path are covered. Any
# memcheck error or definitely lost block fails the script. BUILD_DIR (default build) must
# be a build without sanitizers, with the demo config.ini beside the program
# (demo/make-demo.sh writes it).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-${CORVANE_BUILD_DIR:-$ROOT/build}}
CLI=$BUILD/cli/corvane-cli
SUPPRESSIONS=$ROOT/tests/sanitizers/valgrind.supp

log() { printf '[valgrind] %s\n' "$*"; }
[ -x "$CLI" ] || { echo "corvane-cli nao encontrado em $CLI" >&2; exit 2; }
if grep -q '^CORVANE_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
  echo "$BUILD foi compilado com sanitizers; memcheck precisa de uma compilacao normal" >&2
  exit 2
fi

WORK=$(mktemp -d /tmp/corvane-valgrind-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# run_memcheck NAME EXPECTED_EXIT ARGS...
run_memcheck() {
  local LName=$1 LExpected=$2
  shift 2
  local LStatus=0
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --error-exitcode=99 --num-callers=40 --suppressions="$SUPPRESSIONS" --log-file="$WORK/$LName.log" \
    "$CLI" "$@" >"$WORK/$LName.out" 2>&1 || LStatus=$?
  if [ "$LStatus" -ne "$LExpected" ]; then
    cat "$WORK/$LName.out" "$WORK/$LName.log" >&2
    log "$LName: saida $LStatus, esperado $LExpected"
    return 1
  fi
  grep -E 'ERROR SUMMARY|definitely lost' "$WORK/$LName.log" | sed "s/^==[0-9]*== /[valgrind] $LName: /"
}

run_memcheck nota-000123 0 nota 000123 -o "$WORK/nota.sql" --quiet
grep -q '^COMMIT;' "$WORK/nota.sql" || { log "o script da nota 000123 nao foi gravado"; exit 1; }
run_memcheck nota-inexistente 1 nota 999999 -o "$WORK/nenhum.sql" --quiet
[ ! -e "$WORK/nenhum.sql" ] || { log "uma exportacao que falhou deixou arquivo"; exit 1; }
log "sem erros nem vazamentos definitivos"
