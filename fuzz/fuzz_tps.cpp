// The TopSpeed reader on arbitrary bytes: load as the program does (rows decoded on
// demand into the grid), then read every cell's text and memo and write every table.
//
// The reader may reject a file with one of the project's exceptions; anything else
// (a crash, a sanitizer report, a foreign exception, a hang) is a defect.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "front/RowWalk.h"
#include "front/TextLayout.h"
#include "tps/KvTPS.h"
#include "tps/KvTPSSchema.h"

namespace {

void Walk(TClarionTPS& r, std::size_t size) {
  const FormatSettings& fs = CurrentSettings();
  std::string text;
  for (std::int32_t s = 0; s < r.Sheets().Count(); ++s) {
    auto& sheet = static_cast<TTPSClarionTable&>(r.Sheets()[s]);
    r.TableNumber = sheet.TableNumber;
    const TSpreadSheetCells& cells = sheet.Cells;
    for (std::int32_t row = 0; row < cells.RowCount; ++row) {
      const std::int32_t cols = cells.RowColumnCount(row);
      for (std::int32_t c = 0; c < cols; ++c) {
        TKvICellView v;
        if (cells.PeekCell(c, row, v)) {
          text.clear();
          AppendTextOf(text, v, fs);
        }
        text = r.GetMemoText(c, row);
      }
    }
    // The table written as text, once delimited with header and type line, once fixed.
    TRunOptions options;
    options.Header = options.TypeLine = true;
    options.Fixed = (s & 1) != 0;
    options.Qualifier = "\"";
    TWalkLimits limits;
    limits.MaxBytes = std::uint64_t(size) * 1024 + (std::uint64_t(16) << 20);  // as the program
    const TTableSchema schema = TpsTableSchema(sheet);
    const std::vector<std::int32_t> columns = SelectColumns(schema, false, "");
    TTableContext table;
    table.Schema = &schema;
    table.Columns = columns;
    table.Settings = &fs;
    TTextLayout layout(options);
    TBufferedFileWriter out("/dev/null", 1 << 16);
    WriteTableRows(
        out, cells, table, layout, [](std::int32_t) { return true; }, limits);
    out.Close();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TClarionTPS r;
  r.ResetGrid();
  r.KeepOpen = true;
  r.FileName = "fuzz.tps";
  // With an owner password a plain file loads as it is and any other is decrypted
  // first: both paths are exercised.
  r.Owner = "a";
  // As the program loads: rows decoded when they are read, arrays not split.
  r.LazyRows = true;
  r.LoadRowStatutes = TKvIRowStatuses{rsNormal};
  TMemoryStream s(std::vector<std::uint8_t>(data, data + size));
  try {
    r.LoadFromStream(s);
    // The warnings of what the load passed over.
    for (const std::string& line : r.Damage().Lines())
      if (line.empty()) __builtin_trap();
    Walk(r, size);
  } catch (const Exception&) {
  }
  return 0;
}
