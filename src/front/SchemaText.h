// The /SCHEMA listing: a table's definition as aligned text a person can read.
#pragma once

#include <cstdint>
#include <string>

#include "tps/KvTPS.h"

// Key flags read from real files. Keys without kKeyDuplicates hold unique values in
// every sample seen; kKeyPrimary marks the one key per table over the record's own
// number. The other bits are shown as stored.
constexpr std::uint8_t kKeyDuplicates = 0x01;
constexpr std::uint8_t kKeyPrimary = 0x10;

// The name a person declares for an internal type code: "LONG", "DECIMAL", "STRING",
// ... ("UNKNOWN" for codes without one).
const char* DeclaredTypeName(std::uint8_t code);

// The field a key component names (its definition index), or null.
const TTPSField* KeyComponentField(const TTPSClarionTable& table, const TTPSKeyItem& item);

// A key name without the prefix before its first ':'.
std::string KeyNameWithoutPrefix(const std::string& name);

// The listing of one table, every line ended by CR LF: a title line with number,
// name and row count, one line per field (position, name indented under its group,
// declared type, size in bytes, digits and decimals of DECIMAL fields, the element
// count of arrays, the offset in the record; MEMO and BLOB fields last, without an
// offset), then one line per key (name, duplicates, primary, the stored flags, the
// fields in order).
std::string SchemaText(const TTPSClarionTable& table, std::int64_t rowCount);
