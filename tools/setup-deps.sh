#!/usr/bin/env bash
# Installs the build tools VELTRO needs through apt, only when something is missing.
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v g++ >/dev/null 2>&1 || need+=(g++)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
# SQLite: the library the Linux program links; the sqlite3 program (for looking into a
# converted database, and for the check that a /CSV file imports) and python3
# (tools/check-csv.py and the typed outputs' checks).
dpkg -s libsqlite3-dev >/dev/null 2>&1 || need+=(libsqlite3-dev)
# The server the SQL script tests load into (tools/test-postgres.sh starts a throwaway one).
dpkg -s postgresql >/dev/null 2>&1 || need+=(postgresql)
# The end-to-end check that a /CSV file imports into a database (tools/check-csv.py).
command -v sqlite3 >/dev/null 2>&1 || need+=(sqlite3)
command -v python3 >/dev/null 2>&1 || need+=(python3)
for pkg in "$@"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi
