// Micro-benchmarks of the hot paths: page expansion, record cutting, field decoding
// per type, the text form per kind, one line of the writer, and the row filter.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvConvert.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "expr/KvIPars.h"
#include "front/RowWalk.h"
#include "front/TextLayout.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSRecords.h"
#include "tps/KvTPSValues.h"
#include "tpswriter/TpsDemo.h"
#include "tpswriter/TpsWriter.h"

namespace {

// One page of the benchmark table's records, as the writer stores them: the expanded
// body, its run-length encoding, and a file holding it as its only data page.
struct BenchPage {
  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> stored;
  std::uint32_t count = 0;
};

const BenchPage& Page() {
  static const BenchPage page = [] {
    // A small benchmark file; its second page is a full data page.
    std::vector<std::uint8_t> file;
    const std::string path = "/tmp/veltro-microbench.tps";
    tpsw::WriteBench(path, 0.05);
    {
      TFileStream s(path);
      auto v = s.View();
      file.assign(v.begin(), v.end());
    }
    std::remove(path.c_str());
    BenchPage p;
    // Walk the first block's pages; keep the largest compressed one.
    auto le16 = [&](std::size_t at) { return std::uint16_t(file[at] | file[at + 1] << 8); };
    for (std::size_t pos = 512; pos + 13 <= file.size();) {
      const std::uint16_t size = le16(pos + 4), expanded = le16(pos + 6), count = le16(pos + 10);
      if (size < 13) break;
      if (count > p.count && size != expanded && file[pos + 12] == 0) {
        p.stored.assign(file.begin() + long(pos + 13), file.begin() + long(pos + size));
        p.count = count;
      }
      pos = (pos + size + 255) / 256 * 256;
    }
    TpsExpandPage(p.stored, p.body);
    return p;
  }();
  return page;
}

void BM_PageExpansion(benchmark::State& state) {
  const BenchPage& p = Page();
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    out.clear();
    TpsExpandPage(p.stored, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * p.body.size()));
}
BENCHMARK(BM_PageExpansion);

void BM_RecordCutting(benchmark::State& state) {
  const BenchPage& p = Page();
  for (auto _ : state) {
    TTPSRecords records, memos;
    TTPSByteStore store;
    TpsCutRecords(p.body, p.count, records, memos, store);
    benchmark::DoNotOptimize(records.Count());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations() * p.count));
}
BENCHMARK(BM_RecordCutting);

// A record of the benchmark table: fields at the writer's offsets.
struct BenchRecord {
  std::vector<std::uint8_t> data;
  std::size_t header = 9;
  BenchRecord() {
    tpsw::Payload p(108);
    p.PutLong(0, 123456)
        .PutString(4, 40, "Greta Kowalski")
        .PutString(44, 25, "Amsterdam")
        .PutDecimal(69, 7, 2, "-76655.38")
        .PutShort(76, 44)
        .PutDate(78, 2019, 1, 16)
        .PutTime(82, 22, 14, 41, 37)
        .PutDouble(86, 5275.25)
        .PutULong(104, 3040230604u);
    data.assign(header, 0);
    data.insert(data.end(), p.Bytes().begin(), p.Bytes().end());
  }
};

void DecodeField(benchmark::State& state, std::uint8_t type, std::uint16_t offset,
                 std::uint16_t length, std::uint8_t decimals = 0) {
  static const BenchRecord rec;
  TTPSField f;
  f.Type = type;
  f.Offset = offset;
  f.Length = length;
  f.Decimals = decimals;
  TKvICellView v;
  std::int64_t invalid = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TpsDecodeFieldView(f, rec.data, rec.header, v, invalid));
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK_CAPTURE(DecodeField, Long, tpsLong, 0, 4);
BENCHMARK_CAPTURE(DecodeField, Char40, tpsChar, 4, 40);
BENCHMARK_CAPTURE(DecodeField, Decimal7, tpsDecimal, 69, 7, 2);
BENCHMARK_CAPTURE(DecodeField, Short, tpsShort, 76, 2);
BENCHMARK_CAPTURE(DecodeField, Date, tpsDate, 78, 4);
BENCHMARK_CAPTURE(DecodeField, Time, tpsTime, 82, 4);
BENCHMARK_CAPTURE(DecodeField, Double, tpsDouble, 86, 8);
BENCHMARK_CAPTURE(DecodeField, ULong, tpsULong, 104, 4);

