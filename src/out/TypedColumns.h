// The columns of a table as the typed outputs (JSON Lines, SQLite) write them: which
// kind of value each holds, under which unique name, with which declared type.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What a column's values are in a typed output.
enum class TTypedKind : std::uint8_t {
  Integer,  // BYTE, SHORT, USHORT, LONG, ULONG
  Single,   // SREAL: written with a float's own shortest digits
  Double,   // REAL, DOUBLE
  Decimal,  // DECIMAL: the exact digits with the declared decimals
  Date,     // yyyy-mm-dd
  Time,     // hh:mm:ss, or hh:mm:ss.cc when hundredths are not zero
  String,   // STRING: its padding may be trimmed
  Text,     // CSTRING, PSTRING: kept as they are
  Memo,
  Blob,
};

struct TTypedColumn {
  std::string Name;  // unique in the table, ignoring letter case
  TTypedKind Kind = TTypedKind::Text;
  // The value's places among the row's selected cells: one, or one per array element.
  std::vector<std::int32_t> Cells;
  bool Array = false;
  std::uint8_t Digits = 0;    // DECIMAL: digits of one value
  std::uint8_t Decimals = 0;  // DECIMAL: digits after the point
};

// The declared type of the column in an SQLite table: INTEGER, REAL, DECIMAL(p,d) for
// decimals of up to 15 digits (SQLite keeps those exactly as numbers), TEXT for longer
// decimals (SQLite would round them), dates, times, texts and arrays (a JSON array in a
// text), BLOB.
std::string SqliteDeclaredType(const TTypedColumn& column);

// Most digits a DECIMAL may have to be stored as an SQLite number.
inline constexpr int kSqliteExactDigits = 15;

// Renames, in place, every name equal to an earlier one ignoring ASCII letter case:
// the second gets "_2", the third "_3", ... (skipping suffixes already taken). Returns
// the number of names changed.
std::size_t MakeNamesUnique(std::vector<std::string>& names);

// The name of an index for key KeyName of Table: "<table>_<key name without its
// prefix>", with "_2", "_3", ... added until it is none of Taken (compared ignoring
// ASCII letter case). The name is added to Taken.
std::string IndexName(std::string_view table, std::string_view keyName,
                      std::set<std::string>& taken);
