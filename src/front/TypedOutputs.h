// The typed output forms: JSON Lines (a row format, one file per table) and SQLite (a
// sink, every table into one database). Both write the values of the same typed columns
// (out/TypedSchema.h) the same way: numbers as numbers, decimals with their digits,
// dates and times in ISO forms, texts in UTF-8, arrays as arrays.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "front/RowFormat.h"
#include "out/SqliteDb.h"
#include "out/TypedSchema.h"
#include "out/TypedValues.h"

// How a BLOB's bytes are written.
enum class TTypedBlob : std::uint8_t {
  Bytes,   // SQLite: a BLOB column; JSON Lines: base64
  Base64,  // a base64 string
  Hex,     // a string of two upper-case hex digits a byte
  Omit,    // the column is left out
};

struct TTypedOptions {
  std::uint32_t CodePage = 1252;  // of the file's texts; the outputs are UTF-8
  bool Trim = true;               // STRING values lose their trailing blanks
  TTypedBlob Blob = TTypedBlob::Bytes;
  // The name of an unnamed table: the source file's name without its extension.
  std::string SourceStem;
  // SQLite: tables written under another name, by the name they would have (lower case).
  std::map<std::string, std::string> Renames;
  // SQLite: how long a table waits while another run writes into the same database
  // (0: it fails at once).
  int BusyMilliseconds = 0;
};

// The name a typed output gives a table: its stored name, or the source's stem for an
// unnamed one.
std::string TypedTableName(const std::string& stored, const TTypedOptions& options);

// The names the SQLite output gives the tables of a run, one table after another: the
// typed name in UTF-8; when an earlier table took it (ignoring letter case), "_" and the
// table's number after it; then the new name Renames gives it.
class TSqliteTableNames {
 public:
  explicit TSqliteTableNames(const TTypedOptions& options) : options_(options) {}
  std::string Next(const std::string& stored, std::int32_t number);

 private:
  const TTypedOptions& options_;
  std::set<std::string> taken_;  // lower-cased
};

class TJsonLinesFormat final : public TRowFormat {
 public:
  explicit TJsonLinesFormat(const TTypedOptions& options);
  void Begin(const TTableContext& table) override;
  void Prologue(std::vector<std::string>& /*pieces*/) override {}
  bool AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) override;
  void Epilogue(std::vector<std::string>& /*pieces*/) override {}
  std::unique_ptr<TRowFormat> CloneForThread() const override;
  void MergeCopy(TRowFormat& copy) override;
  void TallyWarnings(TWarningTally& tally) const override;

 private:
  void AppendValue(std::string& out, const TTypedColumn& column, const TRowView& row,
                   std::int32_t cell);

  TTypedOptions options_;
  TTypedReader reader_;
  TTypedTable table_;
  std::vector<std::string> keys_;  // "\"name\":" of each column, after the comma
  std::string scratch_;
  std::int64_t unreadable_ = 0;
};

class TSqliteSink final : public TRowSink {
 public:
  // Opens (or creates) the database at once, so that a file without tables still gives
  // one.
  TSqliteSink(const std::string& databasePath, const TTypedOptions& options);
  // A table not ended is rolled back: the database keeps no half-written table.
  ~TSqliteSink() override;
  void BeginTable(const TTableContext& table) override;
  void Row(const TRowView& row) override;
  void EndTable() override;
  void TallyWarnings(TWarningTally& tally) const override;

 private:
  TTypedOptions options_;
  TSqliteDatabase db_;
  TTypedReader reader_;
  std::string name_;
  TTypedTable table_;
  std::vector<std::size_t> written_;  // the typed columns that have a column in the table
  std::unique_ptr<TSqliteStatement> insert_;
  std::vector<std::string> scratch_;  // one per written column: bound until the row is in
  std::string element_;
  bool open_ = false;  // a table's transaction is open
  TSqliteTableNames names_{options_};
  std::int64_t unreadable_ = 0;
  // Bytes of values the table took so far, and the most it may take.
  std::uint64_t tableBytes_ = 0, maxBytes_ = UINT64_MAX;
};
