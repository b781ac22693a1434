#include "front/RunObject.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"
#include "front/RowFilter.h"
#include "front/TextExport.h"
#include "front/VeltroMain.h"

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
    if (const auto* table = dynamic_cast<const TTPSClarionTable*>(&sheet)) {
      const std::size_t count = std::min<std::size_t>(table->FieldCount, table->Fields.size());
      for (std::size_t i = 0; i < count; ++i) names.push_back(table->Fields[i].Name);
    }
    rowFilter_->SetTable(&sheet.Cells, std::move(names));
  }
  return rowFilter_->Accepts(row);
}

namespace {

// The form under which paths are compared. Windows file names ignore letter case and
// take either slash.
std::string PathKey(const std::string& path) {
#ifdef _WIN32
  std::string key(path);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return key;
#else
  return path;
#endif
}

}  // namespace

bool TA::AlreadyUsed(const std::string& path) const {
  if (usedPaths_.count(PathKey(path)) != 0) return true;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_ino != 0 &&
         usedFiles_.count({st.st_dev, st.st_ino}) != 0;
}

void TA::Remember(const std::string& path) {
  usedPaths_.insert(PathKey(path));
  struct stat st;
  // File systems without inode numbers report 0; such files are known by path only.
  if (stat(path.c_str(), &st) == 0 && st.st_ino != 0) usedFiles_.insert({st.st_dev, st.st_ino});
}

std::string TA::UniqueOutputPath(const std::string& derived, std::int32_t tableNumber) const {
  if (!AlreadyUsed(derived)) return derived;
  const std::string number = std::to_string(tableNumber);
  std::string path = InsertBeforeExtension(derived, number);
  for (int k = 2; AlreadyUsed(path); ++k)
    path = InsertBeforeExtension(derived, number + "-" + std::to_string(k));
  return path;
}

int TA::Run(const std::string& source, const std::string& target, const std::string& delimiter,
            const std::string& qualifier, const std::string& recordSeparator, bool fixed,
            bool header, bool typeLine, bool skipGroups, const std::string& fields,
            const std::string& tableName, bool listOnly) {
  if (!FileExists(source)) {
    WriteConsoleLine("TopSpeed TPS file not found.");
    return ecNotFound;
  }
  // The reader, the current row and the stream live for this run only; they are
  // freed on every way out, a failure included.
  struct Cleanup {
    TA& a;
    ~Cleanup() {
      a.rowFilter_.reset();
      a.Reader.reset();
      a.CurrentRow.reset();
    }
  } cleanup{*this};

  CurrentRow = std::make_unique<TSpreadSheetRow>();
  Reader = std::make_unique<TClarionTPS>();
  TFileStream stream(source);
  Remember(source);  // no table's text may replace the source file
  textBudget_ = std::uint64_t(stream.Size()) * 1024 + (std::uint64_t(16) << 20);

  stream.Seek(0);
  Reader->KeepOpen = true;
  Reader->FileName = source;
  Reader->OnCellValue = [this](TCustomSpreadSheetFile* sender, std::int32_t sheetNo,
                               std::int32_t row, std::int32_t column, std::int32_t formatIndex,
                               const Variant& value, TAlignment alignment, TKvICellType cellType) {
    StoreCellValue(sender, sheetNo, row, column, formatIndex, value, alignment, cellType);
  };
  Reader->LoadRowStatutes = TKvIRowStatuses{rsNormal};
  Reader->TableNumber = 0;
  Reader->Owner = Owner;
  Reader->LazyRows = true;      // cells are decoded when written: memory stays near the file size
  Reader->ListOnly = listOnly;  // a list needs the tables' names, not their rows
  Reader->LoadFromStream(stream);
  if (const std::int64_t bad = Reader->InvalidDateTimeCount(); bad > 0)
    WriteWarningLine("Warning: " + std::to_string(bad) +
                     " impossible date or time values were written as empty text.");

  TSpreadSheets& sheets = Reader->Sheets();
  if (listOnly) {
    WriteConsoleLine("TableNumber" + delimiter + "TableName");
    for (std::int32_t i = 0; i < sheets.Count(); ++i) {
      const auto* table = dynamic_cast<const TTPSClarionTable*>(&sheets[i]);
      const std::int32_t number = table != nullptr ? table->TableNumber : 0;
      WriteConsoleLine(std::to_string(number) + delimiter + sheets[i].Caption);
    }
    return ecDone;
  }
  if (!tableName.empty()) {
    const std::int32_t index = sheets.IndexOfName(tableName);
    if (index < 0) {
      WriteConsoleLine("Table name: " + tableName + " not found in TPS file.");
      return ecNotFound;
    }
    ExportTable(index, target, delimiter, qualifier, recordSeparator, fixed, header, typeLine,
                skipGroups, fields);
    return ecDone;
  }
  const std::int32_t count = sheets.Count();
  for (std::int32_t i = 0; i < count; ++i)
    ExportTable(i, target, delimiter, qualifier, recordSeparator, fixed, header, typeLine,
                skipGroups, fields);
  return ecDone;
}
