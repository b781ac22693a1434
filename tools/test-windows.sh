#!/usr/bin/env bash
# Builds the Windows program and tests and runs them under Wine:
#  1. the unit test programs built for Windows (one ctest entry per program);
#  2. the tests that start the program (end_to_end_tests) built for Linux and run against
#     VELTRO.EXE through Wine (VELTRO_UNDER_TEST), so the same expected bytes are
#     checked.
# The Wine prefix lives in the build folder; its regional settings are the ISO forms
# the Linux tests expect from the C locale. Folders: VELTRO_WIN_BUILD_DIR (build-win),
# VELTRO_LINUX_BUILD_DIR (build, shared with tools/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash tools/setup-deps.sh wine wine64
bash tools/build-windows.sh --all
win="$(realpath -m "${VELTRO_WIN_BUILD_DIR:-build-win}")"
linux="$(realpath -m "${VELTRO_LINUX_BUILD_DIR:-build}")"

# The tests expect the C locale's forms; Wine takes its user locale from LC_ALL too, and
# every Wine process here must see the same one.
export LC_ALL=C
export WINEPREFIX="$win/wine" WINEDEBUG=-all
# No prompts to install Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# One Wine server for the whole run; its services are started here, detached from
# the tests' pipes.
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Creates the prefix on the first start (a few seconds), then starts the services.
wineboot </dev/null >/dev/null 2>&1
regional="$win/regional-settings.reg"
cat >"$regional" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Control Panel\International]
"sDecimal"="."
"sThousand"=","
"sCurrency"="$"
"sDate"="-"
"sShortDate"="yyyy-MM-dd"
"sTime"=":"
"sTimeFormat"="HH:mm:ss"
"s1159"="AM"
"s2359"="PM"
REG
wine reg import "$(winepath -w "$regional")" </dev/null >/dev/null 2>&1

echo "== Windows unit tests under Wine"
log="$win/unit-tests.log"
ctest --test-dir "$win" --output-on-failure -V >"$log" 2>&1 || {
  grep -E "FAILED|Failure|Expected|Which is" "$log" | head -50
  echo "Windows unit tests failed; see $log"
  exit 1
}
units=$(grep -Eo '\[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}' || true)
unitsSkipped=$(grep -Eo '^[0-9]+: \[  SKIPPED \] [0-9]+ test' "$log" |
  awk '{s += $5} END {print s + 0}' || true)
grep -E '^[0-9]+: \[  PASSED  \]|tests passed' "$log" | sed 's/^[0-9]*: //'

echo "== End-to-end tests against VELTRO.EXE under Wine"
[ -f "$linux/CMakeCache.txt" ] || cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$linux" -j "$(nproc)" --target end_to_end_tests veltro tpsgen
launcher="$win/veltro-wine.sh"
retries="$win/wine-retries.log"
: >"$retries"
cat >"$launcher" <<LAUNCHER
#!/bin/sh
# Runs VELTRO.EXE through Wine. Now and then Wine itself fails, before or after the
# program ran: its Unix loader fails an assertion of ld.so at exit ("_dl_fini", exit
# code 127), or it ends with a "wine: ..." or "wine client error: ..." line on standard
# error (its server went away; VELTRO writes no such line). Such a run is repeated (at
# most four times) and noted in $retries, which the script reports at the end. Standard
# error is held back to look for those messages; standard output too when it is a pipe
# or a file, so that only the last run's reaches the test (a failed run may have
# written some), and otherwise (a device such as /dev/full) goes straight through.
out=\$(mktemp)
err=\$(mktemp)
trap 'rm -f "\$out" "\$err"' EXIT
hold=0
if [ -p /dev/stdout ] || [ -f /dev/stdout ]; then hold=1; fi
for attempt in 1 2 3 4 5; do
  if [ \$hold -eq 1 ]; then
    wine "$win/VELTRO.EXE" "\$@" >"\$out" 2>"\$err"
  else
    wine "$win/VELTRO.EXE" "\$@" 2>"\$err"
  fi
  rc=\$?
  if [ \$attempt -lt 5 ] && [ \$rc -ne 0 ] &&
    { { [ \$rc -eq 127 ] && grep -q "Inconsistency detected by ld.so" "\$err"; } ||
      grep -q -e "^wine: " -e "^wine client error" "\$err"; }; then
    { echo "exit code \$rc, attempt \$attempt:"; head -5 "\$err"; } >>"$retries"
    continue
  fi
  break
