// The run object's SQL script: every chosen table of the loaded file into one script,
// written under a temporary name beside the target and renamed to it at the end.
#include <algorithm>
#include <optional>
#include <set>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "front/PathNames.h"
#include "front/RowWalk.h"
#include "front/RunObject.h"
#include "front/SqlNames.h"
#include "front/SqlScript.h"
#include "front/VeltroMain.h"
#include "tps/KvTPSSchema.h"

namespace {

// The position of the field a key component names (its definition index), or -1.
std::int32_t ComponentPosition(const TTPSClarionTable& t, std::size_t count, std::uint16_t field) {
  for (std::size_t j = 0; j < count; ++j)
    if (!t.Fields[j].IsMemo() && t.Fields[j].Index == field) return std::int32_t(j);
  return -1;
}

// The script's table of a loaded table whose arrays were split into element columns
// (an array field is a group of length 0 followed by one field per element).
// Fields chosen by /FIELDS= are the columns SelectColumns gives for the table's schema.
TSqlTable SqlTableOf(const TTPSClarionTable& t, const TTableSchema& schema, const std::string& name,
                     const std::string& fields, bool trim, std::set<std::string>& takenNames,
                     std::size_t& renamed) {
  TSqlTable out;
  out.Name = name;
  const std::size_t count = std::min<std::size_t>(t.FieldCount, t.Fields.size());
  std::vector<bool> chosen(count, false);
  for (const std::int32_t k : SelectColumns(schema, false, fields))
    if (std::size_t(k) < count) chosen[std::size_t(k)] = true;
  std::vector<std::int32_t> columnOfField(count, -1);
  for (std::size_t j = 0; j < count; ++j) {
    const TTPSField& f = t.Fields[j];
    const bool split =
        f.Type == tpsGroup && f.Length == 0 && f.Elements > 1 && j + f.Elements < count;
    TSqlColumn c;
    c.Name = f.Name;
    if (split) {
      const TTPSField& e = t.Fields[j + 1];
      c.Type = e.Type;
      c.Size = e.Length;
      c.Decimals = e.Decimals;
      c.Array = true;
      for (std::uint16_t k = 1; k <= f.Elements; ++k) c.Cells.push_back(std::int32_t(j + k));
      const std::size_t group = j;
      j += f.Elements;
      if (!HasSqlColumn(c.Type) || !chosen[group]) continue;
      columnOfField[group] = std::int32_t(out.Columns.size());
    } else {
      if (!HasSqlColumn(f.Type) || !chosen[j]) continue;
      // An array left whole (too many columns to split) is its text.
      c.Type = f.IsArray() ? std::uint8_t(tpsVarChar) : f.Type;
      c.Size = f.Length;
      c.Decimals = f.Decimals;
      c.Cells.push_back(std::int32_t(j));
      columnOfField[j] = std::int32_t(out.Columns.size());
    }
    c.TrimBlanks = trim && c.Type == tpsChar;
    out.Columns.push_back(std::move(c));
  }
  std::vector<std::string> names;
  for (const TSqlColumn& c : out.Columns) names.push_back(c.Name);
  renamed += MakeNamesUnique(names, kPgNameBytes);
  for (std::size_t i = 0; i < names.size(); ++i) out.Columns[i].Name = names[i];

  for (const TTPSKey& k : t.Keys) {
    TSqlIndex index;
    bool whole = !k.Components.empty();
    for (const TTPSKeyItem& item : k.Components) {
      const std::int32_t at = ComponentPosition(t, count, item.FieldNumber);
      if (at < 0 || columnOfField[std::size_t(at)] < 0) {
        whole = false;  // a key over a column not written makes no index
        break;
      }
      index.Parts.push_back({std::size_t(columnOfField[std::size_t(at)]), (item.Flags & 1) != 0});
    }
    if (!whole) continue;
    index.Name = IndexName(out.Name, k.Name, takenNames, kPgNameBytes);
    out.Indexes.push_back(std::move(index));
  }
  return out;
}

}  // namespace