void TextOfKind(benchmark::State& state, TKvICellView v) {
  const FormatSettings fs = FormatSettings::Iso();
  std::string out;
  for (auto _ : state) {
    out.clear();
    AppendTextOf(out, v, fs);
    benchmark::DoNotOptimize(out.data());
  }
}
TKvICellView View(VarKind kind, std::int64_t i, double d, std::string_view text = {}) {
  TKvICellView v;
  v.Kind = kind;
  v.Int = i;
  v.Real = d;
  v.Text = text;
  return v;
}
BENCHMARK_CAPTURE(TextOfKind, Integer, View(VarKind::Integer, 3040230, 0));
BENCHMARK_CAPTURE(TextOfKind, Double, View(VarKind::Double, 0, -76655.38));
BENCHMARK_CAPTURE(TextOfKind, Single, View(VarKind::Single, 0, 125.125));
BENCHMARK_CAPTURE(TextOfKind, Date, View(VarKind::Date, 0, 43481));
BENCHMARK_CAPTURE(TextOfKind, Time, View(VarKind::Date, 0, 0.9268634));
BENCHMARK_CAPTURE(TextOfKind, String, View(VarKind::String, 0, 0, "Greta Kowalski      "));

// A sheet of the benchmark table's values, written with a header line: time per line.
void BM_WriterLine(benchmark::State& state) {
  const std::int32_t rows = 4096;
  TSpreadSheetCells cells;
  for (std::int32_t r = 0; r < rows; ++r) {
    cells.SetCell(0, r, Variant::Integer(r + 1), taRightJustify, 0, ictInteger);
    cells.SetCell(1, r, Variant::String("Greta Kowalski                          "), taLeftJustify,
                  0, ictString);
    cells.SetCell(2, r, Variant::String("Amsterdam                "), taLeftJustify, 0, ictString);
    cells.SetCell(3, r, Variant::Double(-76655.38 + r), taRightJustify, 0, ictDecimal);
    cells.SetCell(4, r, Variant::Integer(r % 100), taRightJustify, 0, ictInteger);
    cells.SetCell(5, r, Variant::Date(43481 + r % 900), taLeftJustify, 0, ictDate);
    cells.SetCell(6, r, Variant::Date(double(r * 37 % 86400) / 86400.0), taLeftJustify, 0, ictDate);
    cells.SetCell(7, r, Variant::Double(5275.25 + r), taRightJustify, 0, ictDecimal);
  }
  struct Column {
    TTPSTypeCode type;
    const char* name;
    std::uint16_t size;
  };
  const Column fields[] = {{tpsLong, "ID", 4},    {tpsChar, "CUSTOMER", 40},
                           {tpsChar, "CITY", 25}, {tpsDecimal, "AMOUNT", 7},
                           {tpsShort, "QTY", 2},  {tpsDate, "DATE", 4},
                           {tpsTime, "TIME", 4},  {tpsDouble, "PRICE", 8}};
  TTableSchema schema;
  for (const Column& f : fields) schema.Columns.push_back(MakeTableColumn(f.name, f.type, f.size));
  TRunOptions options;
  options.Header = true;
  const FormatSettings fs = FormatSettings::Iso();
  const std::vector<std::int32_t> columns = SelectColumns(schema, false, "");
  TTableContext table;
  table.Schema = &schema;
  table.Columns = columns;
  table.Settings = &fs;
  for (auto _ : state) {
    TBufferedFileWriter out("/dev/null");
    TTextLayout layout(options);
    WriteTableRows(out, cells, table, layout, {}, TWalkLimits());
    out.Close();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * rows);
}
BENCHMARK(BM_WriterLine);

// The benchmark script's three-condition filter, evaluated for one row whose names
// resolve to fixed values.
void BM_FilterRow(benchmark::State& state) {
  TKvIParser p;
  p.Text = "(QTY>10)AND(TRIM(CITY)<>\"Oslo\")AND(YEAR(DATE)>=2000)";
  const Variant qty = Variant::Integer(44), city = Variant::String("Amsterdam      "),
                date = Variant::Date(43481);
  p.OnEvaluate = [&](TKvIParser*, const std::string& name, const TEvalArgs&, int, bool,
                     Variant& value, bool& done) {
    if (name == "QTY")
      value = qty;
    else if (name == "CITY")
      value = city;
    else if (name == "DATE")
      value = date;
    else
      return;
    done = true;
  };
  for (auto _ : state) benchmark::DoNotOptimize(p.Calculate());
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_FilterRow);

}  // namespace
