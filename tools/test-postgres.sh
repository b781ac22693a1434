#!/usr/bin/env bash
# Runs the PostgreSQL tests against a throwaway server: a cluster made by initdb in a
# temporary folder, listening only on a Unix socket in that folder (no TCP port, so it
# meets no other server), stopped and removed at the end, also when a test fails.
# The server refuses to run as root: as root, the cluster belongs to the postgres user.
#   bash tools/test-postgres.sh [build folder]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m "${1:-build}")"
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] && command -v initdb >/dev/null 2>&1; then
  bindir=$(dirname "$(command -v initdb)")
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "PostgreSQL server programs not found (bash tools/setup-deps.sh installs them)" >&2
  exit 1
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/veltro-pg.XXXXXX")
server=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$tmp"
  server=(runuser -u postgres --)
fi
cleanup() {
  "${server[@]}" "$bindir/pg_ctl" -D "$tmp/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"${server[@]}" "$bindir/initdb" -D "$tmp/data" -U postgres -A trust -E UTF8 --no-locale \
  >"$tmp/initdb.log" 2>&1 || { cat "$tmp/initdb.log" >&2; exit 1; }
if ! "${server[@]}" "$bindir/pg_ctl" -D "$tmp/data" -l "$tmp/server.log" -w -t 60 \
  -o "-c listen_addresses= -k $tmp -p 5432 -c fsync=off" start >/dev/null; then
  cat "$tmp/server.log" >&2
  exit 1
fi

# The tests find the server and psql through these; without them they skip.
export VELTRO_PGHOST="$tmp" VELTRO_PGPORT=5432 VELTRO_PSQL="$bindir/psql"
"$build/tests/front_tests" --gtest_filter='Postgres*' --gtest_brief=1
