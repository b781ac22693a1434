#include "front/TypedOutputs.h"

#include <charconv>
#include <cstring>
#include <new>
#include <system_error>

#include "cells/KvBinaryText.h"
#include "cells/KvCodePage.h"
#include "cells/KvExceptions.h"
#include "cells/KvText.h"
#include "front/PathNames.h"
#include "out/JsonText.h"

namespace {

const char kRenamedWarning[] =
    "column names repeated an earlier name of their table (ignoring letter case) and were "
    "given a number (_2, _3, ...).";
const char kUnreadableWarning[] = "values could not be read and were written as null.";
const char kInvalidUtf8Warning[] =
    "texts were not valid UTF-8; each invalid sequence was written as U+FFFD.";
const char kKeysLeftOutWarning[] =
    "keys name a column that is not written and were not made indexes.";

// The cell at position K of the row's selected cells; null when there is none or the row
// could not be read (counted in Unreadable).
const TKvICellView* CellOf(const TRowView& row, std::int32_t k, std::int64_t& unreadable) {
  if (k < 0) return nullptr;
  try {
    return row.Cell(std::size_t(k));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    ++unreadable;
    return nullptr;
  }
}

// CellOf, with the cells of a row that was read (nearly every row) taken at once.
inline const TKvICellView* CellOfRow(const TRowView& row, std::int32_t k,
                                     std::int64_t& unreadable) {
  if (k >= 0 && !row.Failed()) return row.Cell(std::size_t(k));
  return CellOf(row, k, unreadable);
}

// The number a DECIMAL(p,d) column's affinity makes of a decimal's digits ("-12.50"):
// an integer when the value is whole, else the double nearest to it (exactly rounded, so
// the same with every build of the library). False for a text of more digits than a
// double holds exactly: the library then converts the text itself.
bool DecimalNumber(std::string_view digits, std::int64_t& whole, double& real, bool& isWhole) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::int64_t n = 0, fraction = 0;
  int count = 0, decimals = -1;
  const bool negative = !digits.empty() && digits[0] == '-';
  for (std::size_t i = negative ? 1 : 0; i < digits.size(); ++i) {
    const char c = digits[i];
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9' || ++count > kSqliteExactDigits) return false;
    n = n * 10 + (c - '0');
    if (decimals >= 0) {
      ++decimals;
      fraction = fraction * 10 + (c - '0');
    }
  }
  if (count == 0) return false;
  if (decimals < 0) decimals = 0;
  if (negative) n = -n;
  isWhole = fraction == 0;
  whole = n / std::int64_t(kPow10[decimals]);
  // Both operands are exact (below 2^53 and 10^15), so one division rounds once.
  real = double(n) / kPow10[decimals];
  return true;
}

double SingleAsDouble(double value) {
  std::string text;
  AppendJsonNumber(text, float(value));
  double shortest = value;
  std::from_chars(text.data(), text.data() + text.size(), shortest);
  return shortest;  // a NaN or an infinity ("null") stays as it was
}

void AppendJson(std::string& out, const TTypedValue& v, TTypedBlob blob) {
  switch (v.Kind) {
    case TTypedValue::kNull:
      out += "null";
      break;
    case TTypedValue::kInteger:
      AppendJsonInteger(out, v.Int);
      break;
    case TTypedValue::kReal:
      AppendJsonNumber(out, v.Real);
      break;
    case TTypedValue::kSingle:
      AppendJsonNumber(out, float(v.Real));
      break;
    case TTypedValue::kDecimal:
      out += v.Text;  // the digits are a JSON number as they are
      break;
    case TTypedValue::kText:
      AppendJsonString(out, v.Text);
      break;
    case TTypedValue::kBytes:
      out.push_back('"');
      if (blob == TTypedBlob::Hex)
        AppendHex(out, v.Text);
      else
        AppendBase64(out, v.Text);
      out.push_back('"');
      break;
  }
}

