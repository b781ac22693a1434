#include "cells/KvTableSchema.h"

#include <utility>

char TypeLetter(TTPSTypeCode code) {
  switch (code) {
    case tpsByte:
    case tpsBLOB:
      return 'B';
    case tpsShort:
    case tpsString:
      return 'S';
    case tpsDate:
    case tpsDouble:
    case tpsDecimal:
      return 'D';
    case tpsTime:
      return 'T';
    case tpsLong:
      return 'L';
    case tpsFloat:
      return 'F';
    case tpsChar:
      return 'C';
    case tpsVarChar:
      return 'V';
    case tpsMaskString:
    case tpsMEMO:
      return 'M';
    case tpsGroup:
      return 'G';
    case tpsUnknown:
    case tpsUShort:
    case tpsULong:
      break;
  }
  return 'U';
}

bool IsNumericType(TTPSTypeCode code) {
  switch (code) {
    case tpsByte:
    case tpsShort:
    case tpsUShort:
    case tpsLong:
    case tpsULong:
    case tpsFloat:
    case tpsDouble:
    case tpsDecimal:
      return true;
    default:
      return false;
  }
}

bool IsGroupLike(TTPSTypeCode code) {
  return code == tpsUnknown || code == tpsGroup || code == tpsString;
}

TTableColumn MakeTableColumn(std::string name, TTPSTypeCode type, std::uint16_t size) {
  TTableColumn c;
  c.Name = std::move(name);
  c.Type = type;
  c.Size = size;
  c.Numeric = IsNumericType(type);
  c.GroupLike = IsGroupLike(type);
  c.Letter = TypeLetter(type);
  return c;
}
