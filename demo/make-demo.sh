#!/usr/bin/env bash
# make-demo.sh BUILD_DIR
# Creates the demo ERP database on the local Firebird server when it is missing or was built
# from older SQL, and writes config.ini pointing at it into BUILD_DIR and beside the programs
# (BUILD_DIR/cli, BUILD_DIR/ui), since each program reads the config.ini of its own folder.
#
# Environment: CORVANE_DEMO_DIR (folder of the database, default /var/tmp/corvane; the
# firebird user must be able to write it), CORVANE_DB_PASSWORD (SYSDBA password; default the
# server's ISC_PASSWORD from /etc/firebird/3.0/SYSDBA.password, else plumvaxer).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=${1:?uso: make-demo.sh BUILD_DIR}
DEMO_DIR=${CORVANE_DEMO_DIR:-/var/tmp/corvane}
DEMO_DB=$DEMO_DIR/demo.fdb
STAMP=$DEMO_DIR/demo.stamp

log() { printf '[demo] %s\n' "$*"; }

# shellcheck source=settings.sh
. "$HERE/settings.sh"

isql_on() {  # isql_on DATABASE < sql ; credentials travel in the environment, not in ps
  isql-fb -q -b -ch UTF8 "$@"
}

demo_usable() {
  printf "SELECT COUNT(*) FROM NOTAFI WHERE NOTANUM = '000123';\n" |
    isql_on "localhost:$DEMO_DB" 2>/dev/null | grep -q '^ *1 *$'
}

mkdir -p "$DEMO_DIR"
chmod 1777 "$DEMO_DIR" 2>/dev/null || true

LWanted=$(cat "$HERE/schema.sql" "$HERE/data.sql" | sha256sum | cut -c1-64)
if demo_usable && [ "$(cat "$STAMP" 2>/dev/null)" = "$LWanted" ]; then
  log "demo database up to date: $DEMO_DB"
else
  log "creating demo database $DEMO_DB"
  cat "$HERE/schema.sql" "$HERE/data.sql" | create_database "$DEMO_DB" demo || exit 1
  printf '%s\n' "$LWanted" >"$STAMP"
fi

write_config() {
  mkdir -p "$1"
  write_settings "$1/config.ini" "$DEMO_DB" demo/make-demo.sh
  cp "$HERE/documentos.ini" "$1/documentos.ini"
  cp "$HERE/mascaramento.ini" "$1/mascaramento.ini"
}
for LFolder in "$BUILD_DIR" "$BUILD_DIR/cli" "$BUILD_DIR/ui"; do write_config "$LFolder"; done
log "config.ini, documentos.ini and mascaramento.ini written to $BUILD_DIR, $BUILD_DIR/cli and $BUILD_DIR/ui"
log "documents: NFSe (NFSID) 1001, 1002, 1003; Nota Fiscal (NOTANUM) 000123, 000124, 000125;"
log "  Pedido (PEDNUM) 5001, 5002, 5003; ClienteEmAberto (CLICOD) 100, 103, 104"