done
[ \$hold -eq 0 ] || cat "\$out"
cat "\$err" >&2
exit \$rc
LAUNCHER
chmod +x "$launcher"
e2elog="$win/end-to-end.log"
# Not under Wine: the run under "ulimit -v" (Wine cannot start in 512 MiB of address
# space).
e2eFailed() {  # log: reports its failures and ends the script
  # Each failure with what follows it (the values, the message, the trace).
  grep -E -A12 "Failure$" "$1" | head -120
  grep -E "^\[  FAILED  \]" "$1" | head -20
  [ ! -s "$retries" ] || { echo "Runs repeated after Wine failed:"; cat "$retries"; }
  echo "End-to-end tests under Wine failed; see $1"
  exit 1
}
again=0
if ! VELTRO_UNDER_TEST="$launcher" "$linux/tests/end_to_end_tests" \
  --gtest_filter=-HostileFiles.EndWithAMessageOrConvertWithinBounds >"$e2elog" 2>&1; then
  # When Wine failed on its own during the run (a repeated run is noted), it may have
  # failed where the launcher cannot tell, as in a program that VELTRO.EXE starts: the
  # tests that failed run once more, and that run decides. Otherwise a failure is final.
  failed=$(grep -Eo "^\[  FAILED  \] [A-Za-z0-9_/.]+ \(" "$e2elog" | awk '{print $4}' |
    sort -u | paste -sd: - || true)
  [ -s "$retries" ] && [ -n "$failed" ] || e2eFailed "$e2elog"
  echo "Wine failed during the run; the tests that failed run once more: $failed"
  grep -E -A12 "Failure$" "$e2elog" | head -40
  againLog="$win/end-to-end-again.log"
  VELTRO_UNDER_TEST="$launcher" "$linux/tests/end_to_end_tests" --gtest_filter="$failed" \
    >"$againLog" 2>&1 || e2eFailed "$againLog"
  again=$(grep -Eo '\[  PASSED  \] [0-9]+ test' "$againLog" | awk '{print $4}' || true)
  echo "They passed the second time ($again)."
fi
e2e=$(grep -Eo '\[  PASSED  \] [0-9]+ test' "$e2elog" | awk '{print $4}' || true)
e2e=$((${e2e:-0} + ${again:-0}))
skipped=$(grep -Eo '\[  SKIPPED \] [0-9]+ test' "$e2elog" | awk '{print $4}' || true)
grep -E '^\[  (PASSED  |SKIPPED )\]' "$e2elog"

echo "== Command lines typed in cmd.exe, against the Linux program's output"
# The README's example, verbatim, in a batch file that cmd.exe runs: the raw command
# line reaches VELTRO.EXE as typed. The same conversions by the Linux program, given
# the arguments the line should split into, must write the same bytes.
data="$WINEPREFIX/drive_c/data"
ref="$win/cmd-reference"
rm -rf "$data" "$ref"
mkdir -p "$data" "$ref"
"$linux/tools/tpsgen" demo "$data/my file.tps"
cp "$win/VELTRO.EXE" "$data/"
sed 's/$/\r/' >"$data/readme.bat" <<'BAT'
@echo off
cd /d C:\data
VELTRO.EXE "C:\data\my file.tps" out.txt /h "/where=(NAME)=\"Smith\""
echo exit %ERRORLEVEL%
VELTRO.EXE "C:\data\my file.tps" city.txt /table=CUSTOMER /h /qualifier=\34 "/where=TRIM(CITY)=\"Oslo\""
echo exit %ERRORLEVEL%
BAT
(cd "$data" && wine cmd /c readme.bat) >"$win/cmd.out" 2>&1 </dev/null
(
  cd "$ref"
  export LC_ALL=C
  "$linux/veltro" "$data/my file.tps" out.txt /h '/where=(NAME)="Smith"' || true
  "$linux/veltro" "$data/my file.tps" city.txt /table=CUSTOMER /h '/qualifier=\34' \
    '/where=TRIM(CITY)="Oslo"' || true
)
[ "$(tr -d '\r' <"$win/cmd.out" | grep -cx "exit 0")" -eq 2 ] || { cat "$win/cmd.out"; exit 1; }
compared=0
for f in out.CUSTOMER.txt out.ORDERS.txt city.CUSTOMER.txt; do
  cmp "$data/$f" "$ref/$f" || { echo "cmd.exe run: $f differs from the Linux output"; exit 1; }
  compared=$((compared + 1))
done
# The second line's filter must have let rows through, or the comparison shows little.
[ "$(wc -l <"$data/city.CUSTOMER.txt")" -gt 2 ] || { echo "cmd.exe run: no Oslo rows"; exit 1; }
echo "$compared output files of 2 cmd.exe command lines equal the Linux program's"

if [ -s "$retries" ]; then
  echo "Wine failed on its own and the run was repeated $(grep -c '^exit code' "$retries") time(s):"
  cat "$retries"
fi
echo "Windows: $units unit tests ($unitsSkipped skipped) and ${e2e:-0} end-to-end tests" \
  "(${skipped:-0} skipped) passed under Wine, and the cmd.exe check; $(($(date +%s) - start)) s"
