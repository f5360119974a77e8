#!/usr/bin/env bash
# Runs scripts/setup.sh with stand-ins for dpkg and apt-get first on PATH: one listed package
# is reported missing and the install call is only recorded. Checks, as root and through sudo,
# that the set-up finishes and asks apt-get for that package non-interactively. Installs
# nothing; expects the machine to be set up already (the rest of the set-up then only checks).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
MISSING=libgtest-dev

LWork=$(mktemp -d /tmp/corvane-setup-test-XXXXXX)
trap 'rm -rf "$LWork"' EXIT

write_stub() {  # write_stub NAME BODY
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$LWork/bin/$1"
  chmod +x "$LWork/bin/$1"
}

run_case() {  # run_case root|sudo
  local LCase=$1 LLog=$LWork/$1.calls
  rm -rf "${LWork:?}/bin"
  mkdir -p "$LWork/bin"
  : >"$LLog"
  write_stub dpkg "[ \"\${1:-}\" = -s ] && [ \"\${2:-}\" = $MISSING ] && exit 1; exit 0"
  write_stub apt-get "printf 'apt-get DEBIAN_FRONTEND=%s %s\\n' \"\${DEBIAN_FRONTEND:-}\" \"\$*\" >>'$LLog'"
  if [ "$LCase" = sudo ]; then
    # A user without root rights: every root command must go through sudo.
    write_stub id "[ \"\${1:-}\" = -u ] && { echo 1000; exit 0; }; exec /usr/bin/id \"\$@\""
    write_stub sudo "printf 'sudo %s\\n' \"\$*\" >>'$LLog'; exec \"\$@\""
  fi

  local LOutput
  if ! LOutput=$(PATH="$LWork/bin:$PATH" "$ROOT/scripts/setup.sh" 2>&1); then
    printf '%s\n' "$LOutput" >&2
    echo "FAIL ($LCase): the set-up stopped" >&2
    return 1
  fi
  if ! grep -q '^\[setup\] ready$' <<<"$LOutput"; then
    printf '%s\n' "$LOutput" >&2
    echo "FAIL ($LCase): the set-up did not finish" >&2
    return 1
  fi
  if ! grep -qE "^apt-get DEBIAN_FRONTEND=noninteractive install -y -q $MISSING\$" "$LLog"; then
    cat "$LLog" >&2
    echo "FAIL ($LCase): apt-get was not asked for $MISSING non-interactively" >&2
    return 1
  fi
  if [ "$LCase" = sudo ] && ! grep -qE "^sudo .*apt-get install -y -q $MISSING\$" "$LLog"; then
    cat "$LLog" >&2
    echo "FAIL (sudo): the install did not go through sudo" >&2
    return 1
  fi
  echo "ok ($LCase): the set-up finished and asked for $MISSING"
}

run_case root
run_case sudo
