#include "cells/KvCells.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "cells/KvConvert.h"
#include "cells/KvDecimal.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"

// ------------------------------------------------------------------ packed storage

struct TSpreadSheetCells::PackedCell {
  std::uint8_t kind = std::uint8_t(VarKind::Empty);  // Empty: no cell in this slot
  std::uint8_t meta = 0;                             // alignment (bits 0-1), cell type (2-5)
  std::int16_t format = -1;                          // kWideFormat: see wideFormats_
  std::uint32_t length = 0;                          // text length
  union {
    std::int64_t i;
    double d;
    const char* p;
  };
  PackedCell() : i(0) {}
};

struct TSpreadSheetCells::RowRec {
  std::uint32_t cellStart = 0;
  std::uint32_t colCount = 0;
  std::int32_t rowNo = 0;
  std::int32_t height = 0;
  TKvIRowStatus status = rsNormal;
};

namespace {

constexpr std::int16_t kWideFormat = std::numeric_limits<std::int16_t>::min();
constexpr std::size_t kArenaChunk = 1 << 20;
constexpr std::size_t kArenaLarge = 64 << 10;

std::uint64_t CellKey(std::int64_t row, std::int32_t column) {
  return (std::uint64_t(row) << 32) | std::uint32_t(column);
}

}  // namespace

TSpreadSheetCells::TSpreadSheetCells() {
  // The sheet's layout, and the memory it is said to take, rest on 16-byte cells.
  static_assert(sizeof(PackedCell) == 16, "a packed cell takes 16 bytes");
}
TSpreadSheetCells::~TSpreadSheetCells() = default;

TSpreadSheetCells::RowRec* TSpreadSheetCells::FindRow(std::int64_t row) {
  if (row < 0) return nullptr;
  if (std::uint64_t(row) < dense_.size()) return &dense_[std::size_t(row)];
  auto it = sparse_.find(row);
  return it == sparse_.end() ? nullptr : &it->second;
}

const TSpreadSheetCells::RowRec* TSpreadSheetCells::FindRow(std::int64_t row) const {
  return const_cast<TSpreadSheetCells*>(this)->FindRow(row);
}

TSpreadSheetCells::RowRec& TSpreadSheetCells::MakeRow(std::int64_t row) {
  if (row >= entryCount_) entryCount_ = row + 1;
  if (std::uint64_t(row) < dense_.size()) return dense_[std::size_t(row)];
  // Grow the dense part only while the gap stays proportionate to what is stored;
  // a row far beyond (a damaged record number) goes to the sparse table instead.
  std::uint64_t limit = dense_.size() + std::max<std::uint64_t>(65536, dense_.size());
  if (std::uint64_t(row) < limit) {
    std::size_t old = dense_.size();
    dense_.resize(std::size_t(row) + 1);
    for (std::size_t i = old; i < dense_.size(); ++i) dense_[i].rowNo = std::int32_t(i);
    // Sparse rows now inside the dense part move over.
    while (!sparse_.empty() && std::uint64_t(sparse_.begin()->first) < dense_.size()) {
      dense_[std::size_t(sparse_.begin()->first)] = sparse_.begin()->second;
      sparse_.erase(sparse_.begin());
    }
    return dense_[std::size_t(row)];
  }
  auto [it, inserted] = sparse_.try_emplace(row);
  if (inserted) it->second.rowNo = std::int32_t(row);
  return it->second;
}

void TSpreadSheetCells::StoreText(PackedCell& cell, std::string_view text) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) ThrowListIndex(0);
  cell.length = std::uint32_t(text.size());
  if (text.empty()) {
    cell.p = nullptr;
    return;
  }
  char* dst;
  if (text.size() >= kArenaLarge) {
    arena_.push_back(std::make_unique<char[]>(text.size()));
    arenaBytes_ += text.size();
    dst = arena_.back().get();
  } else {
    if (!arenaCur_ || arenaCap_ - arenaUsed_ < text.size()) {
      arena_.push_back(std::make_unique<char[]>(kArenaChunk));
      arenaCur_ = arena_.back().get();
      arenaCap_ = kArenaChunk;
      arenaUsed_ = 0;
      arenaBytes_ += kArenaChunk;
    }
    dst = arenaCur_ + arenaUsed_;
    arenaUsed_ += text.size();
  }
  std::memcpy(dst, text.data(), text.size());
  cell.p = dst;
}

