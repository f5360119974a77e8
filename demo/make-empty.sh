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

create_database "$DB" empty <"$HERE/schema.sql" || exit 1
write_settings "$INI" "$DB" demo/make-empty.sh
printf '[empty] %s: empty demo schema; settings in %s\n' "$DB" "$INI"
