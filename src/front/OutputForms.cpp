#include "front/OutputForms.h"

#include "front/PathNames.h"
#include "front/TextLayout.h"
#include "front/TypedOutputs.h"

namespace {

// What the typed outputs take from the options. Their texts are always UTF-8 from the
// default code page, with the padding of STRING fields trimmed, and BLOBs as bytes.
TTypedOptions TypedOptionsOf(const TRunOptions& o) {
  TTypedOptions t;
  const std::string name = o.Source.substr(FileNamePartStart(o.Source));
  t.SourceStem = name.substr(0, name.rfind('.'));
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
  }
  return form;
}
