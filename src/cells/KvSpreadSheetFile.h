// The reader framework: the base of every file reader. It holds the properties and
// events a reader reports through, the sheet list a load fills, the virtual
// operations a concrete reader overrides, and the built-in grid handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvStream.h"

class TCustomSpreadSheetFile;

// Events: plain callables; bind the handler's object with a lambda.
using TOnColumnWidth = std::function<void(TCustomSpreadSheetFile* sender, std::int32_t sheetNo,
                                          std::int32_t columnNo, std::int32_t width)>;
using TOnRowHeight = std::function<void(TCustomSpreadSheetFile* sender, std::int32_t sheetNo,
                                        std::int32_t rowNo, std::int32_t height)>;
using TOnDimensions =
    std::function<void(TCustomSpreadSheetFile* sender, std::int32_t sheetNo, std::int32_t firstRow,
                       std::int32_t lastRow, std::int32_t firstColumn, std::int32_t lastColumn)>;
using TOnCellValue = std::function<void(
    TCustomSpreadSheetFile* sender, std::int32_t sheetNo, std::int32_t row, std::int32_t column,
    std::int32_t formatIndex, const Variant& value, TAlignment alignment, TKvICellType cellType)>;
using TOnGetCellValue = std::function<void(TCustomSpreadSheetFile* sender, std::int32_t sheetNo,
                                           std::int32_t row, std::int32_t column, Variant& value)>;
using TOnSheet = std::function<void(TCustomSpreadSheetFile* sender, const std::string& caption,
                                    std::int32_t index, bool& skip)>;
using TOnSheetName = std::function<void(TCustomSpreadSheetFile* sender, const std::string& caption,
                                        std::int32_t index)>;
using TOnRecordStatusChanged = std::function<void(
    TCustomSpreadSheetFile* sender, std::int32_t sheetNo, std::int32_t row, TKvIRowStatus status)>;
using TOnLoadProgress = std::function<void(TCustomSpreadSheetFile* sender, std::int64_t position,
                                           std::int64_t totalSize)>;
using TProgressProc = std::function<void(std::int64_t position, std::int64_t totalSize)>;

enum TKvIColumnNameKind : std::uint8_t { nkAlphabet, nkFieldName };

enum TKvIParseItem : std::uint8_t {
  ipiText,
  ipiBLOB,
  ipiVBA,
  ipiPictures,
  ipiSummaryInformation,
  ipiComments
};
struct TKvIParseItems {
  std::uint8_t bits = (1u << ipiText) | (1u << ipiBLOB) | (1u << ipiSummaryInformation);
  bool Contains(TKvIParseItem i) const { return (bits >> i) & 1u; }
  void Include(TKvIParseItem i) { bits |= std::uint8_t(1u << i); }
  void Exclude(TKvIParseItem i) { bits &= std::uint8_t(~(1u << i)); }
};

// (text, integer) pairs, as GetColumnNames fills them.
using TColumnNameList = std::vector<std::pair<std::string, std::int32_t>>;

class TCustomSpreadSheetFile {
 public:
  TCustomSpreadSheetFile();
  virtual ~TCustomSpreadSheetFile();
  TCustomSpreadSheetFile(const TCustomSpreadSheetFile&) = delete;
  TCustomSpreadSheetFile& operator=(const TCustomSpreadSheetFile&) = delete;

  // Published properties.
  std::string FileName;
  bool LoadNULLs = false;
  TOnColumnWidth OnColumnWidth;
  TOnRowHeight OnRowHeight;
  TOnDimensions OnDimensions;
  TOnCellValue OnCellValue;
  TOnGetCellValue OnGetCellValue;
  TOnSheet OnSheet;
  TOnSheetName OnSheetName;
  TOnRecordStatusChanged OnRecordStatusChanged;

  // Unpublished.
  std::int32_t ActiveSheet = -1;  // -1: load all sheets
  TKvRange Range;
  bool KeepOpen = false;

  TSpreadSheets& Sheets() { return sheets_; }
  const TSpreadSheets& Sheets() const { return sheets_; }

 protected:
  TSpreadSheets sheets_;
};

class TSpreadSheetFile : public TCustomSpreadSheetFile {
 public:
  TSpreadSheetFile();
  ~TSpreadSheetFile() override;

  // Published.
  TKvIColumnNameKind NameKind = nkAlphabet;
  TKvIRowStatuses LoadRowStatutes{rsNormal};
  TOnLoadProgress OnLoadProgress;
  TKvIParseItems ParseItems;

  // Unpublished.
  bool CheckFileName = true;
  TProgressProc ProgressProc;
  std::int32_t CurrentRecord = -1;

  // Virtual operations, in slot order.
  virtual std::int32_t ReservedQuery() { return 0; }
  // Clears the sheets and installs the built-in grid handlers.
  virtual void ResetGrid();
  virtual std::string GetMemoText(std::int32_t column, std::int32_t row);
  virtual std::string GetMemoWideText(std::int32_t column, std::int32_t row);
  virtual void LoadData(TStream& stream);
  // "File is not defined." / "File %s does not exist." (EKvIFileException), then
  // FileName := Name and ResetGrid. Readers extend it to open and load the file.
  virtual void LoadFromFile(const std::string& name);
  virtual void LoadFromStream(TStream& stream);
  // Skips a 12-byte "BDOC" prefix when present, then LoadData.
  virtual void LoadFromPrefixedStream(TStream& stream);
  virtual void BeginLoad();
  virtual void EndLoad();
  virtual bool CheckFormat() { return true; }
  virtual bool SelectRecord(std::int32_t index);
  virtual std::int32_t ColumnIndexByName(const std::string& name);
  virtual void GetColumnNames(TColumnNameList& list, const std::string& names);

  void DoProgress(std::int64_t position, std::int64_t totalSize);
  void SetRecordStatus(std::int32_t sheetNo, std::int32_t row, TKvIRowStatus status);

  // The built-in grid handlers.
  void GridDimensions(std::int32_t sheetNo, std::int32_t firstRow, std::int32_t lastRow,
                      std::int32_t firstColumn, std::int32_t lastColumn);
  void GridCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                     std::int32_t formatIndex, const Variant& value, TAlignment alignment,
                     TKvICellType cellType);
  void GridGetCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                        Variant& value);
  void GridSheet(const std::string& caption, std::int32_t index, bool& skip);
  void GridSheetName(const std::string& caption, std::int32_t index);
  void GridColumnWidth(std::int32_t sheetNo, std::int32_t columnNo, std::int32_t width);
  void GridRowHeight(std::int32_t sheetNo, std::int32_t rowNo, std::int32_t height);
};
