#!/usr/bin/env python3
"""Checks that VELTRO's /CSV output is read intact by other tools.

1. Every table of every real sample file, converted with /CSV, is read back by Python's
   csv module: the same rows and columns as the export of the same table with the
   file's own bytes (a comma CSV without /UTF8, BLOBs as hex), every text equal to those
   bytes decoded from Windows-1252 (undefined bytes as the character of the same
   number), every BLOB equal after base64 decoding to the hex-decoded bytes, every
   number equal as a number.
2. Debian's sqlite3 imports every row of the demo file's CUSTOMER table from /CSV.

Usage: check-csv.py <veltro> <tpsgen> <samples folder>. The samples are skipped when the
folder is absent. Exit code 0 when everything holds.
"""
import base64
import csv
import glob
import os
import shutil
import subprocess
import sys
import tempfile


def decode_1252(raw: bytes) -> str:
    # Bytes 1252 leaves undefined keep their own number.
    return "".join(
        bytes([b]).decode("cp1252", errors="strict") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)
        else chr(b)
        for b in raw)


def read_csv(path, encoding):
    with open(path, encoding=encoding, newline="") as f:
        return list(csv.reader(f))


def same_cell(utf8_cell: str, raw_cell: str):
    """How the two cells agree ("text", "number", "time", "blob"), or None."""
    raw = raw_cell.encode("latin-1")
    if utf8_cell == decode_1252(raw):
        return "text"
    # A number in its exact form (10.50 against 10.5).
    try:
        if float(utf8_cell) == float(raw_cell):
            return "number"
    except ValueError:
        pass
    # A time with hundredths.
    if utf8_cell.startswith(raw_cell) and utf8_cell[len(raw_cell):len(raw_cell) + 1] == ".":
        return "time"
    # A BLOB: base64 against hex.
    try:
        if base64.b64decode(utf8_cell, validate=True) == bytes.fromhex(raw_cell):
            return "blob"
    except ValueError:
        pass
    return None


def run(veltro, *args):
    p = subprocess.run([veltro, *args], capture_output=True)
    if p.returncode != 0:
        raise SystemExit(f"veltro {' '.join(args)} failed ({p.returncode}): "
                         f"{p.stdout!r} {p.stderr!r}")


def check_samples(veltro, samples, work):
    files = sorted(glob.glob(os.path.join(samples, "*.tps")) +
                   glob.glob(os.path.join(samples, "*.TPS")))
    if not files:
        print("samples absent: skipped")
        return 0
    failures = 0
    tables = cells = blobs = 0
    for source in files:
        name = os.path.splitext(os.path.basename(source))[0]
        extra = ["/OWNER=a"] if name == "encrypted-a" else []
        csv_target = os.path.join(work, name + ".csv")
        raw_target = os.path.join(work, name + ".raw")
        run(veltro, source, csv_target, "/CSV", *extra)
        run(veltro, source, raw_target, "/delimiter=,", "/qualifier=\\34", "/QUALIFY=NEEDED",
            "/h", "/BLOB=HEX", *extra)
        outputs = sorted(glob.glob(os.path.join(work, name + ".csv")) +
                         glob.glob(os.path.join(work, name + ".*.csv")))
        for out in outputs:
            raw_out = out[:-len(".csv")] + ".raw"
            if out.endswith(name + ".csv"):
                raw_out = raw_target
            tables += 1
            a = read_csv(out, "utf-8")
            b = read_csv(raw_out, "latin-1")
            if len(a) != len(b):
                print(f"{out}: {len(a)} rows, the file's bytes give {len(b)}")
                failures += 1
                continue
            for r, (ra, rb) in enumerate(zip(a, b)):
                if len(ra) != len(rb):
                    print(f"{out} row {r}: {len(ra)} columns, the file's bytes give {len(rb)}")
                    failures += 1
                    continue
                for c, (x, y) in enumerate(zip(ra, rb)):
                    cells += 1
                    how = same_cell(x, y)
                    if how is None:
                        print(f"{out} row {r} column {c}: {x[:60]!r} against {y[:60]!r}")
                        failures += 1
                    elif how == "blob":
                        blobs += 1
    print(f"samples: {len(files)} files, {tables} tables, {cells} cells, {blobs} BLOBs compared")
    return failures


def check_sqlite(veltro, tpsgen, work):
    if shutil.which("sqlite3") is None:
        print("sqlite3 is not installed (tools/setup-deps.sh installs it)")
        return 1
    demo = os.path.join(work, "demo.tps")
    subprocess.run([tpsgen, "demo", demo], check=True, capture_output=True)
    out = os.path.join(work, "out.csv")
    run(veltro, demo, out, "/CSV")
    customer = os.path.join(work, "out.CUSTOMER.csv")
    rows = len(read_csv(customer, "utf-8")) - 1  # the header names the columns
    p = subprocess.run(["sqlite3", ":memory:", f".import --csv {customer} t",
                        "SELECT count(*) FROM t;"], capture_output=True, text=True, cwd=work)
    if p.returncode != 0 or p.stderr or p.stdout.strip() != str(rows):
        print(f"sqlite3 import: {p.stdout.strip()!r} rows (expected {rows}), {p.stderr!r}")
        return 1
    print(f"sqlite3: {rows} CUSTOMER rows imported")
    return 0


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    veltro, tpsgen, samples = sys.argv[1:]
    with tempfile.TemporaryDirectory() as work:
        failures = check_samples(veltro, samples, work)
        failures += check_sqlite(veltro, tpsgen, work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