void TSpreadSheetCells::SetCell(std::int32_t column, std::int32_t row, const Variant& value,
                                TAlignment alignment, std::int32_t formatIndex,
                                TKvICellType cellType) {
  if (column < 0 || value.IsNullOrEmpty()) return;
  if (row < 0) ThrowListIndex(row);
  if (source_) StoreSourceRows();
  rowCache_.Reset();
  RowRec& r = MakeRow(row);
  std::uint32_t need = std::uint32_t(column) + 1;
  if (need > r.colCount) {
    if (cells_.size() + need > std::numeric_limits<std::uint32_t>::max())
      ThrowListIndex(std::int64_t(cells_.size()));
    if (r.colCount == 0) {
      r.cellStart = std::uint32_t(cells_.size());
      cells_.resize(cells_.size() + need);
    } else if (std::size_t(r.cellStart) + r.colCount == cells_.size()) {
      cells_.resize(cells_.size() + (need - r.colCount));
    } else {
      // The row is not the last one filled: move its cells to the end.
      std::size_t start = cells_.size();
      cells_.resize(start + need);
      std::copy_n(cells_.begin() + r.cellStart, r.colCount, cells_.begin() + std::ptrdiff_t(start));
      r.cellStart = std::uint32_t(start);
    }
    r.colCount = need;
  }
  PackedCell& c = cells_[std::size_t(r.cellStart) + std::size_t(column)];
  c.kind = std::uint8_t(value.Kind());
  c.meta = std::uint8_t((alignment & 3) | ((cellType & 15) << 2));
  if (formatIndex > std::numeric_limits<std::int16_t>::min() &&
      formatIndex <= std::numeric_limits<std::int16_t>::max()) {
    c.format = std::int16_t(formatIndex);
  } else {
    c.format = kWideFormat;
    wideFormats_[CellKey(row, column)] = formatIndex;
  }
  switch (value.Kind()) {
    case VarKind::String:
    case VarKind::WideString:
      StoreText(c, value.AsString());
      break;
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Date:
      c.length = 0;
      c.d = value.AsDouble();
      break;
    case VarKind::Currency:
      c.length = 0;
      c.i = value.AsCurrencyScaled();
      break;
    case VarKind::Boolean:
      c.length = 0;
      c.i = value.AsBool() ? 1 : 0;
      break;
    default:
      c.length = 0;
      c.i = value.AsInt();
      break;
  }
  if (AutoCount) {
    ColCount = std::max(ColCount, column + 1);
    RowCount = std::int32_t(std::max<std::int64_t>(RowCount, std::int64_t(row) + 1));
  }
}

void TSpreadSheetCells::ViewOf(const PackedCell& c, TKvICellView& out) const {
  out.Kind = VarKind(c.kind);
  out.Alignment = TAlignment(c.meta & 3);
  out.CellType = TKvICellType((c.meta >> 2) & 15);
  out.FormatIndex = c.format;
  out.Int = 0;
  out.Real = 0;
  out.Text = {};
  switch (out.Kind) {
    case VarKind::String:
    case VarKind::WideString:
      out.Text = std::string_view(c.length ? c.p : "", c.length);
      break;
    case VarKind::Single:
    case VarKind::Double:
    case VarKind::Date:
      out.Real = c.d;
      break;
    default:
      out.Int = c.i;
      break;
  }
}

