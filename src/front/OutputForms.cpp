#include "front/OutputForms.h"

#include "front/TextLayout.h"

TOutputForm MakeOutputForm(const TRunOptions& options) {
  TOutputForm form;
  form.Format = std::make_unique<TTextLayout>(options);
  return form;
}
