#include "front/OutputForms.h"

#include <stdexcept>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"
#include "front/BatchFiles.h"
#include "front/PathNames.h"
#include "front/TextLayout.h"
#include "front/TypedOutputs.h"

namespace {

// What the typed outputs take from the options: texts are UTF-8 from the file's code
// page, STRING padding is trimmed unless /TRIM=0 keeps it, BLOBs are bytes (base64 in
// JSON) unless /BLOB= asks for hex, base64 text, files beside the target or nothing.
TTypedOptions TypedOptionsOf(const TRunOptions& o) {
  TTypedOptions t;
  t.CodePage = o.CodePage;
  t.Trim = o.TrimGiven ? o.Trim : true;
  switch (o.Blob) {
    case TBlobForm::Base64:
      t.Blob = TTypedBlob::Base64;
      break;
    case TBlobForm::Hex:
      t.Blob = TTypedBlob::Hex;
      break;
    case TBlobForm::Omit:
      t.Blob = TTypedBlob::Omit;
      break;
    case TBlobForm::Files:
      t.Blob = TTypedBlob::Files;
      break;
    default:
      t.Blob = TTypedBlob::Bytes;
      break;
  }
  const std::string name = o.Source.substr(FileNamePartStart(o.Source));
  t.SourceStem = name.substr(0, name.rfind('.'));
  t.Target = o.Target;
  if (!o.TableRenamesPath.empty()) {
    std::vector<std::string> pairs;
    if (!SplitNames(ReadWholeFile(o.TableRenamesPath), pairs) || pairs.size() % 2 != 0)
      throw EFOpenError("Cannot read the table names of " + o.TableRenamesPath);
    for (std::size_t i = 0; i < pairs.size(); i += 2)
      t.Renames[LowerAscii(pairs[i])] = pairs[i + 1];
    // Other runs write into the database at once: a table may wait for a big table of
    // another file.
    t.BusyMilliseconds = 60 * 60 * 1000;
  }
  return t;
}

}  // namespace

TOutputForm MakeOutputForm(const TRunOptions& options) {
  TOutputForm form;
  switch (options.Format) {
    case TOutputKind::Text:
      form.Format = std::make_unique<TTextLayout>(options);
      break;
    case TOutputKind::JsonLines:
      form.Format = std::make_unique<TJsonLinesFormat>(TypedOptionsOf(options));
      break;
    case TOutputKind::Sqlite:
      form.Sink = std::make_unique<TSqliteSink>(options.Target, TypedOptionsOf(options));
      break;
    case TOutputKind::Sql:
      // One script holds every table (the run object writes it through the row walk with
      // the SQL row format); it is no form of one table.
      throw std::logic_error("the SQL script is written by the run object");
  }
  return form;
}

std::vector<std::string> SqliteTableNames(
    const TRunOptions& options, const std::vector<std::pair<std::string, std::int32_t>>& tables) {
  const TTypedOptions typed = TypedOptionsOf(options);
  TSqliteTableNames names(typed);
  std::vector<std::string> out;
  for (const auto& [stored, number] : tables) out.push_back(names.Next(stored, number));
  return out;
}
