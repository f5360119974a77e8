# shellcheck shell=bash
# Shared by the demo scripts: the server's SYSDBA password and the settings files holding it.
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
