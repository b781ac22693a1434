// The Clarion reader base: naming options shared by Clarion file readers, and the
// links from split array columns back to their array fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cells/KvSpreadSheetFile.h"

// A column made by splitting an array field, linked back to that field.
struct TClarionFieldLink {
  std::int32_t Kind = 2;
  std::int32_t FieldCount = 0;  // the definition's field count when the link was made
  std::string ColumnName;
  std::string FieldName;
  std::int32_t FieldPosition = 0;
  std::string FieldName2;
};
using TClarionFieldLinks = std::vector<TClarionFieldLink>;

class TCustomClarion : public TSpreadSheetFile {
 public:
  TCustomClarion();
  ~TCustomClarion() override;

  // Remove the prefix and colon from field names (CUS:NAME -> NAME).
  bool AutoPatchFieldNames = true;
  // Give every element of an array field its own column.
  bool SplitArrayFields = false;
  // Separator between the elements of an array field that is not split.
  std::string ArrayFieldSeparator = ",";

  virtual std::string GetTypeName(std::uint8_t code) = 0;
  virtual void SetColumnName(std::int32_t index, const std::string& name) = 0;
};