bool TSpreadSheetCells::PeekCell(std::int32_t column, std::int32_t row, TKvICellView& out) const {
  if (row < 0 || row >= entryCount_ || column < 0) return false;
  if (source_) {
    const TKvICellView* v = CellInRow(RowCells(row), column);
    if (!v) return false;
    out = *v;
    return true;
  }
  const RowRec* r = FindRow(row);
  if (!r || std::uint32_t(column) >= r->colCount) return false;
  const PackedCell& c = cells_[std::size_t(r->cellStart) + std::size_t(column)];
  if (c.kind == std::uint8_t(VarKind::Empty)) return false;
  ViewOf(c, out);
  if (c.format == kWideFormat) out.FormatIndex = WideFormat(row, column);
  return true;
}

std::int32_t TSpreadSheetCells::WideFormat(std::int64_t row, std::int32_t column) const {
  auto it = wideFormats_.find(CellKey(row, column));
  return it == wideFormats_.end() ? -1 : it->second;
}

std::span<const TKvICellView> TSpreadSheetCells::StoredRowCells(std::int64_t row,
                                                                TKvISourceRowCache& cache) const {
  if (row != cache.Row) {
    cache.Reset();
    if (const RowRec* r = FindRow(row)) {
      cache.Cells.resize(r->colCount);
      for (std::uint32_t column = 0; column < r->colCount; ++column) {
        const PackedCell& c = cells_[std::size_t(r->cellStart) + column];
        TKvICellView& v = cache.Cells[column];
        ViewOf(c, v);
        if (c.format == kWideFormat) v.FormatIndex = WideFormat(row, std::int32_t(column));
      }
    }
    cache.Columns = std::int32_t(cache.Cells.size());
    cache.Row = row;
  }
  return {cache.Cells.data(), std::size_t(cache.Columns)};
}

std::optional<TKvICell> TSpreadSheetCells::GetCell(std::int32_t column, std::int32_t row) const {
  TKvICellView v;
  if (!PeekCell(column, row, v)) return std::nullopt;
  TKvICell cell;
  cell.Value = v.ToVariant();
  cell.Alignment = v.Alignment;
  cell.FormatIndex = v.FormatIndex;
  cell.CellType = v.CellType;
  return cell;
}

Variant TSpreadSheetCells::GetValue(std::int32_t column, std::int32_t row) const {
  TKvICellView v;
  if (!PeekCell(column, row, v)) return Variant::Null();
  return v.ToVariant();
}

void TSpreadSheetCells::EnsureRow(std::int32_t row) {
  if (row < 0) ThrowListIndex(row);
  if (source_ && row >= entryCount_) StoreSourceRows();
  if (row >= entryCount_) entryCount_ = std::int64_t(row) + 1;
}

void TSpreadSheetCells::DeleteRow(std::int32_t index) {
  if (index < 0 || index >= entryCount_) ThrowListIndex(index);
  if (source_) StoreSourceRows();
  rowCache_.Reset();
  if (std::uint64_t(index) < dense_.size()) {
    dense_.erase(dense_.begin() + index);
  } else {
    sparse_.erase(index);
  }
  // Later sparse rows move up by one.
  std::map<std::int64_t, RowRec> moved;
  for (auto& [k, v] : sparse_) moved.emplace(k > index ? k - 1 : k, v);
  sparse_.swap(moved);
  --entryCount_;
}

std::int64_t TSpreadSheetCells::DeleteRowsWithoutCells() {
  if (source_) return 0;  // rows from a source always hold cells
  rowCache_.Reset();
  std::vector<RowRec> kept;
  std::int64_t keptBelowCount = 0;
  auto consider = [&](std::int64_t index, const RowRec& r) {
    if (r.colCount == 0) return;
    if (index < RowCount) ++keptBelowCount;
    kept.push_back(r);
  };
  for (std::size_t i = 0; i < dense_.size(); ++i) consider(std::int64_t(i), dense_[i]);
  for (auto& [k, v] : sparse_) consider(k, v);
  std::int64_t removed = entryCount_ - std::int64_t(kept.size());
  std::int64_t removedBelowCount = std::min<std::int64_t>(RowCount, entryCount_) - keptBelowCount;
  RowCount = std::int32_t(RowCount - removedBelowCount);
  kept.shrink_to_fit();
  dense_.swap(kept);
  sparse_.clear();
  entryCount_ = std::int64_t(dense_.size());
  return removed;
}

