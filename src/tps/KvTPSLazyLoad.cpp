// Loads with rows decoded on demand: when a load may keep only where the records lie,
// and the tables' row sources built from what the early scan found.
#include <algorithm>
#include <tuple>

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

// The memos of the table's rows (rows in record-number order) with a gap in their pieces,
// counted once each as damage; BLOBs without a gap are added to blobs, [first, last) of
// the pieces, for their length to be checked.
void TClarionTPS::CountIncompleteMemos(const TTPSMemoPieces& memos, std::size_t from,
                                       std::size_t to, std::int32_t number,
                                       const TTPSClarionTable& t, std::int32_t plainFields,
                                       std::span<const TKvISourceRow> rows,
                                       TTPSLazyMemoReader& reader,
                                       std::vector<std::pair<std::size_t, std::size_t>>& blobs) {
  // Memo number -> 1 for a MEMO column, 2 for a BLOB column, 0 for none.
  std::uint8_t kind[256] = {};
  for (std::int32_t j = 0; j < std::int32_t(t.FieldCount); ++j) {
    const TTPSField& f = t.Fields[std::size_t(j)];
    if (!f.IsMemo() || (f.IsArray() && !SplitArrayFields)) continue;
    kind[(j - plainFields) & 0xFF] = f.Type == tpsBLOB ? 2 : 1;
  }
  const std::span<const TTPSMemoPiece> items = memos.Items();
  std::size_t row = 0;
  for (std::size_t i = from; i < to;) {
    std::size_t end = i + 1;
    while (end < to && items[end].Record == items[i].Record && items[end].Memo == items[i].Memo)
      ++end;
    const std::int64_t rowNo = std::int64_t(items[i].Record) - 1;
    while (row < rows.size() && rows[row].RowNo < rowNo) ++row;
    const std::uint8_t k = kind[items[i].Memo];
    if (k != 0 && row < rows.size() && rows[row].RowNo == rowNo) {
      if (memos.Incomplete(i, end, false, reader.pageOffsets, reader.pages))
        damage_.MemoIncomplete(number, items[i].Record, k == 2);
      else if (k == 2)
        blobs.push_back({i, end});  // its stated length is read later, in file order
    }
    i = end;
  }
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
  // One piece per key: a piece stored twice is kept once, as the first one read.
  memos->DropDuplicates(file->PageOffsets, memoReader.pages, &damage_);
  std::vector<std::pair<std::size_t, std::size_t>> blobs;

  for (std::int32_t number : index.order) {
    TKvISourceRows& rows = index.rows[number];
    if (usable_.count(number) == 0) {
      damage_.RecordsWithoutDefinition(number, rows.size());
      continue;
    }
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
        r.NoPlainCells = last < 0;
        lastColumn = std::max(lastColumn, last);
      }
    }
    if (ListOnly) continue;  // the dates are counted; no rows are kept
    // Record-number order; records of the same number stay in file order. Files
    // written in record-number order need no sorting.
    const auto byNumber = [](const TKvISourceRow& a, const TKvISourceRow& b) {
      return a.RowNo < b.RowNo;
    };
    // One pass over the rows (a list of millions, read once here): whether they come in
    // strictly increasing record-number order, and how many give no plain cell.
    bool increasing = true;
    std::size_t noPlainCells = rows.empty() ? 0 : rows[0].NoPlainCells;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      increasing &= rows[i].RowNo > rows[i - 1].RowNo;
      noPlainCells += rows[i].NoPlainCells;
    }
    bool duplicates = false;
    if (!increasing) {
      if (!std::is_sorted(rows.begin(), rows.end(), byNumber))
        std::stable_sort(rows.begin(), rows.end(), byNumber);
      for (std::size_t i = 1; i < rows.size() && !duplicates; ++i)
        duplicates = rows[i].RowNo == rows[i - 1].RowNo;
    }

    const auto [memoFrom, memoTo] = memos->TableRange(number);
    if (loadMemos && memoFrom < memoTo)
      CountIncompleteMemos(*memos, memoFrom, memoTo, number, t, plainFields, rows, memoReader,
                           blobs);

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
    if (loadMemos) source->SetMemos(memos, memoFrom, memoTo, plainFields);
    std::size_t cursor = memoFrom;
    std::size_t kept = 0;
    // The memo columns (column, memo number, BLOB), found once for all rows.
    std::vector<std::tuple<std::int32_t, std::uint8_t, bool>> memoColumns;
    std::int32_t lastMemoColumn = -1;
    if (loadMemos && memoFrom < memoTo)
      for (std::int32_t j = 0; j < fieldCount; ++j) {
        const TTPSField& f = t.Fields[std::size_t(j)];
        if (!f.IsMemo() || (f.IsArray() && !SplitArrayFields)) continue;
        memoColumns.emplace_back(j, std::uint8_t((j - plainFields) & 0xFF), f.Type == tpsBLOB);
        lastMemoColumn = j;
      }
    for (std::size_t i = 0; i < rows.size(); ++i) {
      // No row left without plain cells and no memo column left to widen the table:
      // the rest of the rows stay as they are.
      if (noPlainCells == 0 && kept == i && lastMemoColumn <= lastColumn) {
        kept = rows.size();
        break;
      }
      TKvISourceRow r = rows[i];
      noPlainCells -= r.NoPlainCells;
      bool hasCells = !r.NoPlainCells;
      // A memo with text keeps a row that has no other cell and may widen the table:
      // only then is it assembled here.
      for (const auto& [j, memo, blob] : memoColumns) {
        if (hasCells && j <= lastColumn) continue;
        const auto [first, last] = memos->Find(memoFrom, memoTo, r.RowNo + 1, memo, cursor);
        if (first == last) continue;
        memoReader.text.clear();
        if (TpsAssembleMemo(memos->Items().subspan(first, last - first), blob, file->PageOffsets,
                            memoReader.pages, memoReader.text)
                .Length == 0)
          continue;
        hasCells = true;
        lastColumn = std::max(lastColumn, j);
      }
      if (!hasCells) continue;  // a row without cells is not kept
      if (kept != i || r.NoPlainCells) {
        r.NoPlainCells = false;
        rows[kept] = r;
      }
      ++kept;
    }
    rows.Truncate(kept);
    if (rows.empty()) continue;
    t.Cells.RowCount = std::int32_t(rows.size());
    t.Cells.ColCount = std::max(t.Cells.ColCount, lastColumn + 1);
    t.Cells.SetRowSource(std::move(source), std::move(rows));
  }
  // BLOBs whose pieces do not add up to their stated length, reported in row order. The
  // length came with the first piece as it was cut; a first piece too short to hold it
  // has the BLOB read again, in file order through pages given back behind (a mapped
  // file's pages would otherwise stay in memory).
  const std::span<const TTPSMemoPiece> pieces = memos->Items();
  std::vector<bool> shortOf(blobs.size());
  TTPSPageCache blobPages(file->View, releaseBehind);
  const auto check = [&](std::size_t i) {
    shortOf[i] =
        memos->Incomplete(blobs[i].first, blobs[i].second, true, file->PageOffsets, blobPages);
  };
  std::vector<std::size_t> order;  // the BLOBs read again
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    if (pieces[blobs[i].first].Length < 4)
      order.push_back(i);
    else
      check(i);  // reads no page
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const TTPSMemoPiece &x = pieces[blobs[a].first], &y = pieces[blobs[b].first];
    return std::tie(x.Page, x.IndexInPage) < std::tie(y.Page, y.IndexInPage);
  });
  for (std::size_t i : order) check(i);
  for (std::size_t i = 0; i < blobs.size(); ++i)
    if (shortOf[i]) {
      const TTPSMemoPiece& p = pieces[blobs[i].first];
      damage_.MemoIncomplete(p.Table, p.Record, true);
    }
}
