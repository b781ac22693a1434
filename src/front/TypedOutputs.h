// The typed output forms: JSON Lines (a row format, one file per table) and SQLite (a
// sink, every table into one database). Both write the values of the same typed columns
// (out/TypedSchema.h) the same way: numbers as numbers, decimals with their digits,
// dates and times in ISO forms, texts in UTF-8, arrays as arrays.
#pragma once

#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "front/BlobFiles.h"
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
  Files,   // a file of its own beside the target; the value is its relative path
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
  // The target (a JSON Lines file or the database): BLOB files go beside it.
  std::string Target;
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

// BLOB values as files (TTypedBlob::Files), named as the text forms name them; the value
// written is the file's relative path in UTF-8.
class TTypedBlobFiles {
 public:
  // RenamedUtf8: the table's name in the output when it is not its typed name.
  void Begin(const TTypedOptions& options, const TTableSchema& schema,
             std::string_view renamedUtf8 = {});
  // Writes Bytes, the BLOB of selected cell K of Row, into its file and sets Path to the
  // file's path; Invalid counts the bytes of the path that were no valid UTF-8.
  void Write(std::string& path, const TRowView& row, std::int32_t k, std::string_view bytes,
             std::int64_t& invalid);

 private:
  // Appends Name, bytes of the file's code page, as file names hold it.
  void AppendFileNamePart(std::string& out, std::string_view name);
  const TTableSchema* schema_ = nullptr;
  const TKvCodePage* codePage_ = nullptr;
  TBlobFiles files_;
  std::string name_, path_;
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
  // Appends the JSON value of column C of Row: an array's, or a single value's.
  void AppendColumn(std::string& out, const TTypedColumn& c, const TRowView& row);
  // AppendRow value by value: for rows that could not be read.
  bool AppendRowByValue(std::string& out, const TRowView& row, std::uint64_t limit);
  void AppendValue(std::string& out, const TTypedColumn& column, const TRowView& row,
                   std::int32_t cell);

  TTypedOptions options_;
  TTypedReader reader_;
  TTypedBlobFiles files_;
  TTypedTable table_;
  // The columns written, each with the text before its value: '{' or ',', then
  // "\"name\":".
  struct TKey {
    std::size_t Column;
    std::string Text;
    std::size_t At;  // where KeyBlocks_ holds the text
  };
  std::vector<TKey> keys_;
  // The keys' texts again, each padded to whole blocks of kKeyBlock bytes, to be copied a
  // block at a time (a copy of a length known only at run time costs a call).
  static constexpr std::size_t kKeyBlock = 16;
  std::vector<char> keyBlocks_;
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
  TTypedBlobFiles files_;
  std::string name_;
  TTypedTable table_;
  std::vector<std::size_t> written_;  // the typed columns that have a column in the table
  // Inserts one row, and InsertMany_ rows of a batch at once (fewer runs of a statement
  // for the same rows).
  std::unique_ptr<TSqliteStatement> insert_, insertMany_;
  std::size_t manyRows_ = 1;
  // Rows are inserted a batch at a time on a second thread while the next batch is read
  // on this one: the values of each row in the order of the written columns, texts and
  // bytes in one buffer.
  struct TBound {
    enum TKind : std::uint8_t { kNull, kInteger, kReal, kText, kBlob };
    TKind Kind = kNull;
    std::int64_t Int = 0;
    double Real = 0;
    std::size_t At = 0, Size = 0;  // the bytes of a text or BLOB in TBatch::Bytes
  };
  struct TBatch {
    std::vector<TBound> Values;
    std::string Bytes;
    std::size_t Rows = 0;
    void Clear();
    void Add(TBound::TKind kind, std::string_view bytes);
  };
  // A batch ends at the row that takes it to kBatchValues values or kBatchBytes bytes:
  // about five megabytes of values, however many columns the table has. Longer batches
  // mean fewer hand-overs between the threads, each a wait for the slower one.
  static constexpr std::size_t kBatchValues = std::size_t(1) << 17,
                               kBatchBytes = std::size_t(4) << 20, kManyRows = 32;
  // Hands the filled batch to the inserting thread, once the batch before is in.
  void Send();
  // Waits for the batch being inserted; throws the failure that ended it.
  void Wait();
  void Insert(const TBatch& batch);
  // Binds the values of rows [First, First + Count) of Batch to Statement and runs it.
  void InsertRows(TSqliteStatement& statement, const TBatch& batch, std::size_t first,
                  std::size_t count);
  // Each on cache lines of its own: this thread adds to one with every value while the
  // inserting thread reads the other.
  alignas(64) TBatch filling_;
  alignas(64) TBatch sent_;
  std::future<void> inserting_;
  std::string scratch_, element_;
  bool open_ = false;  // a table's transaction is open
  TSqliteTableNames names_{options_};
  std::int64_t unreadable_ = 0;
  // Bytes of values the table took so far, and the most it may take.
  std::uint64_t tableBytes_ = 0, maxBytes_ = UINT64_MAX;
};