void TSpreadSheetCells::Clear() {
  source_.reset();
  sourceRows_.Release();
  rowCache_.Reset();
  dense_.clear();
  dense_.shrink_to_fit();
  sparse_.clear();
  cells_.clear();
  cells_.shrink_to_fit();
  arena_.clear();
  arenaCur_ = nullptr;
  arenaUsed_ = arenaCap_ = arenaBytes_ = 0;
  wideFormats_.clear();
  entryCount_ = 0;
  DimLastCol = DimLastRow = ColCount = RowCount = 0;
}

void TSpreadSheetCells::SetDimensions(std::int32_t lastRow, std::int32_t lastColumn,
                                      std::int32_t windowLastCol) {
  DimLastRow = lastRow;
  DimLastCol = std::min(lastColumn, windowLastCol);
  if (!AutoCount) {
    RowCount = DimLastRow;
    ColCount = DimLastCol;
  }
}

std::int32_t TSpreadSheetCells::RowColumnCount(std::int32_t row) const {
  if (row < 0 || row >= entryCount_) return 0;
  if (source_) return SourceColumnCount(row);
  const RowRec* r = FindRow(row);
  return r ? std::int32_t(r->colCount) : 0;
}

std::int32_t TSpreadSheetCells::RowNo(std::int32_t row) const {
  if (source_) return row >= 0 && row < entryCount_ ? sourceRows_[std::size_t(row)].RowNo : row;
  const RowRec* r = FindRow(row);
  return r ? r->rowNo : row;
}

TKvIRowStatus TSpreadSheetCells::RowStatus(std::int32_t row) const {
  const RowRec* r = FindRow(row);
  return r ? r->status : rsNormal;
}

std::int32_t TSpreadSheetCells::RowHeight(std::int32_t row) const {
  const RowRec* r = FindRow(row);
  return r ? r->height : 0;
}

void TSpreadSheetCells::SetRowStatus(std::int32_t row, TKvIRowStatus status) {
  if (row < 0 || row >= entryCount_) ThrowListIndex(row);
  if (source_) StoreSourceRows();
  MakeRow(row).status = status;
}

void TSpreadSheetCells::SetRowHeight(std::int32_t row, std::int32_t height) {
  if (row < 0 || row >= entryCount_) ThrowListIndex(row);
  if (source_) StoreSourceRows();
  MakeRow(row).height = height;
}

void TSpreadSheetCells::CopyRow(std::int32_t row, TSpreadSheetRow& out) const {
  out.Cols.clear();
  out.RowNo = RowNo(row);
  out.Status = RowStatus(row);
  out.Height = RowHeight(row);
  std::int32_t n = RowColumnCount(row);
  out.Cols.resize(std::size_t(n));
  for (std::int32_t c = 0; c < n; ++c) out.Cols[std::size_t(c)] = GetCell(c, row);
}

std::size_t TSpreadSheetCells::MemoryUsed() const {
  return dense_.capacity() * sizeof(RowRec) + sparse_.size() * (sizeof(RowRec) + 48) +
         cells_.capacity() * sizeof(PackedCell) + arenaBytes_ +
         wideFormats_.size() * (sizeof(std::uint64_t) + sizeof(std::int32_t) + 32) +
         sourceRows_.capacity() * sizeof(TKvISourceRow) +
         rowCache_.Cells.capacity() * sizeof(TKvICellView);
}

// ------------------------------------------------------------------ rows from a source

void TSpreadSheetCells::SetRowSource(std::unique_ptr<TKvIRowSource> source,
                                     TKvISourceRows rows) {
  const std::int32_t rowCount = RowCount, colCount = ColCount;
  Clear();
  RowCount = rowCount;
  ColCount = colCount;
  source_ = std::move(source);
  sourceRows_ = std::move(rows);
  entryCount_ = source_ ? std::int64_t(sourceRows_.size()) : 0;
  if (!source_) sourceRows_.Release();
}

