# Functions for a throwaway PostgreSQL server, sourced by tools/test-postgres.sh and
# bench/e2e.sh: a cluster made by initdb in a temporary folder, listening only on a Unix
# socket in that folder (no TCP port, so it meets no other server). The server refuses
# to run as root: as root, the cluster belongs to the postgres user.
#   pg_throwaway_start    sets PG_THROWAWAY_DIR, PG_THROWAWAY_BIN; returns 1 without a server
#   pg_throwaway_stop     stops the server and removes the folder (safe to call twice)

pg_throwaway_start() {
  PG_THROWAWAY_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -z "$PG_THROWAWAY_BIN" ] && command -v initdb >/dev/null 2>&1; then
    PG_THROWAWAY_BIN=$(dirname "$(command -v initdb)")
  fi
  if [ -z "$PG_THROWAWAY_BIN" ] || [ ! -x "$PG_THROWAWAY_BIN/initdb" ]; then
    echo "PostgreSQL server programs not found (bash tools/setup-deps.sh installs them)" >&2
    return 1
  fi
  PG_THROWAWAY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/veltro-pg.XXXXXX")
  PG_THROWAWAY_AS=()
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$PG_THROWAWAY_DIR"
    PG_THROWAWAY_AS=(runuser -u postgres --)
  fi
  if ! "${PG_THROWAWAY_AS[@]}" "$PG_THROWAWAY_BIN/initdb" -D "$PG_THROWAWAY_DIR/data" \
    -U postgres -A trust -E UTF8 --no-locale >"$PG_THROWAWAY_DIR/initdb.log" 2>&1; then
    cat "$PG_THROWAWAY_DIR/initdb.log" >&2
    return 1
  fi
  if ! "${PG_THROWAWAY_AS[@]}" "$PG_THROWAWAY_BIN/pg_ctl" -D "$PG_THROWAWAY_DIR/data" \
    -l "$PG_THROWAWAY_DIR/server.log" -w -t 60 \
    -o "-c listen_addresses= -k $PG_THROWAWAY_DIR -p 5432 -c fsync=off" start >/dev/null; then
    cat "$PG_THROWAWAY_DIR/server.log" >&2
    return 1
  fi
}

pg_throwaway_stop() {
  if [ -n "${PG_THROWAWAY_DIR:-}" ]; then
    "${PG_THROWAWAY_AS[@]}" "$PG_THROWAWAY_BIN/pg_ctl" -D "$PG_THROWAWAY_DIR/data" \
      -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$PG_THROWAWAY_DIR"
    PG_THROWAWAY_DIR=
  fi
}
