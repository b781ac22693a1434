// The TopSpeed reader: loads every table of a .tps file into the sheet list, one
// TTPSClarionTable per table, and reports every cell through OnCellValue.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cells/KvCells.h"
#include "tps/KvClarion.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSDamage.h"
#include "tps/KvTPSFields.h"
#include "tps/KvTPSRecords.h"
#include "tps/KvTPSValues.h"

struct TTPSLazyIndex;
struct TTPSLazyMemoReader;
class TTPSMemoPieces;

// A table definition read from another file.
struct TTPSForeignDefinition {
  std::int32_t TableNumber = 0;
  std::string Name;
  TTPSRecordTableDefinitionBody Definition;  // parsed
};
// The usable definitions of the file at path (decrypted with owner when it is
// encrypted with it). Fails when the file is missing or is no TopSpeed file.
std::vector<TTPSForeignDefinition> TpsReadDefinitions(const std::string& path,
                                                      const std::optional<std::string>& owner);

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
  // The first damage found ends the load with its description (Exception) instead of
  // being passed over and reported in Damage().
  bool Strict = false;
  // Another file of the same application (a backup, an empty copy): tables whose
  // definition is missing or damaged take it from there, matched by table number,
  // else by name.
  std::string DefinitionsFile;

  // A load that only names the tables (with rows on demand, on a fresh reader): the
  // records are looked at as they are cut (impossible dates are counted) and where
  // they lie is kept only for a table whose definition has not come yet; no table gets
  // rows, and where the memo texts lie is not kept. A file whose definition of a table
  // is replaced after its data is loaded once more with the records kept.
  bool ListOnly = false;
  // When set, how far the load has read the file, in bytes, stored page by page (for a
  // progress line read by another thread; the load itself is unchanged).
  std::atomic<std::uint64_t>* LoadPosition = nullptr;

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
  // What the last load passed over or read only in part.
  const TTPSDamage& Damage() const { return damage_; }

  // Position of the first table with this number; appends a new table when there is none.
  std::int32_t TableIndexOf(std::int32_t number);
  TTPSClarionTable& Table(std::int32_t index);
  // The table of sheet Index, or null when that sheet is not a table or does not exist.
  const TTPSClarionTable* TableOfSheet(std::int32_t index) const;
  // The table of TableNumber (created when missing).
  TTPSClarionTable& SelectedTable();
  // The selected table's field i, or null.
  const TTPSField* SelectedField(std::int32_t i);

  // The header of the last file and the record lists (kept between loads with KeepOpen).
  const std::uint8_t* Header() const { return header_; }
  const TTPSRecords& Records() const { return records_; }
  const TTPSRecords& Memos() const { return memos_; }

 private:
  // The stream's bytes, the one place where the file content is obtained: mapped, or
  // read whole into source_; decrypted as read when they are encrypted and an owner
  // password opens them.
  TTPSFileView SourceView(TStream& stream);
  std::span<const std::uint8_t> ReadWholeStream(TStream& stream);
  // Builds the tables from their definitions; dataTables: the tables with data records.
  void BuildTables(const std::vector<std::int32_t>& dataTables);
  void AddTable(std::int32_t number, TTPSRecordTableDefinitionBody def, std::string name);
  void ProduceRows();
  bool LazyLoadPossible() const;
  void ProduceLazyRows(TTPSLazyIndex& index, const TTPSFileView& view);
  void CountIncompleteMemos(const TTPSMemoPieces& memos, std::size_t from, std::size_t to,
                            std::int32_t number, const TTPSClarionTable& t,
                            std::int32_t plainFields, std::span<const TKvISourceRow> rows,
                            TTPSLazyMemoReader& reader,
                            std::vector<std::pair<std::size_t, std::size_t>>& blobs);
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
  TTPSDamage damage_;
  std::unordered_set<std::int32_t> usable_;  // tables with a usable definition
  // Cell text a load may still store in the grid: 1,024 bytes per byte of the source
  // plus 16 MiB, as for the text of a run. Records of a damaged file that share a
  // record number overwrite each other's cells, and each overwritten text stays in
  // the grid until it is cleared.
  std::uint64_t cellTextLeft_ = UINT64_MAX;
};
