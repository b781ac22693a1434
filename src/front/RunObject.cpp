#include "front/RunObject.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "cells/KvCodePage.h"
#include "cells/KvExceptions.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "cells/KvText.h"
#include "front/BatchFiles.h"
#include "front/PathNames.h"
#include "front/Progress.h"
#include "front/RowFilter.h"
#include "front/RowWalk.h"
#include "front/RunChecks.h"
#include "front/RunOptions.h"
#include "front/SchemaText.h"
#include "front/ValueForms.h"
#include "front/VeltroMain.h"
#include "out/TypedSchema.h"
#include "tps/KvTPSSchema.h"

TA::TA() = default;
TA::~TA() = default;

void TA::StoreCellValue(TCustomSpreadSheetFile* /*sender*/, std::int32_t sheetNo, std::int32_t row,
                        std::int32_t column, std::int32_t formatIndex, const Variant& value,
                        TAlignment alignment, TKvICellType cellType) {
  try {
    Reader->Sheets().Items(sheetNo).Cells.SetCell(column, row, value, alignment, formatIndex,
                                                  cellType);
  } catch (const Exception&) {
    // A cell that cannot be stored is dropped; the load goes on. (Running out of
    // memory is not dropped: it would lose data silently.)
  }
}

bool TA::RowPasses(std::int32_t sheetIndex, std::int32_t row) {
  // Without a filter nothing looks at the current row, so every row passes as it is.
  if (Filter.empty()) return true;
  // The filter reads the row's cells from the sheet itself; they are not copied.
  if (Reader->KeepOpen) Reader->SelectRecord(row);
  return FilterAccepts(sheetIndex, row);
}

bool TA::FilterAccepts(std::int32_t sheetIndex, std::int32_t row) {
  if (!rowFilter_) rowFilter_ = std::make_unique<TRowFilter>(Filter);
  const TSpreadSheet& sheet = Reader->Sheets()[sheetIndex];
  if (rowFilter_->Table() != &sheet.Cells) {
    // Field i of the table is column i of its sheet.
    std::vector<std::string> names;
    std::vector<TRowFilter::TDayNumber> days;
    if (const TTPSClarionTable* table = Reader->TableOfSheet(sheetIndex))
      for (TTableColumn& c : TpsTableSchema(*table).Columns) {
        // LONG fields named by /DATES= or /TIMES= are dates and times to the filter.
        const bool isLong = c.Type == tpsLong && !c.IsArray();
        days.push_back(isLong && NameListHolds(dateFields_, c.Name) ? TRowFilter::TDayNumber::Date
                       : isLong && NameListHolds(timeFields_, c.Name)
                           ? TRowFilter::TDayNumber::Time
                           : TRowFilter::TDayNumber::None);
        names.push_back(std::move(c.Name));
      }
    rowFilter_->SetTable(&sheet.Cells, std::move(names));
    rowFilter_->OnNameIsNoField = [caption = sheet.Caption](const std::string& name,
                                                            const std::string& text) {
      WriteWarningLine("Warning: \"" + name + "\" in the filter is no field of table " + caption +
                       "; it stands for the text \"" + text + "\".");
    };
    rowFilter_->SetDayNumberFields(std::move(days));
  }
  return rowFilter_->Accepts(row);
}

namespace {

// The options of the positional ExportTable and Run: the text layout's switches.
TRunOptions TextLayoutOptions(const std::string& target, const std::string& delimiter,
                              const std::string& qualifier, const std::string& recordSeparator,
                              bool fixed, bool header, bool typeLine, bool skipGroups,
                              const std::string& fields) {
  TRunOptions o;
  o.Target = target;
  o.Delimiter = delimiter;
  o.Qualifier = qualifier;
  o.RecordSeparator = recordSeparator;
  o.Fixed = fixed;
  o.Header = header;
  o.TypeLine = typeLine;
  o.SkipGroups = skipGroups;
  o.Fields = fields;
  return o;
}

}  // namespace

void TA::ExportTable(std::int32_t sheetIndex, const std::string& target,
                     const std::string& delimiter, const std::string& qualifier,
                     const std::string& recordSeparator, bool fixed, bool header, bool typeLine,
                     bool skipGroups, const std::string& fields) {
  const TRunOptions o = TextLayoutOptions(target, delimiter, qualifier, recordSeparator, fixed,
                                          header, typeLine, skipGroups, fields);
  TOutputForm form = MakeOutputForm(o);
  ExportTable(sheetIndex, o, form);
}