// The value of View, selected cell K of Row, in column C. With Files (/BLOB=FILES) a
// BLOB goes into a file of its own and the value is the file's path, held in Scratch; a
// row without one has none (null).
TTypedValue ReadCell(TTypedReader& reader, TTypedBlobFiles* files, const TTypedColumn& c,
                     const TRowView& row, std::int32_t k, const TKvICellView* view,
                     std::string& scratch) {
  TTypedValue v = reader.Read(c, view, scratch);
  if (files == nullptr || v.Kind != TTypedValue::kBytes) return v;
  if (v.Text.empty()) return TTypedValue{};
  // The bytes are the cell's, not Scratch's: Scratch may take the path.
  std::int64_t invalid = 0;
  files->Write(scratch, row, k, v.Text, invalid);
  reader.AddInvalidUtf8(invalid);
  v.Kind = TTypedValue::kText;
  v.Text = scratch;
  return v;
}

// Appends the JSON value of selected cell K of Row in column C: straight from the cell
// where it can be, else through the typed value.
void AppendJsonValue(std::string& out, TTypedReader& reader, TTypedBlobFiles* files,
                     const TTypedColumn& c, const TRowView& row, std::int32_t k,
                     std::string& scratch, TTypedBlob blob, std::int64_t& unreadable) {
  const TKvICellView* view = CellOf(row, k, unreadable);
  if (reader.AppendJsonDirect(out, c, view)) return;
  AppendJson(out, ReadCell(reader, files, c, row, k, view, scratch), blob);
}

// Appends the JSON array of an array column's elements.
void AppendJsonArray(std::string& out, TTypedReader& reader, TTypedBlobFiles* files,
                     const TTypedColumn& c, const TRowView& row, std::string& scratch,
                     TTypedBlob blob, std::int64_t& unreadable) {
  out.push_back('[');
  for (std::size_t e = 0; e < c.Cells.size(); ++e) {
    if (e > 0) out.push_back(',');
    AppendJsonValue(out, reader, files, c, row, c.Cells[e], scratch, blob, unreadable);
  }
  out.push_back(']');
}

// Appends a name from the file's code page as UTF-8.
std::string Utf8Name(const std::string& name, std::uint32_t codePage, std::int64_t& invalid) {
  std::string out;
  TKvCodePage::Get(codePage).AppendUtf8(out, name, invalid);
  return out;
}

std::string Utf8Name(const std::string& name, std::uint32_t codePage, TTypedReader& reader) {
  std::int64_t invalid = 0;
  std::string out = Utf8Name(name, codePage, invalid);
  reader.AddInvalidUtf8(invalid);
  return out;
}

}  // namespace

std::string TypedTableName(const std::string& stored, const TTypedOptions& options) {
  return stored.empty() || stored == "UNNAMED" ? options.SourceStem : stored;
}

std::string TSqliteTableNames::Next(const std::string& stored, std::int32_t number) {
  // Invalid sequences of a name are not counted with the values'.
  std::int64_t invalid = 0;
  std::string name = Utf8Name(TypedTableName(stored, options_), options_.CodePage, invalid);
  // Two tables of one file under one name: the later one gets its table number.
  if (!taken_.insert(LowerAscii(name)).second) {
    name += "_" + std::to_string(number);
    taken_.insert(LowerAscii(name));
  }
  const auto renamed = options_.Renames.find(LowerAscii(name));
  return renamed != options_.Renames.end() ? renamed->second : name;
}

// ---- BLOB files ----

void TTypedBlobFiles::Begin(const TTypedOptions& options, const TTableSchema& schema,
                            std::string_view renamedUtf8) {
  schema_ = &schema;
  codePage_ = &TKvCodePage::Get(options.CodePage);
  files_ = TBlobFiles(options.Target);
  name_.clear();
  if (!renamedUtf8.empty())
    name_.append(renamedUtf8);
  else
    AppendFileNamePart(name_, TypedTableName(schema.Name, options));
  files_.BeginTable(name_);
}

void TTypedBlobFiles::AppendFileNamePart(std::string& out, std::string_view name) {
  std::int64_t invalid = 0;
  if (FileNamesAreUtf8())
    codePage_->AppendUtf8(out, name, invalid);
  else
    out.append(name);
}

void TTypedBlobFiles::Write(std::string& path, const TRowView& row, std::int32_t k,
                            std::string_view bytes, std::int64_t& invalid) {
  name_.clear();
  AppendFileNamePart(name_, schema_->Columns[std::size_t(row.Column(std::size_t(k)))].Name);
  path_.clear();
  files_.Write(path_, name_, row.RecordNumber, bytes);
  // The path as file names hold it: UTF-8 already, or the system's code page, taken to be
  // the file's.
  path.clear();
  (FileNamesAreUtf8() ? TKvCodePage::Get(65001) : *codePage_).AppendUtf8(path, path_, invalid);
}

