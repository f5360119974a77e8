#!/usr/bin/env bash
# Sets everything up (packages, Firebird, build, demo database), exports the demo NFSe and
# Nota Fiscal with corvane-cli and, when a display is available, opens the desktop program
# on the demo database.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${CORVANE_BUILD_DIR:-$ROOT/build}

"$ROOT/scripts/setup.sh"

CLI=$BUILD_DIR/cli/corvane-cli
if [ ! -x "$CLI" ]; then
  echo "[demo] $CLI was not built" >&2
  exit 1
fi

NFSE_FILE=$BUILD_DIR/NFSe_1001.sql
NOTA_FILE=$BUILD_DIR/NotaFiscal_000123.sql
PEDIDO_FILE=$BUILD_DIR/Pedido_5001.sql
"$CLI" nfse 1001 -o "$NFSE_FILE"
"$CLI" nota 000123 -o "$NOTA_FILE"
"$CLI" doc Pedido 5001 -o "$PEDIDO_FILE"

cat <<MSG

Slice scripts of the demo database:
  NFSe 1001:           $NFSE_FILE
  Nota Fiscal 000123:  $NOTA_FILE
  Pedido 5001:         $PEDIDO_FILE  (a document of documentos.ini)
Replay one on another database of the same schema (an empty one: demo/make-empty.sh FILE.fdb):
  $CLI replay $NOTA_FILE --config TARGET.ini --dry-run   # what it would change
  $CLI replay $NOTA_FILE --config TARGET.ini             # write it, checked
Other demo documents: NFSe 1002 and 1003, Nota Fiscal 000124 and 000125
  ($CLI nota 000124 -o FILE); $CLI docs lists them all. Covered tables: $CLI tables
MSG

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$BUILD_DIR/ui/corvane" ]; then
  echo "Opening the desktop program (settings: $BUILD_DIR/ui/config.ini)..."
  exec "$BUILD_DIR/ui/corvane"
fi
