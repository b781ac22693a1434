// The run object: ties the TopSpeed reader and the text writer together for one run.
// It holds the reader, the current row and the filter text, stores the cells the
// reader reports, and drives the export.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cells/KvCells.h"
#include "cells/KvCodePage.h"
#include "tps/KvTPS.h"

class TRowFilter;

class TA {
 public:
  TA();
  ~TA();
  TA(const TA&) = delete;
  TA& operator=(const TA&) = delete;

  // Created and freed by Run.
  std::unique_ptr<TClarionTPS> Reader;
  std::unique_ptr<TSpreadSheetRow> CurrentRow;
  // The filter expression; empty means no filter.
  std::string Filter;
  // The owner password handed to the reader (unset: none given).
  std::optional<std::string> Owner;
  // Run prints the definitions of the tables (all, or the named one) instead of
  // converting them.
  bool SchemaOnly = false;
  // Run writes one SQL script to the target instead of text files.
  bool SqlScript = false;
  // The script removes the blanks that pad STRING values.
  bool TrimBlanks = true;
  // The code page of the file's texts (the script's texts are UTF-8).
  std::uint32_t CodePage = kDefaultCodePage;

  // The reader's OnCellValue handler: stores the cell in the sheet's container.
  // A cell that cannot be stored is dropped and the load goes on.
  void StoreCellValue(TCustomSpreadSheetFile* sender, std::int32_t sheetNo, std::int32_t row,
                      std::int32_t column, std::int32_t formatIndex, const Variant& value,
                      TAlignment alignment, TKvICellType cellType);

  // Writes sheet SheetIndex of the reader to a text file derived from Target.
  void ExportTable(std::int32_t sheetIndex, const std::string& target, const std::string& delimiter,
                   const std::string& qualifier, const std::string& recordSeparator, bool fixed,
                   bool header, bool typeLine, bool skipGroups, const std::string& fields);

  // Loads Source and lists its tables or exports one or all of them. Returns the exit
  // code: 0 done, 2 when the source file or the named table is missing.
  int Run(const std::string& source, const std::string& target, const std::string& delimiter,
          const std::string& qualifier, const std::string& recordSeparator, bool fixed, bool header,
          bool typeLine, bool skipGroups, const std::string& fields, const std::string& tableName,
          bool listOnly);

  // The row test of the export loop: whether row Row of sheet SheetIndex is written.
  // It selects the row and evaluates the filter on it.
  bool RowPasses(std::int32_t sheetIndex, std::int32_t row);
  // Evaluates Filter on row Row of sheet SheetIndex, reading the row's cells from the
  // sheet, and converts the result to a truth value.
  bool FilterAccepts(std::int32_t sheetIndex, std::int32_t row);

 private:
  // Writes the sheets SheetIndexes into one SQL script at Target (SqlExport.cpp).
  void WriteSqlScript(const std::vector<std::int32_t>& sheetIndexes, const std::string& target,
                      const std::string& fields);
  // Prints the definition of sheet SheetIndex (SchemaText) on standard output.
  void WriteSchema(std::int32_t sheetIndex);
  // The path a table's text goes to: the derived path, made unique within this run.
  std::string UniqueOutputPath(const std::string& derived, std::int32_t tableNumber) const;
  bool AlreadyUsed(const std::string& path) const;
  void Remember(const std::string& path);

  // Files this run has written, and the source file, by path and by identity, so
  // that no table overwrites another table's output or the source.
  std::set<std::string> usedPaths_;
  // Bytes of text the tables of this run may still take: 1,024 per byte of the source
  // plus 16 MiB. Real files need a few bytes of text per byte; a damaged definition
  // can ask for gigabytes of text per row.
  std::uint64_t textBudget_ = UINT64_MAX;
  std::set<std::pair<dev_t, ino_t>> usedFiles_;
  // The filter, parsed once per run and bound to the table being exported.
  std::unique_ptr<TRowFilter> rowFilter_;
};