// ---- JSON Lines ----

TJsonLinesFormat::TJsonLinesFormat(const TTypedOptions& options)
    : options_(options), reader_(TKvCodePage::Get(options.CodePage), options.Trim) {}

void TJsonLinesFormat::Begin(const TTableContext& table) {
  // The counts are the table's own.
  unreadable_ = 0;
  reader_.AddInvalidUtf8(-reader_.InvalidUtf8());
  table_ = BuildTypedTable(*table.Schema, table.Columns);
  if (options_.Blob == TTypedBlob::Files) files_.Begin(options_, *table.Schema);
  keys_.clear();
  for (std::size_t j = 0; j < table_.Columns.size(); ++j) {
    const TTypedColumn& c = table_.Columns[j];
    std::string key(1, keys_.empty() ? '{' : ',');
    AppendJsonString(key, Utf8Name(c.Name, options_.CodePage, reader_));
    key.push_back(':');
    if (c.Kind != TTypedKind::Blob || options_.Blob != TTypedBlob::Omit)
      keys_.push_back({j, std::move(key), 0});
  }
  keyBlocks_.clear();
  for (TKey& key : keys_) {
    key.At = keyBlocks_.size();
    keyBlocks_.insert(keyBlocks_.end(), key.Text.begin(), key.Text.end());
    keyBlocks_.resize(key.At + (key.Text.size() + kKeyBlock - 1) / kKeyBlock * kKeyBlock);
  }
}

void TJsonLinesFormat::AppendValue(std::string& out, const TTypedColumn& c, const TRowView& row,
                                   std::int32_t cell) {
  AppendJsonValue(out, reader_, options_.Blob == TTypedBlob::Files ? &files_ : nullptr, c, row,
                  cell, scratch_, options_.Blob, unreadable_);
}

void TJsonLinesFormat::AppendColumn(std::string& out, const TTypedColumn& c, const TRowView& row) {
  if (c.Array)
    AppendJsonArray(out, reader_, options_.Blob == TTypedBlob::Files ? &files_ : nullptr, c, row,
                    scratch_, options_.Blob, unreadable_);
  else
    AppendValue(out, c, row, c.Cells[0]);
}

bool TJsonLinesFormat::AppendRow(std::string& out, const TRowView& row, std::uint64_t limit) {
  if (row.Failed()) return AppendRowByValue(out, row, limit);
  // The row is put together in a buffer and appended at once; a value that does not go
  // into it straight from its cell is appended as AppendRowByValue appends it.
  char buffer[1024];
  char* t = buffer;
  char* const end = buffer + sizeof buffer;
  const auto flush = [&] {
    out.append(buffer, std::size_t(t - buffer));
    t = buffer;
  };
  if (keys_.empty()) *t++ = '{';
  for (const TKey& key : keys_) {
    const TTypedColumn& c = table_.Columns[key.Column];
    // Room for the key's blocks and the value.
    const std::size_t room = key.Text.size() + kKeyBlock + TTypedReader::kJsonDirectRoom;
    if (room > std::size_t(end - t)) {
      flush();
      if (out.size() > limit) return false;
    }
    if (room > std::size_t(end - t)) {
      out += key.Text;
    } else {
      for (std::size_t b = 0; b < key.Text.size(); b += kKeyBlock)
        std::memcpy(t + b, keyBlocks_.data() + key.At + b, kKeyBlock);
      t += key.Text.size();
    }
    const std::int32_t k = c.Cells[0];
    char* written =
        c.Array ? nullptr
                : reader_.WriteJsonDirect(t, end, c, k < 0 ? nullptr : row.Cell(std::size_t(k)));
    if (written) {
      t = written;
      continue;
    }
    flush();
    AppendColumn(out, c, row);
    if (out.size() > limit) return false;
  }
  if (end - t < 2) flush();
  *t++ = '}';
  *t++ = '\n';
  flush();
  return out.size() <= limit;
}

bool TJsonLinesFormat::AppendRowByValue(std::string& out, const TRowView& row,
                                        std::uint64_t limit) {
  if (keys_.empty()) out.push_back('{');
  for (const TKey& key : keys_) {
    const TTypedColumn& c = table_.Columns[key.Column];
    out += key.Text;
    AppendColumn(out, c, row);
    if (out.size() > limit) return false;
  }
  out += "}\n";
  return out.size() <= limit;
}

