// A table's columns and keys, built once from the table's definition and read by every
// output form, the row filter and the tests. It holds only facts and names: nothing
// here reads a file, so any output form can use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The column types a table definition knows. The reader maps each type byte of a file to
// one of these codes; everything else names the codes, never their numbers.
enum TTPSTypeCode : std::uint8_t {
  tpsUnknown = 0,
  tpsByte = 1,
  tpsShort = 2,
  tpsUShort = 3,
  tpsDate = 4,
  tpsTime = 5,
  tpsLong = 6,
  tpsULong = 7,
  tpsFloat = 8,
  tpsDouble = 9,
  tpsDecimal = 10,
  tpsChar = 11,
  tpsVarChar = 12,
  tpsMaskString = 13,
  tpsGroup = 14,
  tpsBLOB = 15,
  tpsMEMO = 16,
  tpsString = 17,
};

// The letter of a type code on the type line: B Byte/BLOB, S Short/String, D Date/Double/
// Decimal, T Time, L Long, F Float, C Char, V VarChar, M MaskString/MEMO, G Group, U
// Unknown, UShort, ULong and codes out of range.
char TypeLetter(TTPSTypeCode code);
// Byte, Short, UShort, Long, ULong, Float, Double and Decimal.
bool IsNumericType(TTPSTypeCode code);
// Unknown, Group and String: columns that /GROUP=0 leaves out.
bool IsGroupLike(TTPSTypeCode code);

struct TTableColumn {
  std::string Name;
  TTPSTypeCode Type = tpsUnknown;
  std::uint16_t Size = 0;      // bytes in the record (all elements of an array together)
  std::uint8_t Digits = 0;     // Decimal: digits in all of one element (2 x bytes - 1)
  std::uint8_t Decimals = 0;   // Decimal: digits after the point
  std::uint16_t Elements = 0;  // an array when above 1
  std::uint16_t Flags = 0;     // the descriptor's flag word (MEMO/BLOB: the memo flags)
  bool Numeric = false;        // IsNumericType(Type)
  bool GroupLike = false;      // IsGroupLike(Type)
  char Letter = 'U';           // TypeLetter(Type)

  bool IsArray() const { return Elements > 1; }
  bool IsMemo() const { return Type == tpsMEMO; }
  bool IsBlob() const { return Type == tpsBLOB; }
  // A MEMO or a BLOB: its text is stored apart from the record.
  bool IsMemoOrBlob() const { return Type == tpsMEMO || Type == tpsBLOB; }
};

// A column of a key, in the key's order.
struct TTableKeyPart {
  std::int32_t Column = -1;  // the column it sorts by; -1 when the key names no column
  bool Descending = false;   // bit 0 of Flags
  std::uint16_t Flags = 0;   // the component's flag word as stored
};

struct TTableKey {
  std::string Name;
  std::uint8_t Flags = 0;  // the key's flag byte as stored
  std::vector<TTableKeyPart> Parts;
};

struct TTableSchema {
  std::string Name;  // as the table list shows it (the sheet's caption)
  std::int32_t Number = 0;
  // Column i is column i of the table's rows.
  std::vector<TTableColumn> Columns;
  std::vector<TTableKey> Keys;
};

// A column with its derived facts (Numeric, GroupLike, Letter) filled in from Type.
TTableColumn MakeTableColumn(std::string name, TTPSTypeCode type, std::uint16_t size);
