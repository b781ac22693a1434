#!/usr/bin/env python3
"""Compares one table's typed outputs with its text export, cell by cell.

Arguments: TEXT JSONL DATABASE TABLE TRIM [FILES]
  TEXT      the text export with /h /f '/qualifier=\\34' (TAB, CR LF, quotes doubled)
  JSONL     the JSON Lines output of the same table
  DATABASE  the SQLite database holding TABLE, or "-" when there is none
  TRIM      1 when the typed outputs were written with /TRIM (STRING padding removed)
  FILES     "files" when BLOBs were written with /BLOB=FILES: a BLOB value is then the
            relative path of a file holding its bytes
Prints "<cells> cells" and exits 0 when every value agrees, else prints the first
differences and exits 1. JSON is read by Python's json module, the database by its
sqlite3 module.
"""
import base64
import codecs
import csv
import io
import json
import os
import sqlite3
import sys
from decimal import Decimal


def cp1252_or_own(err):
    # A byte that Windows-1252 leaves undefined stands for the code point of its number.
    return chr(err.object[err.start]), err.start + 1


codecs.register_error("own", cp1252_or_own)
text_path, jsonl_path, db_path, table, trim = sys.argv[1:6]
trim = trim == "1"
files = sys.argv[6:7] == ["files"]
with open(text_path, "rb") as f:
    raw = f.read().decode("latin-1")
rows = list(csv.reader(io.StringIO(raw, newline=""), delimiter="\t", quotechar='"',
                       lineterminator="\r\n"))
names, letters, rows = rows[0], rows[1], rows[2:]
with open(jsonl_path, "rb") as f:
    data = f.read()
assert not data.startswith(codecs.BOM_UTF8), "a byte order mark"
lines = data.decode("utf-8").split("\n")
assert lines[-1] == "", "the last line does not end with LF"
objects = [json.loads(line, parse_float=Decimal) for line in lines[:-1]]
db_rows, types = None, {}
if db_path != "-":
    db = sqlite3.connect(db_path)
    db.text_factory = bytes
    quoted = '"' + table.replace('"', '""') + '"'
    types = {r[1].decode(): r[2].decode() for r in db.execute("PRAGMA table_info(" + quoted + ")")}
    db_rows = db.execute("SELECT * FROM " + quoted + " ORDER BY rowid").fetchall()

problems = []
cells = 0


def fail(row, name, what):
    if len(problems) < 10:
        problems.append(f"row {row}, {name}: {what}")


def text_value(text, letter):
    s = text.encode("latin-1").decode("cp1252", "own")
    return s.rstrip("\0 ") if trim and letter == "C" else s.rstrip("\0")


def blob_bytes(value, beside):
    """The bytes of a BLOB value: decoded base64, or the file at its relative path."""
    if not files:
        return base64.b64decode(value)
    path = value.replace("\\", "/")
    folder = os.path.splitext(os.path.basename(beside))[0] + ".blobs/"
    if not path.startswith(folder):
        return None  # not in "<target stem>.blobs" beside the target
    with open(os.path.join(os.path.dirname(beside), path), "rb") as f:
        return f.read()


def agrees(text, value, letter):
    """Whether a JSON value says what the text export's cell says."""
    if value is None:
        return text == ""
    if isinstance(value, bool):
        return False
    if isinstance(value, (int, Decimal)):
        if Decimal(text) == Decimal(value):
            return True
        tolerance = 1e-6 if letter == "F" else 1e-12  # SREAL: the float's own digits
        return abs(float(text) - float(value)) <= tolerance * abs(float(text))
    if isinstance(value, list):
        inner = text[1:-1].split(",")
        if len(inner) != len(value):
            return False
        return all(agrees(t, v, letter) for t, v in zip(inner, value))
    if letter == "B":
        return blob_bytes(value, jsonl_path) == text.encode("latin-1")
    if letter == "T" and len(value) == 11 and value[8] == ".":
        return value[:8] == text  # the text has no hundredths
    return value == text_value(text, letter)


def declared(value, name):
    """The declared type a column of this JSON value must have."""
    if isinstance(value, list):
        return "TEXT"
    if isinstance(value, int):
        return ("INTEGER", "DECIMAL(")
    if isinstance(value, Decimal):
        return ("REAL", "DECIMAL(", "TEXT")
    return ("BLOB",) if types.get(name) == "BLOB" else ("TEXT",)


def db_agrees(cell, value, kind, letter):
    if value is None or cell is None:
        return value is None and cell is None
    if isinstance(value, list):
        return json.loads(cell.decode("utf-8"), parse_float=Decimal) == value
    if kind == "BLOB":
        return cell == base64.b64decode(value)
    if files and letter == "B":
        return blob_bytes(cell.decode("utf-8"), db_path) == blob_bytes(value, jsonl_path)
    if isinstance(value, (int, Decimal)):
        if isinstance(cell, bytes):  # a long decimal kept as its digits
            return cell.decode() == str(value)
        if kind == "REAL":
            return abs(float(cell) - float(value)) <= 1e-6 * abs(float(value))
        return float(cell) == float(value)  # INTEGER, DECIMAL(p,d): exact
    return cell.decode("utf-8") == value


if len(objects) != len(rows):
    fail("-", "-", f"{len(objects)} JSON lines, {len(rows)} text rows")
if db_rows is not None and len(db_rows) != len(rows):
    fail("-", "-", f"{len(db_rows)} database rows, {len(rows)} text rows")
for r, (obj, row) in enumerate(zip(objects, rows)):
    keys = list(obj.keys())
    if db_rows is not None and list(types.keys()) != keys:
        fail(r, "-", f"columns {list(types.keys())} against keys {keys}")
    for c, name in enumerate(keys):
        if name not in names:
            fail(r, name, "no such column in the text export")
            continue
        t = names.index(name)
        value = obj[name]
        cells += 1
        if not agrees(row[t], value, letters[t]):
            fail(r, name, f"text {row[t][:60]!r} against JSON {str(value)[:60]!r}")
        if db_rows is None or c >= len(db_rows[r]):
            continue
        kind = types[name]
        if value is not None and not kind.startswith(declared(value, name)):
            fail(r, name, f"declared {kind} for JSON {value!r}")
        if not db_agrees(db_rows[r][c], value, kind, letters[t]):
            fail(r, name, f"database {db_rows[r][c]!r:.60} against JSON {str(value)[:60]!r}")
for p in problems:
    print(p)
print(f"{cells} cells")
sys.exit(1 if problems else 0)