void TA::ExportTable(std::int32_t sheetIndex, const TRunOptions& options, TOutputForm& form) {
  TSpreadSheet& sheet = Reader->Sheets().Items(sheetIndex);
  const TTPSClarionTable* table = Reader->TableOfSheet(sheetIndex);
  TTableSchema schema;
  if (table != nullptr) {
    schema = TpsTableSchema(*table);
  } else {
    schema.Name = sheet.Caption;
    schema.Number = sheetIndex;
  }
  // A typed output leaves every group out and writes an array (loaded split into its
  // elements) as one value: it reads the elements of every array chosen.
  const bool typed = options.Format != TOutputKind::Text;
  std::vector<std::int32_t> columns =
      SelectColumns(schema, options.SkipGroups && !typed, options.Fields);
  if (typed) columns = WithArrayElements(schema, columns);
  for (const TTableColumn& c : schema.Columns) {
    if (c.Type != tpsLong || c.IsArray()) continue;
    for (const std::string* list : {&options.DateFields, &options.TimeFields})
      if (NameListHolds(*list, c.Name)) dayFieldsFound_.insert(LowerAscii(c.Name));
  }
  TTableContext context;
  context.Schema = &schema;
  context.Columns = columns;
  context.Settings = &CurrentSettings();
  TRowTest rowTest;
  // The row test runs once per row, in order, on one thread: it counts the rows written.
  std::int64_t passed = 0;
  if (!Filter.empty())
    rowTest = [this, sheetIndex, &passed](std::int32_t row) {
      const bool pass = RowPasses(sheetIndex, row);
      passed += pass ? 1 : 0;
      return pass;
    };
  auto tally = [&] {
    ++TablesWritten;
    RowsWritten += rowTest ? passed : sheet.Cells.RowCount;
  };

  std::atomic<std::int64_t>* rowsDone = TableProgress(sheet.Caption, sheet.Cells.RowCount);
  if (form.Sink) {
    context.MaxBytes = textBudget_;
    FeedTableRows(*form.Sink, sheet.Cells, context, rowTest, rowsDone);
    form.Sink->TallyWarnings(Warnings);
    tally();
    return;
  }
  std::unique_ptr<TBufferedFileWriter> file;
  if (options.Target == kStandardOutputTarget) {
    std::fflush(stdout);  // messages printed before come first
    file = std::make_unique<TBufferedFileWriter>(TBufferedFileWriter::TStandardOutput{});
    context.Path = options.Target;
  } else {
    // Under /UTF8 the table's name in the file name is UTF-8 too, where file names are.
    std::string name = sheet.Caption;
    if (options.Utf8 && FileNamesAreUtf8()) {
      name.clear();
      std::int64_t invalid = 0;
      TKvCodePage::Get(options.CodePage).AppendUtf8(name, sheet.Caption, invalid);
    }
    context.Path = outputPaths_.Unique(OutputPathFor(options.Target, name), schema.Number);
    file = std::make_unique<TBufferedFileWriter>(context.Path);
    outputPaths_.Remember(context.Path);
  }
  TBufferedFileWriter& out = *file;
  TWalkLimits limits;
  limits.MaxBytes = textBudget_;
  limits.RowsDone = rowsDone;
  try {
    textBudget_ -= WriteTableRows(out, sheet.Cells, context, *form.Format, rowTest, limits);
  } catch (...) {
    // The bytes written so far stay in the file; the first failure is the one reported.
    try {
      out.Close();
    } catch (...) {
    }
    throw;
  }
  out.Close();
  form.Format->TallyWarnings(Warnings);
  tally();
}

std::atomic<std::int64_t>* TA::TableProgress(const std::string& name, std::int64_t rows) {
  if (!progress_) return nullptr;
  progress_->BeginTable(name, rows);
  return &progress_->RowsDone();
}

void TA::WriteSchema(std::int32_t sheetIndex) {
  const TSpreadSheet& sheet = Reader->Sheets()[sheetIndex];
  TTPSClarionTable plain;  // a sheet that is not a table has no fields or keys
  const TTPSClarionTable* table = Reader->TableOfSheet(sheetIndex);
  if (table == nullptr) {
    plain.TableName = sheet.Caption;
    table = &plain;
  }
  std::string text = SchemaText(*table, sheet.Cells.RowCount);
  text.resize(text.size() - 2);  // the console line adds its own CR LF
  WriteConsoleLine(text);
}

