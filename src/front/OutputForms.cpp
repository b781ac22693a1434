#include "front/OutputForms.h"

#include <stdexcept>

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