std::unique_ptr<TRowFormat> TJsonLinesFormat::CloneForThread() const {
  auto copy = std::make_unique<TJsonLinesFormat>(*this);
  copy->unreadable_ = 0;
  copy->reader_.AddInvalidUtf8(-copy->reader_.InvalidUtf8());
  return copy;
}

void TJsonLinesFormat::MergeCopy(TRowFormat& copy) {
  auto& other = static_cast<TJsonLinesFormat&>(copy);
  unreadable_ += other.unreadable_;
  reader_.AddInvalidUtf8(other.reader_.InvalidUtf8());
  other.unreadable_ = 0;
  other.reader_.AddInvalidUtf8(-other.reader_.InvalidUtf8());
}

void TJsonLinesFormat::TallyWarnings(TWarningTally& tally) const {
  tally.Add(kRenamedWarning, std::int64_t(table_.Renamed));
  tally.Add(kUnreadableWarning, unreadable_);
  tally.Add(kInvalidUtf8Warning, reader_.InvalidUtf8());
}

// ---- SQLite ----

TSqliteSink::TSqliteSink(const std::string& databasePath, const TTypedOptions& options)
    : options_(options),
      db_(databasePath),
      reader_(TKvCodePage::Get(options.CodePage), options.Trim) {
  // Runs writing into one database at once take turns table by table: each waits for
  // the table being written (BEGIN IMMEDIATE takes the write lock at once, so no two
  // readers wait for each other to upgrade).
  if (options_.BusyMilliseconds > 0)
    db_.Exec("PRAGMA busy_timeout = " + std::to_string(options_.BusyMilliseconds));
  if (db_.QueryTexts("PRAGMA page_count") == std::vector<std::string>{"0"}) {
    // A new (or empty) database gets the largest pages: a table of millions of rows then
    // takes a sixteenth of the page writes and reads of the default size, and its index
    // is sorted in longer runs. It is also written like the text outputs, without waiting
    // for the disk at each commit: it holds nothing but what this run puts in, and a
    // failed run still rolls back its unfinished table. A database that already holds
    // something keeps its page size and the library's full sync, since its other tables
    // are at stake.
    db_.Exec("PRAGMA page_size = 65536");
    db_.Exec("PRAGMA synchronous = OFF");
  }
  // Indexes are built after the rows, when the second core is free: the sort may use it.
  db_.Exec("PRAGMA threads = 2");
}

TSqliteSink::~TSqliteSink() {
  // Rows being inserted go in first (their failure no longer matters): the connection is
  // this thread's again.
  if (inserting_.valid()) inserting_.wait();
  insert_.reset();
  insertMany_.reset();
  if (open_) {
    try {
      db_.Exec("ROLLBACK");
    } catch (const std::exception&) {
      // The library rolls back what it did not commit when the database is closed.
    }
  }
}

