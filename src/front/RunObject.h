// The run object: ties the TopSpeed reader and the text writer together for one run.
// It holds the reader, the current row and the filter text, stores the cells the
// reader reports, and drives the export.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cells/KvCells.h"
#include "front/OutputForms.h"
#include "front/OutputPaths.h"
#include "front/RowFormat.h"
#include "front/RunOptions.h"
#include "tps/KvTPS.h"

class TFileProgress;
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

  // The reader's OnCellValue handler: stores the cell in the sheet's container.
  // A cell that cannot be stored is dropped and the load goes on.
  void StoreCellValue(TCustomSpreadSheetFile* sender, std::int32_t sheetNo, std::int32_t row,
                      std::int32_t column, std::int32_t formatIndex, const Variant& value,
                      TAlignment alignment, TKvICellType cellType);

  // Writes sheet SheetIndex of the reader to a text file derived from Target (the
  // options' text layout, Filter as the row filter).
  void ExportTable(std::int32_t sheetIndex, const std::string& target, const std::string& delimiter,
                   const std::string& qualifier, const std::string& recordSeparator, bool fixed,
                   bool header, bool typeLine, bool skipGroups, const std::string& fields);
  // Writes sheet SheetIndex through Form: a file derived from options.Target for a row
  // format, or the sink. The table's warnings are added to the run's.
  void ExportTable(std::int32_t sheetIndex, const TRunOptions& options, TOutputForm& form);

  // Loads Source and lists its tables or exports one or all of them, with Filter and
  // Owner. Returns the exit code: 0 done, 2 when the source file or the named table is
  // missing.
  int Run(const std::string& source, const std::string& target, const std::string& delimiter,
          const std::string& qualifier, const std::string& recordSeparator, bool fixed, bool header,
          bool typeLine, bool skipGroups, const std::string& fields, const std::string& tableName,
          bool listOnly);
  // The same with every switch in one structure (its Filter and Owner replace this
  // object's).
  int Run(const TRunOptions& options);

  // Warnings the output forms counted during this run, printed at its end.
  TWarningTally Warnings;
  // Progress of a conversion on standard error (TFileProgress): rewritten in place on a
  // terminal, or plain lines when asked; set by the program's entry.
  bool ProgressOnTerminal = false;
  bool ProgressAsked = false;

  // Tables written and the rows written into them, over this object's runs.
  std::int64_t TablesWritten = 0;
  std::int64_t RowsWritten = 0;

  // The row test of the export loop: whether row Row of sheet SheetIndex is written.
  // It selects the row and evaluates the filter on it.
  bool RowPasses(std::int32_t sheetIndex, std::int32_t row);
  // Evaluates Filter on row Row of sheet SheetIndex, reading the row's cells from the
  // sheet, and converts the result to a truth value.
  bool FilterAccepts(std::int32_t sheetIndex, std::int32_t row);

 private:
  // Writes sheets First to Last - 1 into one SQL script at the options' Target
  // (SqlExport.cpp).
  void WriteSqlScript(std::int32_t first, std::int32_t last, const TRunOptions& options);
  // Prints the definition of sheet SheetIndex (SchemaText) on standard output.
  void WriteSchema(std::int32_t sheetIndex);
  // Warns about names of Fields that are no field of the given sheets, and sheets that
  // have none of them.
  void WarnAboutFieldList(const std::string& fields, const std::vector<std::int32_t>& sheets);

  int RunOnce(const TRunOptions& options);
  // Files this run has written, and the source file, so that no table overwrites
  // another table's output or the source.
  TOutputPaths outputPaths_;
  // Bytes of text the tables of this run may still take: 1,024 per byte of the source
  // plus 16 MiB. Real files need a few bytes of text per byte; a damaged definition
  // can ask for gigabytes of text per row.
  std::uint64_t textBudget_ = UINT64_MAX;
  // The filter, parsed once per run and bound to the table being exported.
  std::unique_ptr<TRowFilter> rowFilter_;
  // /DATES= and /TIMES= of the run, and the names among them that named a LONG field
  // of a table converted.
  std::string dateFields_, timeFields_;
  std::set<std::string> dayFieldsFound_;
  // The progress of the run on standard error, when it is shown.
  std::unique_ptr<TFileProgress> progress_;
  // Starts a table's progress; the count the row walk updates, or null.
  std::atomic<std::int64_t>* TableProgress(const std::string& name, std::int64_t rows);
};