void TA::WriteSqlScript(std::int32_t first, std::int32_t last, const TRunOptions& o) {
  const std::string& target = o.Target;
  // Table names first: tables and indexes share one namespace in the database.
  std::set<std::string> taken;
  std::vector<std::string> tableNames;
  for (std::int32_t i = first; i < last; ++i)
    tableNames.push_back(TakeUniqueName(
        DatabaseTableName(Reader->Sheets()[i].Caption, Reader->FileName), taken, kPgNameBytes));

  // The script is renamed over the target at the end: never over the source.
  if (outputPaths_.AlreadyUsed(target))
    throw EFCreateError("Cannot create file " + target + ": it is the source");
  // A failed run leaves no script that could pass for a whole one.
  std::string temporary = target + ".partial";
  for (int k = 2; FileExists(temporary); ++k) temporary = target + ".partial" + std::to_string(k);
  std::optional<TBufferedFileWriter> opened;
  try {
    opened.emplace(temporary);
  } catch (const EFCreateError&) {
    throw EFCreateError("Cannot create file " + target);
  }
  std::size_t renamed = 0;
  try {
    TBufferedFileWriter& out = *opened;
    std::uint64_t written = 0;
    auto write = [&](const std::string& text) {
      written += text.size();
      if (written > textBudget_) throw Exception(kTextLimitMessage);
      out.Write(text);
    };
    write(SqlScriptHead());
    const TKvCodePage& codePage = TKvCodePage::Get(o.CodePage);
    // The script trims the padding of STRING values unless /TRIM=0 says otherwise.
    const bool trim = o.TrimGiven ? o.Trim : true;
    const FormatSettings iso = FormatSettings::Iso();
    for (std::int32_t i = first; i < last; ++i) {
      TSpreadSheet& sheet = Reader->Sheets().Items(i);
      const TTPSClarionTable* t = Reader->TableOfSheet(i);
      const TTPSClarionTable none;
      TTableSchema schema;
      if (t != nullptr) schema = TpsTableSchema(*t);
      TSqlTable table =
          SqlTableOf(t != nullptr ? *t : none, schema, tableNames[std::size_t(i - first)], o.Fields,
                     trim, taken, renamed);
      // The walk reads the cells the columns are made of, in the table's order; the
      // columns then name them by their position among these.
      std::vector<std::int32_t> cells;
      for (const TSqlColumn& c : table.Columns)
        cells.insert(cells.end(), c.Cells.begin(), c.Cells.end());
      std::sort(cells.begin(), cells.end());
      cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
      for (TSqlColumn& c : table.Columns)
        for (std::int32_t& k : c.Cells)
          k = std::int32_t(std::lower_bound(cells.begin(), cells.end(), k) - cells.begin());

      schema.Name = table.Name;
      TTableContext context;
      context.Schema = &schema;
      context.Columns = cells;
      context.Settings = &iso;
      context.Path = target;
      TRowTest rowTest;
      if (!Filter.empty()) rowTest = [this, i](std::int32_t row) { return RowPasses(i, row); };
      TSqlRowFormat format(table, codePage);
      TWalkLimits limits;
      limits.MaxBytes = textBudget_ - std::min(textBudget_, written);
      limits.RowsDone = TableProgress(sheet.Caption, sheet.Cells.RowCount);
      written += WriteTableRows(out, sheet.Cells, context, format, rowTest, limits);
      format.TallyWarnings(Warnings);
    }
    write(SqlScriptTail());
    out.Close();
    textBudget_ -= std::min(textBudget_, written);
  } catch (...) {
    try {
      opened->Close();
    } catch (...) {
    }
    RemoveFileQuietly(temporary);
    throw;
  }
  if (!ReplaceFileWith(temporary, target)) {
    RemoveFileQuietly(temporary);
    throw EFCreateError("Cannot create file " + target);
  }
  outputPaths_.Remember(target);
  if (renamed > 0)
    Warnings.Add("column names repeated in their table were given a suffix (_2, _3, ...).",
                 std::int64_t(renamed));
}
