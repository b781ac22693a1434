#!/usr/bin/env bash
# Runs the PostgreSQL tests against a throwaway server (tools/pg-throwaway.sh), stopped
# and removed at the end, also when a test fails.
#   bash tools/test-postgres.sh [build folder]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m "${1:-build}")"
source tools/pg-throwaway.sh
trap pg_throwaway_stop EXIT
trap 'exit 130' INT TERM
pg_throwaway_start

# The tests find the server and psql through these; without them they skip.
export VELTRO_PGHOST="$PG_THROWAWAY_DIR" VELTRO_PGPORT=5432 VELTRO_PSQL="$PG_THROWAWAY_BIN/psql"
"$build/tests/front_tests" --gtest_filter='Postgres*' --gtest_brief=1
