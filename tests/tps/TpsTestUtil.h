// Helpers of the TopSpeed reader tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cells/KvConvert.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "tps/KvTPS.h"

namespace tpstest {

// A reader with the built-in grid handlers that has loaded these bytes.
inline std::unique_ptr<TClarionTPS> Load(std::vector<std::uint8_t> bytes,
                                         const std::string& fileName = "dir/FIXTURE.TPS") {
  auto r = std::make_unique<TClarionTPS>();
  r->ResetGrid();
  r->FileName = fileName;
  TMemoryStream s(std::move(bytes));
  r->LoadFromStream(s);
  return r;
}

inline TTPSClarionTable& Sheet(TClarionTPS& r, int i) {
  return static_cast<TTPSClarionTable&>(r.Sheets()[i]);
}

// The text of a cell under ISO settings ("" for no cell).
inline std::string Text(const TSpreadSheet& s, int col, int row) {
  return TextOf(s.Cells.GetValue(col, row), FormatSettings::Iso());
}

inline std::vector<std::string> FieldNames(const TTPSClarionTable& t) {
  std::vector<std::string> n;
  for (const auto& f : t.Fields) n.push_back(f.Name);
  return n;
}

}  // namespace tpstest