void TA::WarnAboutFieldList(const std::string& fields, const std::vector<std::int32_t>& sheets) {
  if (fields.empty()) return;
  std::vector<TTableFields> tables;
  for (const std::int32_t i : sheets) {
    TTableFields t{Reader->Sheets()[i].Caption, {}};
    if (const TTPSClarionTable* table = Reader->TableOfSheet(i))
      for (TTableColumn& c : TpsTableSchema(*table).Columns) t.Fields.push_back(std::move(c.Name));
    tables.push_back(std::move(t));
  }
  for (const std::string& w : FieldListWarnings(fields, tables)) WriteWarningLine(w);
}

int TA::Run(const std::string& source, const std::string& target, const std::string& delimiter,
            const std::string& qualifier, const std::string& recordSeparator, bool fixed,
            bool header, bool typeLine, bool skipGroups, const std::string& fields,
            const std::string& tableName, bool listOnly) {
  TRunOptions o = TextLayoutOptions(target, delimiter, qualifier, recordSeparator, fixed, header,
                                    typeLine, skipGroups, fields);
  o.Source = source;
  o.Filter = Filter;
  o.TableName = tableName;
  o.ListOnly = listOnly;
  o.Owner = Owner;
  return Run(o);
}

int TA::Run(const TRunOptions& o) {
  const int code = RunOnce(o);
  if (code == ecDone && !o.RunStatsPath.empty())
    WriteWholeFile(o.RunStatsPath,
                   std::to_string(TablesWritten) + " " + std::to_string(RowsWritten));
  return code;
}

