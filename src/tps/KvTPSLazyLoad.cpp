// Loads with rows decoded on demand: when a load may keep only where the records lie,
// and the tables' row sources built from what the early scan found.
#include <algorithm>

#include "tps/KvTPS.h"
#include "tps/KvTPSLazy.h"
#include "tps/KvTPSMemos.h"
#include "tps/KvTPSScan.h"

bool TClarionTPS::LazyLoadPossible() const {
  const TKvRange whole;
  return LazyRows && OnCellValue && !ProgressProc && !OnLoadProgress && !OnRecordStatusChanged &&
         Range.LastRow == whole.LastRow && Range.LastCol == whole.LastCol &&
         !(LoadRowStatutes.Contains(rsNormal) && LoadRowStatutes.Contains(rsDeleted) &&
           LoadRowStatutes.Contains(rsError));
}

// Memo texts for ProduceRecord during a load with rows on demand: assembled from the
// kept pieces through a page cache of its own (the record being reported stays in the
// file's), each piece giving its text once as from the memo list.
struct TTPSLazyMemoReader {
  TTPSMemoPieces& pieces;
  std::span<const std::uint64_t> pageOffsets;
  TTPSPageCache pages;
  std::size_t cursor = 0;
  std::string text;
};

std::string TClarionTPS::MemoText(std::int32_t table, std::uint8_t memo, std::int32_t row,
                                  bool blob) {
  if (!lazyMemos_) return memoIndex_.Assemble(memos_, store_, table, memo, row, blob);
  TTPSLazyMemoReader& m = *lazyMemos_;
  if (row == INT32_MAX) return std::string();
  const auto [from, to] = m.pieces.TableRange(table);
  const auto [first, last] = m.pieces.Find(from, to, row + 1, memo, m.cursor);
  const std::vector<TTPSMemoPiece> unused = m.pieces.Take(first, last);
  m.text.clear();
  const TTPSMemoText t = TpsAssembleMemo(unused, blob, m.pageOffsets, m.pages, m.text);
  return m.text.substr(t.At, t.Length);
}

