#include "cells/KvSpreadSheetFile.h"

#include "cells/KvExceptions.h"

TCustomSpreadSheetFile::TCustomSpreadSheetFile() = default;
TCustomSpreadSheetFile::~TCustomSpreadSheetFile() = default;

TSpreadSheetFile::TSpreadSheetFile() = default;
TSpreadSheetFile::~TSpreadSheetFile() = default;

void TSpreadSheetFile::ResetGrid() {
  sheets_.Clear();
  OnDimensions = [this](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t fr, std::int32_t lr,
                        std::int32_t fc, std::int32_t lc) { GridDimensions(s, fr, lr, fc, lc); };
  OnCellValue = [this](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t r, std::int32_t c,
                       std::int32_t f, const Variant& v, TAlignment a,
                       TKvICellType t) { GridCellValue(s, r, c, f, v, a, t); };
  OnGetCellValue = [this](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t r, std::int32_t c,
                          Variant& v) { GridGetCellValue(s, r, c, v); };
  OnSheet = [this](TCustomSpreadSheetFile*, const std::string& caption, std::int32_t index,
                   bool& skip) { GridSheet(caption, index, skip); };
  OnSheetName = [this](TCustomSpreadSheetFile*, const std::string& caption, std::int32_t index) {
    GridSheetName(caption, index);
  };
  OnColumnWidth = [this](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t c, std::int32_t w) {
    GridColumnWidth(s, c, w);
  };
  OnRowHeight = [this](TCustomSpreadSheetFile*, std::int32_t s, std::int32_t r, std::int32_t h) {
    GridRowHeight(s, r, h);
  };
}

std::string TSpreadSheetFile::GetMemoText(std::int32_t, std::int32_t) { return ""; }

std::string TSpreadSheetFile::GetMemoWideText(std::int32_t, std::int32_t) { return ""; }

void TSpreadSheetFile::LoadData(TStream& stream) { LoadFromStream(stream); }

void TSpreadSheetFile::LoadFromFile(const std::string& name) {
  if (CheckFileName) {
    std::size_t b = 0, e = name.size();
    while (b < e && static_cast<unsigned char>(name[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(name[e - 1]) <= 32) --e;
    if (b == e) throw EKvIFileException("File is not defined.");
    if (!FileExists(name)) throw EKvIFileException("File " + name + " does not exist.");
  }
  FileName = name;
  ResetGrid();
}

void TSpreadSheetFile::LoadFromStream(TStream&) { ResetGrid(); }

void TSpreadSheetFile::LoadFromPrefixedStream(TStream& stream) {
  char prefix[12];
  stream.ReadBuffer(prefix, sizeof prefix);
  if (!(prefix[0] == 'B' && prefix[1] == 'D' && prefix[2] == 'O' && prefix[3] == 'C'))
    stream.Seek(stream.Position() - 12);
  LoadData(stream);
}

void TSpreadSheetFile::BeginLoad() { CurrentRecord = -1; }

void TSpreadSheetFile::EndLoad() {}

bool TSpreadSheetFile::SelectRecord(std::int32_t index) {
  CurrentRecord = index;
  return true;
}

std::int32_t TSpreadSheetFile::ColumnIndexByName(const std::string& name) {
  if (NameKind != nkAlphabet) return -1;
  return ColumnIndexFromLetters(name,
                                sheets_.Items(ActiveSheet < 0 ? 0 : ActiveSheet).Cells.ColCount);
}

void TSpreadSheetFile::GetColumnNames(TColumnNameList& list, const std::string& names) {
  list.clear();
  if (NameKind != nkAlphabet) return;
  std::int32_t n = sheets_.Items(ActiveSheet < 0 ? 0 : ActiveSheet).Cells.ColCount;
  if (names.empty()) {
    for (std::int32_t i = 1; i <= n; ++i) list.emplace_back(ColumnLetters(i), i - 1);
    return;
  }
  std::size_t start = 0;
  while (start < names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string part = names.substr(start, end - start);
    list.emplace_back(part, ColumnIndexFromLetters(part, n));
    start = end + 1;
  }
}

void TSpreadSheetFile::DoProgress(std::int64_t position, std::int64_t totalSize) {
  if (ProgressProc) ProgressProc(position, totalSize);
  if (OnLoadProgress) OnLoadProgress(this, position, totalSize);
}

void TSpreadSheetFile::SetRecordStatus(std::int32_t sheetNo, std::int32_t row,
                                       TKvIRowStatus status) {
  TSpreadSheetCells& cells = sheets_.Items(sheetNo).Cells;
  if (row >= 0 && row < cells.RowEntryCount()) cells.SetRowStatus(row, status);
  if (OnRecordStatusChanged) OnRecordStatusChanged(this, sheetNo, row, status);
}

void TSpreadSheetFile::GridDimensions(std::int32_t sheetNo, std::int32_t, std::int32_t lastRow,
                                      std::int32_t, std::int32_t lastColumn) {
  sheets_.Items(sheetNo).Cells.SetDimensions(lastRow, lastColumn, Range.LastCol);
}

void TSpreadSheetFile::GridCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                                     std::int32_t formatIndex, const Variant& value,
                                     TAlignment alignment, TKvICellType cellType) {
  if (column > Range.LastCol || row > Range.LastRow) return;
  try {
    sheets_.Items(sheetNo).Cells.SetCell(column, row, value, alignment, formatIndex, cellType);
  } catch (const Exception&) {
    // a cell that cannot be stored is dropped; the load goes on
  }
}

void TSpreadSheetFile::GridGetCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                                        Variant& value) {
  value = sheets_.Items(sheetNo).Cells.GetValue(column, row);
}

void TSpreadSheetFile::GridSheet(const std::string& caption, std::int32_t index, bool& skip) {
  if (ActiveSheet >= 0) skip = ActiveSheet != index;
  std::int32_t i = sheets_.AddSheet();
  sheets_[i].Caption = caption;
}

void TSpreadSheetFile::GridSheetName(const std::string& caption, std::int32_t index) {
  if (index >= 0 && index < sheets_.Count()) sheets_[index].Caption = caption;
}

void TSpreadSheetFile::GridColumnWidth(std::int32_t sheetNo, std::int32_t columnNo,
                                       std::int32_t width) {
  if (columnNo < 0) return;
  auto& cols = sheets_.Items(sheetNo).Columns;
  if (cols.size() <= std::size_t(columnNo)) cols.resize(std::size_t(columnNo) + 1, 0);
  cols[std::size_t(columnNo)] = width;
}

void TSpreadSheetFile::GridRowHeight(std::int32_t sheetNo, std::int32_t rowNo,
                                     std::int32_t height) {
  TSpreadSheetCells& cells = sheets_.Items(sheetNo).Cells;
  cells.EnsureRow(rowNo);
  cells.SetRowHeight(rowNo, height);
}