std::int32_t TKvISourceRowCache::ColumnCount(TKvIRowSource& source, const TKvISourceRow& where,
                                             std::int64_t row) {
  if (row != Row) {
    Row = -1;  // FillRow sets every cell of Cells: they need no clearing
    source.FillRow(where, Cells);
    // The row's column count ends at its last cell, as for stored rows.
    std::size_t n = Cells.size();
    while (n > 0 && Cells[n - 1].Kind == VarKind::Empty) --n;
    Columns = std::int32_t(n);
    Row = row;
  }
  return Columns;
}

std::int32_t TSpreadSheetCells::SourceColumnCount(std::int64_t row) const {
  return rowCache_.ColumnCount(*source_, sourceRows_[std::size_t(row)], row);
}

std::unique_ptr<TKvICellReader> TSpreadSheetCells::NewCellReader() const {
  auto reader = std::make_unique<TKvICellReader>();
  reader->cells_ = this;
  if (source_) {
    reader->source_ = source_->CloneForThread();
    if (!reader->source_) return nullptr;
  }
  return reader;
}

std::span<const TKvICellView> TSpreadSheetCells::RowCells(std::int32_t row) const {
  if (row < 0 || row >= entryCount_) return {};
  if (!source_) return StoredRowCells(row, rowCache_);
  return rowCache_.RowCells(*source_, sourceRows_[std::size_t(row)], row);
}

std::span<const TKvICellView> TKvICellReader::RowCells(std::int32_t row) {
  if (row < 0 || row >= cells_->entryCount_) return {};
  // Stored cells are only read, which any thread may do; the views are this reader's.
  if (!source_) return cells_->StoredRowCells(row, cache_);
  return cache_.RowCells(*source_, cells_->sourceRows_[std::size_t(row)], row);
}

TKvIPlainRow TSpreadSheetCells::AppendPlainRow(std::int32_t row,
                                               std::span<const std::int32_t> columns,
                                               const TKvIPlainRowText& text, std::string& out,
                                               std::uint64_t limit) const {
  if (row < 0 || row >= entryCount_ || !source_) return TKvIPlainRow::NotWritten;
  return rowCache_.AppendPlainRow(*source_, sourceRows_[std::size_t(row)], row, columns, text, out,
                                  limit);
}

TKvIPlainRow TKvICellReader::AppendPlainRow(std::int32_t row, std::span<const std::int32_t> columns,
                                            const TKvIPlainRowText& text, std::string& out,
                                            std::uint64_t limit) {
  if (row < 0 || row >= cells_->entryCount_ || !source_) return TKvIPlainRow::NotWritten;
  return cache_.AppendPlainRow(*source_, cells_->sourceRows_[std::size_t(row)], row, columns, text,
                               out, limit);
}

bool TKvICellReader::PeekCell(std::int32_t column, std::int32_t row, TKvICellView& out) {
  const TKvICellView* v = CellInRow(RowCells(row), column);
  if (!v) return false;
  out = *v;
  return true;
}

void TSpreadSheetCells::StoreSourceRows() {
  if (!source_) return;
  std::unique_ptr<TKvIRowSource> source = std::move(source_);
  TKvISourceRows rows = std::move(sourceRows_);
  rowCache_.Reset();
  entryCount_ = 0;
  std::vector<TKvICellView> cells;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    cells.clear();
    source->FillRow(rows[i], cells);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const TKvICellView& v = cells[c];
      if (v.Kind == VarKind::Empty) continue;
      SetCell(std::int32_t(c), std::int32_t(i), v.ToVariant(), v.Alignment, v.FormatIndex,
              v.CellType);
    }
    EnsureRow(std::int32_t(i));
    MakeRow(std::int64_t(i)).rowNo = rows[i].RowNo;
  }
}

// ------------------------------------------------------------------ cells and rows

