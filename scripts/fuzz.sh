#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]
# Builds the libFuzzer targets of tests/fuzz with clang (build dir CORVANE_FUZZ_DIR, default
# build-fuzz) and runs each for SECONDS (default 60), one after the other. The working corpus
# lives in the build dir, seeded from tests/fuzz/corpus; a crash leaves its input in
# BUILD/crashes/TARGET/ and fails the script. Copy such a file into
# tests/fuzz/regressions/TARGET/ and the normal suite (FuzzCorpusTests) replays it forever.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-60}
shift || true
case "$SECONDS_EACH" in ''|*[!0-9]*) echo "uso: fuzz.sh [SEGUNDOS] [ALVO...]" >&2; exit 2 ;; esac
BUILD=${CORVANE_FUZZ_DIR:-$ROOT/build-fuzz}
JOBS=${CORVANE_JOBS:-2}

log() { printf '[fuzz] %s\n' "$*"; }

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_FUZZ=ON >/dev/null
fi
cmake --build "$BUILD" -j"$JOBS" --target fuzz-targets

TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  for LSource in "$ROOT"/tests/fuzz/Fuzz*.cpp; do TARGETS+=("$(basename "$LSource" .cpp)"); done
fi

# Sanitizer reports end the run; Qt's and ICU's caches that live until exit are not leaks of ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0}

LFailed=()
for LTarget in "${TARGETS[@]}"; do
  LBinary=$BUILD/tests/fuzz/$LTarget
  [ -x "$LBinary" ] || { echo "alvo desconhecido: $LTarget" >&2; exit 2; }
  LCorpus=$BUILD/corpus/$LTarget
  LCrashes=$BUILD/crashes/$LTarget
  mkdir -p "$LCorpus" "$LCrashes"
  LSeeds=()
  for LDir in "$ROOT/tests/fuzz/corpus/$LTarget" "$ROOT/tests/fuzz/regressions/$LTarget"; do
    [ -d "$LDir" ] && LSeeds+=("$LDir")
  done
  log "$LTarget: ${SECONDS_EACH}s"
  # The INI reader also meets long lines; the others see statement-sized inputs.
  LMaxLen=4096
  [ "$LTarget" = FuzzIniFile ] && LMaxLen=65536
  if ! "$LBinary" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 -max_len="$LMaxLen" \
        -print_final_stats=1 -artifact_prefix="$LCrashes/" "$LCorpus" "${LSeeds[@]}" \
        >"$BUILD/$LTarget.log" 2>&1; then
    tail -n 40 "$BUILD/$LTarget.log" >&2
    log "$LTarget FALHOU; entradas em $LCrashes"
    LFailed+=("$LTarget")
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$BUILD/$LTarget.log" | sed "s/^/[fuzz] $LTarget /" || true
  fi
done

if [ ${#LFailed[@]} -gt 0 ]; then
  log "falhas: ${LFailed[*]}"
  exit 1
fi
log "sem falhas"
