#!/usr/bin/env bash
# interrupt.sh BUILD_DIR [RUNS]
# Stops real corvane-cli runs at random moments with SIGINT and SIGTERM: RUNS exports and RUNS
# replays (default 30 each) of a Nota Fiscal large enough to take seconds. Every run must end
# with the signal's exit status (130, 143), or 0 when it had finished first; nothing may crash;
# no file or temporary file may appear for a stopped export; after a stopped replay the target
# must be unchanged, after a finished one it must hold exactly the rows its summary reports.
# CORVANE_INTERRUPT_ITEMS sets the document's size (default 5000), CORVANE_INTERRUPT_SEED the
# random sequence (printed, so that a failure can be repeated).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?uso: interrupt.sh BUILD_DIR [RUNS]}" && pwd)
RUNS=${2:-30}
ITEMS=${CORVANE_INTERRUPT_ITEMS:-5000}
CLI=$BUILD/cli/corvane-cli
SEED=${CORVANE_INTERRUPT_SEED:-$$}
RANDOM=$SEED

# shellcheck source=../../demo/settings.sh
. "$ROOT/demo/settings.sh"

DIR=${CORVANE_DEMO_DIR:-/var/tmp/corvane}/interrupt-$$
mkdir -p "$DIR"
chmod 1777 "$DIR"
WORK=$(mktemp -d /tmp/corvane-interrupt-XXXXXX)
SOURCE=$DIR/source.fdb
TARGET=$DIR/target.fdb
cleanup() {
  drop_database "$SOURCE"
  drop_database "$TARGET"
  rm -rf "$WORK" "$DIR"
}
trap cleanup EXIT

log() { printf '[interrupt] %s\n' "$*"; }
fail() {
  printf '[interrupt] FALHA (seed %s): %s\n' "$SEED" "$*" >&2
  exit 1
}

# elapsed COMMAND...: runs it and prints its wall time in milliseconds.
elapsed() {
  local LStart LEnd
  LStart=$(date +%s%N)
  "$@" >/dev/null 2>&1
  LEnd=$(date +%s%N)
  echo $(((LEnd - LStart) / 1000000))
}

# counts: "TABLE COUNT" for every table the script writes, in the target.
counts() {
  local LTable LSql="SET HEADING OFF;" LUnion=""
  for LTable in "${TABLES[@]}"; do
    LSql+=" $LUnion SELECT '$LTable', COUNT(*) FROM \"$LTable\""
    LUnion="UNION ALL"
  done
  printf '%s;\n' "$LSql" | isql-fb -q -b -ch UTF8 "localhost:$TARGET" | awk 'NF == 2 { print $1, $2 }'
}

# stop_at MILLISECONDS SIGNAL OUT ERR COMMAND...: starts the command, sends the signal after the
# delay, and leaves its exit status in RC.
stop_at() {
  local LDelay=$1 LSignal=$2 LOut=$3 LErr=$4 LPid
  shift 4
  "$@" >"$LOut" 2>"$LErr" &
  LPid=$!
  sleep "$(printf '%d.%03d' $((LDelay / 1000)) $((LDelay % 1000)))"
  kill "-$LSignal" "$LPid" 2>/dev/null || true
  # A stop must end the run promptly: one that hangs (a call that never returns) fails.
  local LWaited=0
  while kill -0 "$LPid" 2>/dev/null && [ "$LWaited" -lt 600 ]; do
    sleep 0.1
    LWaited=$((LWaited + 1))
  done
  if kill -0 "$LPid" 2>/dev/null; then
    kill -KILL "$LPid" 2>/dev/null || true
    fail "$* nao terminou 60 s depois de SIG$LSignal (${LDelay} ms)"
  fi
  RC=0
  wait "$LPid" || RC=$?
}

expect_status() {  # expect_status WHAT SIGNAL ERR
  local LWanted=130
  [ "$2" = TERM ] && LWanted=143
  case "$RC" in
    0 | "$LWanted") ;;
    *) fail "$1: status $RC apos SIG$2: $(cat "$3")" ;;
  esac
}

log "seed $SEED; nota fiscal de $ITEMS itens"
"$ROOT/demo/make-bench.sh" "$ITEMS" "$SOURCE" >/dev/null
"$ROOT/demo/make-empty.sh" "$TARGET" >/dev/null

