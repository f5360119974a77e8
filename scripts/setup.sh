#!/usr/bin/env bash
# Prepares a Debian 12 machine for Corvane: packages, a running Firebird 3 server on
# 127.0.0.1:3050, the build in build/, and the demo database with its config.ini.
# Safe to run again: every step checks first.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${CORVANE_BUILD_DIR:-$ROOT/build}
BUILD_TYPE=${CORVANE_BUILD_TYPE:-RelWithDebInfo}
DEFAULT_PASSWORD=plumvaxer

# as_root CMD ARGS... runs a command with root rights: directly when we are root, else
# through sudo. A command word, never a possibly empty variable, so that nothing shifts.
if [ "$(id -u)" -eq 0 ]; then
  as_root() { "$@"; }
else
  as_root() { sudo "$@"; }
fi

PACKAGES=(g++ cmake make pkg-config git qt6-base-dev libgl-dev libicu-dev
          firebird3.0-server firebird3.0-utils firebird-dev
          libgtest-dev googletest valgrind clang libclang-rt-14-dev shellcheck
          qt6-translations-l10n)

log() { printf '[setup] %s\n' "$*"; }

# --- packages --------------------------------------------------------------
server_was_installed=yes
dpkg -s firebird3.0-server >/dev/null 2>&1 || server_was_installed=no

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  # env, not sudo -E: it carries the setting as root and through sudo alike.
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || true
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# --- Firebird server -------------------------------------------------------
port_open() { (exec 3<>/dev/tcp/127.0.0.1/3050) >/dev/null 2>&1; }

stop_server() {
  as_root pkill -x fbguard >/dev/null 2>&1 || true
  as_root pkill -x firebird >/dev/null 2>&1 || true
  for _ in $(seq 1 50); do port_open || return 0; sleep 0.2; done
}

start_server() {
  port_open && return 0
  if [ -d /run/systemd/system ]; then
    as_root systemctl start firebird3.0 || true
  fi
  if ! port_open; then
    as_root mkdir -p /run/firebird3.0
    as_root chown firebird:firebird /run/firebird3.0
    as_root runuser -u firebird -- /usr/sbin/fbguard -daemon -forever
  fi
  for _ in $(seq 1 100); do port_open && return 0; sleep 0.2; done
  echo "Firebird server did not start on 127.0.0.1:3050" >&2
  exit 1
}

# A server this script has just installed gets the program's default SYSDBA password,
# so that a default config.ini works. An existing server keeps its own.
if [ "$server_was_installed" = no ]; then
  log "setting SYSDBA password of the freshly installed server"
  stop_server
  printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$DEFAULT_PASSWORD" |
    as_root runuser -u firebird -- isql-fb -q -user SYSDBA /var/lib/firebird/3.0/system/security3.fdb
  as_root sed -i "s/^ISC_PASSWORD=.*/ISC_PASSWORD=\"$DEFAULT_PASSWORD\"/" /etc/firebird/3.0/SYSDBA.password
fi
start_server
log "Firebird listens on 127.0.0.1:3050"

# --- build -----------------------------------------------------------------
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

# --- demo database ---------------------------------------------------------
if [ -x "$ROOT/demo/make-demo.sh" ]; then
  "$ROOT/demo/make-demo.sh" "$BUILD_DIR"
fi
log "ready"