int TA::RunOnce(const TRunOptions& o) {
  Filter = o.Filter;
  Owner = o.Owner;
  dateFields_ = o.DateFields;
  timeFields_ = o.TimeFields;
  dayFieldsFound_.clear();
  if (!FileExists(o.Source)) {
    WriteConsoleLine("TopSpeed TPS file not found.");
    return ecNotFound;
  }
  // The reader, the current row and the stream live for this run only; they are
  // freed on every way out, a failure included.
  struct Cleanup {
    TA& a;
    ~Cleanup() {
      a.progress_.reset();
      a.rowFilter_.reset();
      a.Reader.reset();
      a.CurrentRow.reset();
    }
  } cleanup{*this};

  CurrentRow = std::make_unique<TSpreadSheetRow>();
  Reader = std::make_unique<TClarionTPS>();
  TFileStream stream(o.Source);
  outputPaths_.Remember(o.Source);  // no table's text may replace the source file
  textBudget_ = std::uint64_t(stream.Size()) * 1024 + (std::uint64_t(16) << 20);
  // A conversion shows its progress when asked to; a list or a schema is quick.
  if ((ProgressOnTerminal || ProgressAsked) && !o.ListOnly && !o.SchemaOnly &&
      o.TableNamesPath.empty()) {
    progress_ = std::make_unique<TFileProgress>(ProgressOnTerminal, ProgressAsked,
                                                std::uint64_t(stream.Size()));
    Reader->LoadPosition = &progress_->LoadPosition();
  }

  stream.Seek(0);
  Reader->KeepOpen = true;
  Reader->FileName = o.Source;
  Reader->OnCellValue = [this](TCustomSpreadSheetFile* sender, std::int32_t sheetNo,
                               std::int32_t row, std::int32_t column, std::int32_t formatIndex,
                               const Variant& value, TAlignment alignment, TKvICellType cellType) {
    StoreCellValue(sender, sheetNo, row, column, formatIndex, value, alignment, cellType);
  };
  Reader->LoadRowStatutes = TKvIRowStatuses{rsNormal};
  Reader->TableNumber = 0;
  Reader->Owner = Owner;
  Reader->LazyRows = true;  // cells are decoded when written: memory stays near the file size
  // A list needs the tables' names, not their rows.
  Reader->ListOnly = o.ListOnly || !o.TableNamesPath.empty();
  // The typed outputs (the SQL script too) write an array's elements as values of their own.
  Reader->SplitArrayFields =
      o.Format != TOutputKind::Text && !o.ListOnly && !o.SchemaOnly && o.TableNamesPath.empty();
  Reader->Strict = o.Strict;
  Reader->DefinitionsFile = o.DefinitionsFile;
  Reader->LoadFromStream(stream);
  // Day numbers of /DATES= and /TIMES= are found impossible as they are written: the
  // load's count then joins theirs in one line at the end.
  const bool dayFields = !o.DateFields.empty() || !o.TimeFields.empty();
  if (const std::int64_t bad = Reader->InvalidDateTimeCount(); bad > 0) {
    if (dayFields && !o.ListOnly)
      Warnings.Add(TValueForms::kImpossibleDates, bad);
    else
      WriteWarningLine("Warning: " + std::to_string(bad) + " " + TValueForms::kImpossibleDates);
  }
  for (const std::string& line : Reader->Damage().Lines()) WriteWarningLine(line);
  // What was read is written; a loss makes the run end with its own code.
  const int done = Reader->Damage().Lossy() ? ecDamaged : ecDone;

  TSpreadSheets& sheets = Reader->Sheets();
  if (o.ListOnly) {
    WriteConsoleLine("TableNumber" + o.Delimiter + "TableName");
    for (std::int32_t i = 0; i < sheets.Count(); ++i) {
      const TTPSClarionTable* table = Reader->TableOfSheet(i);
      const std::int32_t number = table != nullptr ? table->TableNumber : 0;
      WriteConsoleLine(std::to_string(number) + o.Delimiter + sheets[i].Caption);
    }
    return done;
  }
  std::int32_t first = 0, last = sheets.Count();  // the count is taken once
  if (!o.TableName.empty()) {
    first = sheets.IndexOfName(o.TableName);
    if (first < 0) {
      WriteConsoleLine("Table name: " + o.TableName + " not found in TPS file.");
      return ecNotFound;
    }
    last = first + 1;
  }
  if (!o.TableNamesPath.empty()) {
    std::vector<std::pair<std::string, std::int32_t>> tables;
    for (std::int32_t i = first; i < last; ++i) {
      const TTPSClarionTable* table = Reader->TableOfSheet(i);
      tables.emplace_back(sheets[i].Caption, table != nullptr ? table->TableNumber : i);
    }
    WriteWholeFile(o.TableNamesPath, JoinNames(SqliteTableNames(o, tables)));
    return ecDone;
  }
  if (o.SchemaOnly) {
    for (std::int32_t i = first; i < last; ++i) {
      if (i > first) WriteConsoleLine("");
      WriteSchema(i);
    }
    return ecDone;
  }
  if (o.Format == TOutputKind::Sql && o.Target == kStandardOutputTarget) {
    // The script is renamed into place when it is whole; standard output cannot be.
    WriteConsoleLine("The SQL script is written to a file: give its path as the target.");
    return ecFailure;
  }
  if (o.Target == kStandardOutputTarget && last > 1 && o.TableName.empty()) {
    // Standard output holds one table's lines: several would run into each other.
    WriteConsoleLine("Standard output (target -) takes one table and this file has " +
                     std::to_string(last) + ": choose one with /TABLE=.");
    return ecFailure;
  }
  std::vector<std::int32_t> converted;
  for (std::int32_t i = first; i < last; ++i) converted.push_back(i);
  WarnAboutFieldList(o.Fields, converted);
  if (o.Format == TOutputKind::Sqlite && o.Target == kStandardOutputTarget)
    throw Exception("/FORMAT=SQLITE writes a database file: give its path as the target, not -");
  if (o.Format == TOutputKind::Sqlite && outputPaths_.AlreadyUsed(o.Target))
    throw EKvIFileException("The database " + o.Target + " is the source file");
  if (o.Format == TOutputKind::Sql) {
    WriteSqlScript(first, last, o);
  } else {
    TOutputForm form = MakeOutputForm(o);
    if (o.Format == TOutputKind::Sqlite && first == last)
      WriteWarningLine("Warning: the file holds no tables; the database was left without them.");
    for (std::int32_t i = first; i < last; ++i) ExportTable(i, o, form);
  }
  if (progress_) progress_->Finish();
  for (const auto& [text, count] : Warnings.Counts)
    WriteWarningLine("Warning: " + std::to_string(count) + " " + text);
  // Names of /DATES= and /TIMES= that named no LONG field of the tables converted.
  for (const auto& [option, list] :
       {std::pair{"/DATES=", &o.DateFields}, std::pair{"/TIMES=", &o.TimeFields}}) {
    std::string missing;
    for (std::size_t at = 0; at < list->size();) {
      const std::size_t end = list->find(';', at);
      const std::string name = list->substr(at, end - at);
      at = end + 1;
      if (name.empty() || dayFieldsFound_.count(name)) continue;
      missing += (missing.empty() ? "" : ";") + name;
    }
    if (!missing.empty())
      WriteWarningLine(std::string("Warning: ") + option +
                       " names no LONG field of the tables converted: " + missing + ".");
  }
  return done;
}