# --- exports -----------------------------------------------------------------------------
OUTDIR=$WORK/out
mkdir -p "$OUTDIR"
EXPORT=("$CLI" nota 900001 --config "$DIR/source.ini" --quiet -o)
LFull=$(elapsed "${EXPORT[@]}" "$WORK/full.sql")
[ -s "$WORK/full.sql" ] || fail "a exportacao completa nao gravou o script"
log "exportacao completa: ${LFull} ms"
LStopped=0
for I in $(seq 1 "$RUNS"); do
  LSignal=INT
  [ $((I % 2)) -eq 0 ] && LSignal=TERM
  LDelay=$((RANDOM % (LFull + LFull / 10 + 1)))
  stop_at "$LDelay" "$LSignal" "$WORK/e.out" "$WORK/e.err" "${EXPORT[@]}" "$OUTDIR/nota.sql"
  expect_status "exportacao $I (${LDelay} ms)" "$LSignal" "$WORK/e.err"
  if [ "$RC" -eq 0 ]; then
    cmp -s "$OUTDIR/nota.sql" "$WORK/full.sql" || fail "exportacao $I terminou com 0 e outro script"
    rm -f "$OUTDIR/nota.sql"
  else
    LStopped=$((LStopped + 1))
    # Silence: the signal came while the program was still being loaded, before it could take it.
    [ ! -s "$WORK/e.err" ] || grep -q 'Exportacao interrompida pelo usuario' "$WORK/e.err" ||
      fail "exportacao $I: $(cat "$WORK/e.err")"
  fi
  LLeft=$(find "$OUTDIR" -mindepth 1 | head -n 1)
  [ -z "$LLeft" ] || fail "exportacao $I (${LDelay} ms) deixou $LLeft"
done
log "exportacoes: $RUNS, interrompidas $LStopped"

# Two interruptions at once end the program without waiting: still no file, no temporary file.
LAtOnce=0
for I in 1 2 3 4; do
  LDelay=$((LFull / 4 + RANDOM % (LFull / 2 + 1)))
  "${EXPORT[@]}" "$OUTDIR/nota.sql" >"$WORK/e.out" 2>"$WORK/e.err" &
  LPid=$!
  sleep "$(printf '%d.%03d' $((LDelay / 1000)) $((LDelay % 1000)))"
  # Two different signals: a second SIGINT still pending would merge into the first.
  kill -INT "$LPid" 2>/dev/null || true
  kill -TERM "$LPid" 2>/dev/null || true
  RC=0
  wait "$LPid" || RC=$?
  case "$RC" in
    0 | 130) ;;
    *) fail "exportacao dupla $I: status $RC: $(cat "$WORK/e.err")" ;;
  esac
  ! grep -q 'Encerrado sem aguardar' "$WORK/e.err" || LAtOnce=$((LAtOnce + 1))
  # The script may have been complete before the second signal ended the program; never part of it.
  if [ -e "$OUTDIR/nota.sql" ]; then
    cmp -s "$OUTDIR/nota.sql" "$WORK/full.sql" || fail "exportacao dupla $I (${LDelay} ms) deixou um script incompleto"
    rm -f "$OUTDIR/nota.sql"
  fi
  LLeft=$(find "$OUTDIR" -mindepth 1 | head -n 1)
  [ -z "$LLeft" ] || fail "exportacao dupla $I (${LDelay} ms) deixou $LLeft"
done
log "exportacoes com duas interrupcoes: 4, encerradas sem aguardar $LAtOnce"

# --- replays -----------------------------------------------------------------------------
REPLAY=("$CLI" replay "$WORK/full.sql" --config "$DIR/target.ini" --quiet)
LFull=$(elapsed "${REPLAY[@]}")
log "reproducao completa: ${LFull} ms"
"$ROOT/demo/make-empty.sh" "$TARGET" >/dev/null
# The tables the script writes, from its statements.
mapfile -t TABLES < <(grep -o '^UPDATE OR INSERT INTO "[^"]*"' "$WORK/full.sql" | sort -u | sed 's/^UPDATE OR INSERT INTO "\(.*\)"$/\1/')
LStopped=0
for I in $(seq 1 "$RUNS"); do
  LSignal=INT
  [ $((I % 2)) -eq 0 ] && LSignal=TERM
  LDelay=$((RANDOM % (LFull + LFull / 10 + 1)))
  stop_at "$LDelay" "$LSignal" "$WORK/r.out" "$WORK/r.err" "${REPLAY[@]}"
  expect_status "reproducao $I (${LDelay} ms)" "$LSignal" "$WORK/r.err"
  if grep -q 'Resumo:' "$WORK/r.out"; then
    # Committed: each table holds exactly what the output reports as inserted.
    LReported=$(sed -n 's/^\([A-Z0-9_$]*\): \([0-9]*\) inseridos.*/\1 \2/p' "$WORK/r.out" | sort)
    [ "$(counts | sort)" = "$LReported" ] || fail "reproducao $I: o destino difere do relatado"
    "$ROOT/demo/make-empty.sh" "$TARGET" >/dev/null
  else
    [ "$RC" -ne 0 ] || fail "reproducao $I terminou com 0 sem resumo"
    LStopped=$((LStopped + 1))
    [ ! -s "$WORK/r.err" ] || grep -q 'Reproducao interrompida pelo usuario: nada foi gravado' "$WORK/r.err" ||
      fail "reproducao $I: $(cat "$WORK/r.err")"
    LCounts=$(counts)
    [ "$(printf '%s\n' "$LCounts" | awk '$2 == 0' | wc -l)" -eq "${#TABLES[@]}" ] ||
      fail "reproducao $I interrompida deixou o destino diferente: $LCounts"
  fi
done
log "reproducoes: $RUNS, interrompidas $LStopped"
log "ok"
