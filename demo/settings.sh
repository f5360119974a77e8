# shellcheck shell=bash
# Shared by the demo scripts: the server's SYSDBA password, the settings files holding it, and
# the making of a database from SQL text.
# Sourced, not run.

# CORVANE_DB_PASSWORD, else the server's ISC_PASSWORD from Debian's SYSDBA.password, else the
# program's default.
server_password() {
  if [ -n "${CORVANE_DB_PASSWORD:-}" ]; then printf '%s' "$CORVANE_DB_PASSWORD"; return; fi
  local LFile=/etc/firebird/3.0/SYSDBA.password LValue=""
  if [ -r "$LFile" ]; then
    LValue=$(sed -n 's/^ISC_PASSWORD="\{0,1\}\([^"]*\)"\{0,1\}[[:space:]]*$/\1/p' "$LFile" | head -n 1)
  fi
  printf '%s' "${LValue:-plumvaxer}"
}

# Credentials travel to isql-fb in the environment, not on its command line.
export ISC_USER=SYSDBA
ISC_PASSWORD=$(server_password)
export ISC_PASSWORD

# write_settings FILE DATABASE WRITER: a settings file for the programs; it holds the
# password, so only its owner may read it.
write_settings() {
  rm -f "$1"
  (umask 077 && cat >"$1" <<SETTINGS
; Corvane settings, written by $3
[Firebird]
UserName=SYSDBA
Password=$ISC_PASSWORD
CharacterSet=WIN1252
[SERVER]
SERVER_NAME=localhost
[PROTOCOL]
PROTOCOL_NAME=TCPIP
[BANCO]
CAMINHO=$2
SETTINGS
  )
}

# drop_database DATABASE: removes it if it exists. The server owns the file, so it is asked
# first (a sticky folder would refuse us).
drop_database() {
  printf 'DROP DATABASE;\n' | isql-fb -q -b "localhost:$1" >/dev/null 2>&1 || rm -f "$1" 2>/dev/null || true
}

# create_database DATABASE TAG < SQL: replaces DATABASE by a new one (page size 8192, default
# character set WIN1252) built and committed by the SQL on standard input. Any output of
# isql counts as a failure: it goes to standard error, the half-made database is removed,
# and the status is 1.
create_database() {
  local LDb=$1 LTag=$2 LScript LOutput
  mkdir -p "$(dirname "$LDb")"
  chmod 1777 "$(dirname "$LDb")" 2>/dev/null || true
  drop_database "$LDb"
  LScript=$(mktemp "/tmp/corvane-$LTag-XXXXXX.sql")
  {
    printf "CREATE DATABASE 'localhost:%s' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;\n" "$LDb"
    cat
    printf 'COMMIT;\n'
  } >"$LScript"
  if ! LOutput=$(isql-fb -q -b -ch UTF8 -i "$LScript" 2>&1) || [ -n "$LOutput" ]; then
    rm -f "$LScript"
    printf '%s\n' "$LOutput" >&2
    drop_database "$LDb"
    echo "[$LTag] creating $LDb failed" >&2
    return 1
  fi
  rm -f "$LScript"
}