void TSqliteSink::BeginTable(const TTableContext& table) {
  const TTableSchema& schema = *table.Schema;
  // The counts are the table's own.
  unreadable_ = 0;
  reader_.AddInvalidUtf8(-reader_.InvalidUtf8());
  name_ = names_.Next(schema.Name, schema.Number);
  table_ = BuildTypedTable(schema, table.Columns);
  if (options_.Blob == TTypedBlob::Files) {
    // A table written under another name (a second table of that name, or one renamed
    // for a database shared by several files) names its BLOB files the same way, so
    // that they do not overwrite the files of the table whose name it would have had.
    std::int64_t unused = 0;
    const bool renamed =
        name_ != Utf8Name(TypedTableName(schema.Name, options_), options_.CodePage, unused);
    files_.Begin(options_, schema, renamed ? std::string_view(name_) : std::string_view());
  }
  tableBytes_ = 0;
  maxBytes_ = table.MaxBytes;

  std::string create = "CREATE TABLE " + QuoteSqlName(name_) + " (";
  std::string insert = "INSERT INTO " + QuoteSqlName(name_) + " VALUES (";
  written_.clear();
  for (std::size_t j = 0; j < table_.Columns.size(); ++j) {
    const TTypedColumn& c = table_.Columns[j];
    std::string type = SqliteDeclaredType(c);
    if (c.Kind == TTypedKind::Blob && !c.Array) {
      if (options_.Blob == TTypedBlob::Omit) continue;
      if (options_.Blob != TTypedBlob::Bytes) type = "TEXT";
    }
    if (!written_.empty()) {
      create += ", ";
      insert += ", ";
    }
    written_.push_back(j);
    create += QuoteSqlName(Utf8Name(c.Name, options_.CodePage, reader_)) + " " + type;
    insert += "?";
  }
  create += ")";
  insert += ")";
  filling_.Clear();
  // Room for a whole batch at once (a row adds one value a column), so that the last row
  // of a batch does not double the vector.
  for (TBatch* b : {&filling_, &sent_}) b->Values.reserve(kBatchValues + written_.size());

  db_.Exec("BEGIN IMMEDIATE");
  open_ = true;
  db_.Exec("DROP TABLE IF EXISTS " + QuoteSqlName(name_));
  if (written_.empty()) return;  // nothing to hold: the table is left out
  db_.Exec(create);
  insert_ = std::make_unique<TSqliteStatement>(db_, insert);
  // Several rows to a statement, within the 999 parameters every library version takes.
  manyRows_ = std::min<std::size_t>(kManyRows, 999 / written_.size());
  insertMany_.reset();
  if (manyRows_ > 1) {
    const std::string row = insert.substr(insert.rfind(" VALUES (") + 8);
    for (std::size_t r = 1; r < manyRows_; ++r) insert += "," + row;
    insertMany_ = std::make_unique<TSqliteStatement>(db_, insert);
  }
}

void TSqliteSink::TBatch::Clear() {
  Values.clear();
  Bytes.clear();
  Rows = 0;
}

void TSqliteSink::TBatch::Add(TBound::TKind kind, std::string_view bytes) {
  TBound b;
  b.Kind = kind;
  b.At = Bytes.size();
  b.Size = bytes.size();
  Bytes.append(bytes);
  Values.push_back(b);
}

void TSqliteSink::Row(const TRowView& row) {
  if (!insert_) return;
  std::uint64_t bytes = 0;
  TTypedBlobFiles* files = options_.Blob == TTypedBlob::Files ? &files_ : nullptr;
  TBatch& batch = filling_;
  for (std::size_t w = 0; w < written_.size(); ++w) {
    const TTypedColumn& c = table_.Columns[written_[w]];
    if (c.Array) {
      scratch_.clear();
      AppendJsonArray(scratch_, reader_, files, c, row, element_, options_.Blob, unreadable_);
      batch.Add(TBound::kText, scratch_);
      bytes += scratch_.size();
      continue;
    }
    const TKvICellView* view = CellOfRow(row, c.Cells[0], unreadable_);
    if (TTypedReader::IsText(c.Kind)) {
      // Straight into the batch.
      const std::size_t at = batch.Bytes.size();
      TBound text;
      if (reader_.AppendText(batch.Bytes, c, view)) {
        text.Kind = TBound::kText;
        text.At = at;
        text.Size = batch.Bytes.size() - at;
      }
      bytes += 8 + text.Size;
      batch.Values.push_back(text);
      continue;
    }
    const TTypedValue v = ReadCell(reader_, files, c, row, c.Cells[0], view, scratch_);
    bytes += 8 + v.Text.size();
    TBound bound;
    switch (v.Kind) {
      case TTypedValue::kNull:
        break;
      case TTypedValue::kInteger:
        bound.Kind = TBound::kInteger;
        bound.Int = v.Int;
        break;
      case TTypedValue::kReal:
        bound.Kind = TBound::kReal;
        bound.Real = v.Real;
        break;
      case TTypedValue::kSingle:
        // The double nearest to the float's shortest text: an SREAL holding -2.7 gives
        // -2.7, as in JSON, not the float's binary value -2.7000000476837158.
        bound.Kind = TBound::kReal;
        bound.Real = SingleAsDouble(v.Real);
        break;
      case TTypedValue::kDecimal: {
        // A short decimal's column holds numbers; a long one's text, exact.
        bool isWhole;
        if (c.Digits <= kSqliteExactDigits &&
            DecimalNumber(v.Text, bound.Int, bound.Real, isWhole)) {
          bound.Kind = isWhole ? TBound::kInteger : TBound::kReal;
          break;
        }
        batch.Add(TBound::kText, v.Text);
        continue;
      }
      case TTypedValue::kText:
        batch.Add(TBound::kText, v.Text);
        continue;
      case TTypedValue::kBytes:
        if (options_.Blob == TTypedBlob::Bytes) {
          batch.Add(TBound::kBlob, v.Text);
        } else {
          scratch_.clear();
          options_.Blob == TTypedBlob::Hex ? AppendHex(scratch_, v.Text)
                                           : AppendBase64(scratch_, v.Text);
          batch.Add(TBound::kText, scratch_);
        }
        continue;
    }
    batch.Values.push_back(bound);
  }
  // A damaged file may ask for more than the disk holds: the table fails (and is rolled
  // back) once its values pass the run's limit.
  tableBytes_ += bytes;
  if (tableBytes_ > maxBytes_) throw Exception(kTextLimitMessage);
  ++batch.Rows;
  if (batch.Values.size() >= kBatchValues || batch.Bytes.size() >= kBatchBytes) Send();
}