void TClarionTPS::ProduceLazyRows(TTPSLazyIndex& index, const TTPSFileView& view) {
  index.memos.Sort();
  auto memos = std::make_shared<TTPSMemoPieces>(std::move(index.memos));
  // The bytes stay for the rows decoded later: a copy read from the stream moves along.
  TTPSFileBytes owned;
  if (!source_.empty() && view.Raw().data() == source_.data()) owned = std::move(source_);
  const bool releaseBehind = owned.empty() && index.releaseBehind;
  auto file =
      std::make_shared<TTPSLazyFile>(std::move(owned), view, std::move(index.pages), releaseBehind);
  const bool loadMemos = ParseItems.Contains(ipiBLOB);
  std::int64_t notCounted = 0;
  // Memo texts looked at during the load (whether a row has one) come through pages of
  // their own, which give nothing back.
  TTPSLazyMemoReader memoReader{*memos, file->PageOffsets, TTPSPageCache(file->View), 0, {}};
  struct Unset {
    TTPSLazyMemoReader*& p;
    ~Unset() { p = nullptr; }
  } unset{lazyMemos_};

  for (std::int32_t number : index.order) {
    std::vector<TKvISourceRow>& rows = index.rows[number];
    const std::int32_t sheetNo = TableIndexOf(number);
    TTPSClarionTable& t = Table(sheetNo);
    if (t.FieldCount > t.Fields.size()) t.FieldCount = std::uint16_t(t.Fields.size());
    const std::int32_t fieldCount = t.FieldCount;
    const std::int32_t plainFields = fieldCount - std::int32_t(t.MemoCount);

    // In file order: which records give a plain cell, the last column with one, and
    // the impossible dates; found while the pages were cut when the fields then were
    // the final ones.
    std::int32_t lastColumn = -1;
    const TTPSLazyIndex::Early& early = index.early[number];
    if (early.Active && early.Scan.FieldCount == fieldCount &&
        TpsSameScan(early.Scan.Fields, t.Fields, fieldCount)) {
      lastColumn = early.LastColumn;
      invalidDateTimes_ += early.Invalid;
    } else {
      TTPSRecordScan scan;
      scan.Fields = t.Fields;
      scan.FieldCount = fieldCount;
      scan.SplitArrays = SplitArrayFields;
      TpsFindDateFields(scan);
      for (TKvISourceRow& r : rows) {
        std::span<const std::uint8_t> data;
        std::uint16_t header = 0;
        file->Record(r, data, header);
        const std::int32_t last = TpsScanRecord(scan, data, header, invalidDateTimes_);
        if (last < 0)
          r.Item |= kTpsItemNoPlainCells;
        else
          r.Item &= ~kTpsItemNoPlainCells;
        lastColumn = std::max(lastColumn, last);
      }
    }
    if (ListOnly) continue;  // the dates are counted; no rows are kept
    // Record-number order; records of the same number stay in file order. Files
    // written in record-number order need no sorting.
    const auto byNumber = [](const TKvISourceRow& a, const TKvISourceRow& b) {
      return a.RowNo < b.RowNo;
    };
    if (!std::is_sorted(rows.begin(), rows.end(), byNumber))
      std::stable_sort(rows.begin(), rows.end(), byNumber);
    bool duplicates = false;
    for (std::size_t i = 1; i < rows.size() && !duplicates; ++i)
      duplicates = rows[i].RowNo == rows[i - 1].RowNo;

    if (duplicates || t.Cells.RowEntryCount() > 0 || t.Cells.HasRowSource()) {
      // Later records of a number overwrite earlier ones cell by cell, and a sheet that
      // already holds rows gets more: report every cell, as a load without rows on
      // demand does (the dates were counted above).
      lazyMemos_ = &memoReader;
      for (const TKvISourceRow& r : rows) {
        std::span<const std::uint8_t> data;
        std::uint16_t header = 0;
        file->Record(r, data, header);
        ProduceRecord(sheetNo, t, number, r.RowNo, data, header, notCounted);
      }
      lazyMemos_ = nullptr;
      continue;
    }

    auto source = std::make_unique<TTPSLazyRows>(file, t.Fields, t.FieldCount, SplitArrayFields,
                                                 ArrayFieldSeparator);
    const auto [memoFrom, memoTo] = memos->TableRange(number);
    if (loadMemos) source->SetMemos(memos, memoFrom, memoTo, plainFields);
    std::size_t cursor = memoFrom;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      TKvISourceRow r = rows[i];
      bool hasCells = (r.Item & kTpsItemNoPlainCells) == 0;
      // A memo with text keeps a row that has no other cell and may widen the table:
      // only then is it assembled here.
      if (loadMemos && memoFrom < memoTo)
        for (std::int32_t j = 0; j < fieldCount; ++j) {
          const TTPSField& f = t.Fields[std::size_t(j)];
          if (!f.IsMemo() || (f.IsArray() && !SplitArrayFields)) continue;
          if (hasCells && j <= lastColumn) continue;
          const auto [first, last] = memos->Find(memoFrom, memoTo, r.RowNo + 1,
                                                 std::uint8_t((j - plainFields) & 0xFF), cursor);
          if (first == last) continue;
          memoReader.text.clear();
          if (TpsAssembleMemo(memos->Items().subspan(first, last - first), f.Type == tpsBLOB,
                              file->PageOffsets, memoReader.pages, memoReader.text)
                  .Length == 0)
            continue;
          hasCells = true;
          lastColumn = std::max(lastColumn, j);
        }
      if (!hasCells) continue;  // a row without cells is not kept
      r.Item &= ~kTpsItemNoPlainCells;
      rows[kept++] = r;
    }
    rows.resize(kept);
    if (rows.empty()) continue;
    t.Cells.RowCount = std::int32_t(rows.size());
    t.Cells.ColCount = std::max(t.Cells.ColCount, lastColumn + 1);
    t.Cells.SetRowSource(std::move(source), std::move(rows));
  }
}
