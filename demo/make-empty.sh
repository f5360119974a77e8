#!/usr/bin/env bash
# make-empty.sh DATABASE
# Creates an empty database of the demo (and benchmark) schema, as make-bench.sh creates its
# own (page size 8192, default character set WIN1252), for replaying slices into; an existing
# file is replaced. A settings file for corvane-cli --config is written beside it
# (DATABASE without .fdb, plus .ini). Credentials as make-demo.sh.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
DB=${1:?uso: make-empty.sh DATABASE}
INI=${DB%.fdb}.ini

# shellcheck source=settings.sh
. "$HERE/settings.sh"

mkdir -p "$(dirname "$DB")"
chmod 1777 "$(dirname "$DB")" 2>/dev/null || true
printf 'DROP DATABASE;\n' | isql-fb -q -b "localhost:$DB" >/dev/null 2>&1 || rm -f "$DB" 2>/dev/null || true

LScript=$(mktemp /tmp/corvane-empty-XXXXXX.sql)
trap 'rm -f "$LScript"' EXIT
{
  printf "CREATE DATABASE 'localhost:%s' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;\n" "$DB"
  cat "$HERE/schema.sql"
  printf 'COMMIT;\n'
} >"$LScript"
if ! LOutput=$(isql-fb -q -b -ch UTF8 -i "$LScript" 2>&1) || [ -n "$LOutput" ]; then
  printf '%s\n' "$LOutput" >&2
  echo "[empty] creating $DB failed" >&2
  exit 1
fi
write_settings "$INI" "$DB" demo/make-empty.sh
printf '[empty] %s: empty demo schema; settings in %s\n' "$DB" "$INI"
