// The TopSpeed reader: loads every table of a .tps file into the sheet list, one
// TTPSClarionTable per table, and reports every cell through OnCellValue.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "cells/KvCells.h"
#include "tps/KvClarion.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSFields.h"
#include "tps/KvTPSValues.h"

struct TTPSLazyIndex;
struct TTPSLazyMemoReader;

// One table of the file (a sheet).
class TTPSClarionTable : public TSpreadSheet {
 public:
  TTPSFields Fields;
  TTPSKeys Keys;
  std::string TableName;
  std::int32_t TableNumber = 0;
  std::uint16_t DefinitionWord1 = 0, DefinitionWord2 = 0, FieldCount = 0, MemoCount = 0,
                KeyCount = 0;
  TClarionFieldLinks FieldLinks;
};

class TClarionTPS : public TCustomClarion {
 public:
  TClarionTPS();
  ~TClarionTPS() override;

  // The selected table: 0 for all tables; otherwise only this table gets rows.
  std::int32_t TableNumber = 0;
  // The owner password of an encrypted file. A plain file ignores it; an encrypted one
  // is decrypted with it (a wrong one fails with the signature message).
  std::optional<std::string> Owner;
  // Rows decoded on demand: a load keeps only where each data record lies, and a
  // table's cells are decoded when they are read (TSpreadSheetCells::SetRowSource),
  // instead of reporting every cell through OnCellValue. The cells are the ones
  // OnCellValue would have stored in the grid unchanged, so it is for a handler that
  // does just that; impossible dates are still counted during the load. The stream
  // given to LoadFromStream must stay open and unchanged while rows are read. The
  // record list then holds no data records. Loads with progress or status events,
  // a row window, or every row status fall back to reporting every cell.
  bool LazyRows = false;

  // A load that only names the tables (with rows on demand, on a fresh reader): the
  // records are looked at as they are cut (impossible dates are counted) and where
  // they lie is kept only for a table whose definition has not come yet; no table gets
  // rows, and where the memo texts lie is not kept. A file whose definition of a table
  // is replaced after its data is loaded once more with the records kept.
  bool ListOnly = false;

  std::string GetMemoText(std::int32_t column, std::int32_t row) override;
  void LoadFromFile(const std::string& name) override;
  void LoadFromStream(TStream& stream) override;
  void BeginLoad() override;
  void EndLoad() override;
  std::int32_t ColumnIndexByName(const std::string& name) override;
  void GetColumnNames(TColumnNameList& list, const std::string& names) override;
  std::string GetTypeName(std::uint8_t code) override;
  void SetColumnName(std::int32_t index, const std::string& name) override;

  // Impossible dates/times met during the last load (each became an empty text).
  std::int64_t InvalidDateTimeCount() const { return invalidDateTimes_; }

  // Position of the first table with this number; appends a new table when there is none.
  std::int32_t TableIndexOf(std::int32_t number);
  TTPSClarionTable& Table(std::int32_t index);
  // The table of TableNumber (created when missing).
  TTPSClarionTable& SelectedTable();
  // The selected table's field i, or null.
  const TTPSField* SelectedField(std::int32_t i);

  // The header of the last file and the record lists (kept between loads with KeepOpen).
  const std::uint8_t* Header() const { return header_; }
  const TTPSRecords& Records() const { return records_; }
  const TTPSRecords& Memos() const { return memos_; }

 private:
  // The file's bytes, from a mapping or one read of the whole stream. The one place
  // where the file content is obtained.
  // The stream's bytes (mapped, or read into source_), decrypted as read when they
  // are encrypted and an owner password opens them.
  TTPSFileView SourceView(TStream& stream);
  std::span<const std::uint8_t> ReadWholeStream(TStream& stream);
  void BuildTables();
  void ProduceRows();
  bool LazyLoadPossible() const;
  void ProduceLazyRows(TTPSLazyIndex& index, const TTPSFileView& view);
  // Reports the cells of one data record (the load without rows on demand).
  void ProduceRecord(std::int32_t sheetNo, TTPSClarionTable& t, std::int32_t tableNumber,
                     std::int32_t row, std::span<const std::uint8_t> data,
                     std::uint16_t headerLength, std::int64_t& invalidDateTimes);
  // The text of a memo of a row for ProduceRecord: from the memo list, or during a load
  // with rows on demand from the pieces it kept (each piece gives its text once).
  std::string MemoText(std::int32_t table, std::uint8_t memo, std::int32_t row, bool blob);
  void CleanUp();
  void SplitArrays(TTPSFields& fields, std::uint16_t& fieldCount);
  void RebuildTableIndex();

  std::uint8_t header_[512] = {};
  TTPSRecords records_;
  TTPSRecords memos_;
  TTPSByteStore store_;
  TTPSMemoIndex memoIndex_;
  TTPSLazyMemoReader* lazyMemos_ = nullptr;  // set while ProduceLazyRows reports cells
  bool listsOpen_ = false;
  TTPSFileBytes source_;
  std::unordered_map<std::int32_t, std::int32_t> tableIndex_;  // during a load
  bool loading_ = false;
  std::int64_t invalidDateTimes_ = 0;
  // Cell text a load may still store in the grid: 1,024 bytes per byte of the source
  // plus 16 MiB, as for the text of a run. Records of a damaged file that share a
  // record number overwrite each other's cells, and each overwritten text stays in
  // the grid until it is cleared.
  std::uint64_t cellTextLeft_ = UINT64_MAX;
};
