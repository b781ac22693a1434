#include "front/RunChecks.h"

#include <algorithm>

#include "cells/KvText.h"

std::vector<std::string> FieldListWarnings(const std::string& fields,
                                           const std::vector<TTableFields>& tables) {
  std::vector<std::string> out;
  if (fields.empty()) return out;
  std::vector<std::string> names;
  for (std::size_t from = 0; from < fields.size();) {
    std::size_t end = fields.find(';', from);
    if (end == std::string::npos) end = fields.size();
    if (end > from) names.push_back(fields.substr(from, end - from));
    from = end + 1;
  }
  const auto isFieldOf = [](const TTableFields& t, const std::string& name) {
    return std::any_of(t.Fields.begin(), t.Fields.end(),
                       [&](const std::string& f) { return LowerAscii(f) == name; });
  };
  // The list as typed had a ";" after every name but the last one (the options add one).
  const bool commasOnly = names.size() == 1 && names[0].find(',') != std::string::npos;
  for (const std::string& name : names) {
    const bool known = std::any_of(tables.begin(), tables.end(),
                                   [&](const TTableFields& t) { return isFieldOf(t, name); });
    if (known) continue;
    std::string w = "Warning: \"" + name + "\" of /fields= is no field of the tables converted";
    if (commasOnly) w += " (the names of /fields= are separated by \";\", not \",\")";
    out.push_back(w + ".");
  }
  for (const TTableFields& t : tables) {
    const bool any = std::any_of(names.begin(), names.end(),
                                 [&](const std::string& name) { return isFieldOf(t, name); });
    if (!any)
      out.push_back("Warning: table " + t.Name +
                    " has none of the fields of /fields=; its lines hold no values.");
  }
  return out;
}
