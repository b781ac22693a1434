// Field and key descriptors of TopSpeed table definitions (the type codes are in
// cells/KvTableSchema.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cells/KvTableSchema.h"

// A field descriptor: a field of the data record, or a MEMO/BLOB descriptor.
struct TTPSField {
  std::uint8_t Type = tpsUnknown;  // internal code 0..17
  std::string Name;
  std::uint16_t Offset = 0;
  std::uint16_t Length = 0;
  std::uint16_t Flags = 0;
  std::uint16_t Index = 0;
  std::uint8_t SecondDecimal = 0;
  std::uint8_t Decimals = 0;
  std::uint16_t StringLength = 0;
  std::string Picture;
  std::uint16_t Elements = 0;  // an array when above 1
  std::string ExternalFileName;

  bool IsArray() const { return Elements > 1; }
  bool IsMemo() const { return Type == tpsMEMO || Type == tpsBLOB; }
};
using TTPSFields = std::vector<TTPSField>;

struct TTPSKeyItem {
  std::uint16_t FieldNumber = 0;
  std::uint16_t Flags = 0;
};
using TTPSKeyItems = std::vector<TTPSKeyItem>;

struct TTPSKey {
  std::string ExternalFileName;
  std::string Name;
  std::uint8_t Flags = 0;
  std::uint16_t ComponentCount = 0;
  TTPSKeyItems Components;
};
using TTPSKeys = std::vector<TTPSKey>;

// The name of an internal type code: "Unknow", "Byte", ..., "String" ("Unknow" for
// codes out of range).
const char* TpsTypeName(std::uint8_t internalCode);
// The internal code of a file's type byte (0 for bytes without one).
std::uint8_t TpsInternalType(std::uint8_t fileTypeByte);