Variant TKvICellView::ToVariant() const {
  switch (Kind) {
    case VarKind::String:
      return Variant::String(std::string(Text));
    case VarKind::WideString:
      return Variant::WideString(std::string(Text));
    case VarKind::Single:
      return Variant::Single(float(Real));
    case VarKind::Double:
      return Variant::Double(Real);
    case VarKind::Date:
      return Variant::Date(Real);
    case VarKind::Currency:
      return Variant::CurrencyScaled(Int);
    case VarKind::Boolean:
      return Variant::Boolean(Int != 0);
    case VarKind::SmallInt:
      return Variant::SmallInt(std::int16_t(Int));
    case VarKind::Integer:
      return Variant::Integer(std::int32_t(Int));
    case VarKind::Byte:
      return Variant::Byte(std::uint8_t(Int));
    case VarKind::Null:
      return Variant::Null();
    case VarKind::Empty:
      return Variant();
  }
  return Variant();
}

void AppendTextOf(std::string& out, const TKvICellView& cell, const FormatSettings& fs) {
  switch (cell.Kind) {
    case VarKind::String:
    case VarKind::WideString:
      out.append(cell.Text);
      return;
    case VarKind::SmallInt:
    case VarKind::Integer:
    case VarKind::Byte:
      AppendInt(out, cell.Int);
      return;
    case VarKind::Double:
      if (cell.Text.empty() ||
          !AppendPackedDecimalText(out, cell.Text, cell.PackedDecimals, fs.DecimalSeparator))
        AppendFloatG(out, cell.Real, 15, fs);
      return;
    default:
      AppendTextOf(out, cell.ToVariant(), fs);
      return;
  }
}

void TSpreadSheetRow::ClearRow() {
  for (auto& c : Cols) {
    if (!c) continue;
    c->Value = Variant::Null();
    c->Alignment = taLeftJustify;
    c->FormatIndex = -1;
  }
}

// ------------------------------------------------------------------ sheets

TSpreadSheet::TSpreadSheet() = default;
TSpreadSheet::~TSpreadSheet() = default;

TSpreadSheets::TSpreadSheets() = default;
TSpreadSheets::~TSpreadSheets() { Clear(); }

std::int32_t TSpreadSheets::AddSheet() {
  std::unique_ptr<TSpreadSheet> sheet =
      itemClass_ ? itemClass_() : std::make_unique<TSpreadSheet>();
  sheet->Caption = "Sheet" + std::to_string(sheets_.size() + 1);
  sheets_.push_back(std::move(sheet));
  return std::int32_t(sheets_.size() - 1);
}

TSpreadSheet& TSpreadSheets::Items(std::int32_t index) {
  if (index < 0) index = 0;
  while (std::size_t(index) >= sheets_.size()) AddSheet();
  return *sheets_[std::size_t(index)];
}

std::int32_t TSpreadSheets::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < sheets_.size(); ++i)
    if (sheets_[i]->Caption == name) return std::int32_t(i);
  return -1;
}

void TSpreadSheets::Delete(std::int32_t index) {
  if (index < 0 || std::size_t(index) >= sheets_.size()) ThrowListIndex(index);
  sheets_.erase(sheets_.begin() + index);
}

void TSpreadSheets::Clear() {
  while (!sheets_.empty()) sheets_.pop_back();
}

// ------------------------------------------------------------------ column letters

std::string ColumnLetters(std::int64_t n) {
  std::string s;
  while (n > 0) {
    s.insert(s.begin(), char('A' + (n - 1) % 26));
    n = (n - 1) / 26;
  }
  return s;
}

std::int32_t ColumnIndexFromLetters(std::string_view text, std::int32_t maxCount) {
  if (text.empty()) return -1;
  std::int64_t sum = 0;
  std::int64_t weight = 1;
  for (std::size_t i = text.size(); i-- > 0;) {
    char c = text[i];
    c = UpperAscii(c);
    if (c < 'A' || c > 'Z') return -1;
    if (weight > (std::int64_t(1) << 40)) return -1;  // beyond any 32-bit column
    sum += (c - 64) * weight;
    weight *= 26;
  }
  if (sum > maxCount) return -1;
  return std::int32_t(sum - 1);
}
