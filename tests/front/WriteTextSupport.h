// Writing a sheet through the text layout as the run object does, for the tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "cells/KvTableSchema.h"
#include "front/RowWalk.h"
#include "front/RunOptions.h"
#include "front/TextLayout.h"

struct TTestColumn {
  TTPSTypeCode Type;
  std::string Name;
  std::uint16_t Size;
};

inline TTableSchema TestSchema(std::initializer_list<TTestColumn> columns) {
  TTableSchema schema;
  for (const TTestColumn& c : columns)
    schema.Columns.push_back(MakeTableColumn(c.Name, c.Type, c.Size));
  return schema;
}

// Writes the sheet's rows that pass rowTest through the options' text layout.
inline std::uint64_t WriteText(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                               const TTableSchema& schema, const TRunOptions& options,
                               const FormatSettings& settings, const TRowTest& rowTest = {},
                               const TWalkLimits& limits = {}) {
  const std::vector<std::int32_t> columns =
      SelectColumns(schema, options.SkipGroups, options.Fields);
  TTableContext table;
  table.Schema = &schema;
  table.Columns = columns;
  table.Settings = &settings;
  TTextLayout layout(options);
  return WriteTableRows(out, cells, table, layout, rowTest, limits);
}