void TSqliteSink::Send() {
  Wait();
  std::swap(filling_, sent_);
  filling_.Clear();
  try {
    inserting_ = std::async(std::launch::async, [this] { Insert(sent_); });
  } catch (const std::system_error&) {
    Insert(sent_);  // no thread to be had: the rows go in on this one
  }
}

void TSqliteSink::Wait() {
  if (inserting_.valid()) inserting_.get();  // the inserting's failure, if any, is thrown here
}

void TSqliteSink::Insert(const TBatch& batch) {
  std::size_t r = 0;
  if (insertMany_)
    for (; batch.Rows - r >= manyRows_; r += manyRows_)
      InsertRows(*insertMany_, batch, r, manyRows_);
  for (; r < batch.Rows; ++r) InsertRows(*insert_, batch, r, 1);
}

void TSqliteSink::InsertRows(TSqliteStatement& statement, const TBatch& batch, std::size_t first,
                             std::size_t count) {
  const std::size_t columns = written_.size();
  for (std::size_t r = 0; r < count; ++r) {
    for (std::size_t w = 0; w < columns; ++w) {
      const TBound& v = batch.Values[(first + r) * columns + w];
      const int parameter = int(r * columns + w + 1);
      const std::string_view bytes(batch.Bytes.data() + v.At, v.Size);
      switch (v.Kind) {
        case TBound::kNull:
          statement.BindNull(parameter);
          break;
        case TBound::kInteger:
          statement.BindInteger(parameter, v.Int);
          break;
        case TBound::kReal:
          statement.BindReal(parameter, v.Real);
          break;
        case TBound::kText:
          statement.BindText(parameter, bytes);
          break;
        case TBound::kBlob:
          statement.BindBlob(parameter, bytes);
          break;
      }
    }
  }
  statement.Run();
}

void TSqliteSink::EndTable() {
  if (filling_.Rows > 0) Send();
  Wait();
  insert_.reset();
  insertMany_.reset();
  if (!written_.empty()) {
    // Indexes share one name space with tables, views and triggers.
    std::set<std::string> taken;
    for (const std::string& n : db_.QueryTexts("SELECT name FROM sqlite_master"))
      taken.insert(LowerAscii(n));
    for (const TTypedIndex& index : table_.Indexes) {
      const std::string indexName =
          IndexName(name_, Utf8Name(index.KeyName, options_.CodePage, reader_), taken);
      std::string sql =
          "CREATE INDEX " + QuoteSqlName(indexName) + " ON " + QuoteSqlName(name_) + " (";
      for (std::size_t p = 0; p < index.Parts.size(); ++p) {
        if (p > 0) sql += ", ";
        sql += QuoteSqlName(
            Utf8Name(table_.Columns[index.Parts[p].first].Name, options_.CodePage, reader_));
        if (index.Parts[p].second) sql += " DESC";
      }
      db_.Exec(sql + ")");
    }
  }
  db_.Exec("COMMIT");
  open_ = false;
}

void TSqliteSink::TallyWarnings(TWarningTally& tally) const {
  tally.Add(kRenamedWarning, std::int64_t(table_.Renamed));
  tally.Add(kKeysLeftOutWarning, std::int64_t(table_.KeysLeftOut));
  tally.Add(kUnreadableWarning, unreadable_);
  tally.Add(kInvalidUtf8Warning, reader_.InvalidUtf8());
}
