// Checks of the options against the tables of the file, made once the file is loaded:
// mistakes that would otherwise give lines without values, silently.
#pragma once

#include <string>
#include <vector>

// A table to be converted: its name and its field names as the output writes them.
struct TTableFields {
  std::string Name;
  std::vector<std::string> Fields;
};

// The warnings about a /FIELDS= list (Fields as the options hold it: lower-cased names,
// each followed by ";"), one line each: a name that is a field of none of Tables (with
// a reminder that the separator is ";" when the list has commas and no ";"), and a table
// that has none of the names, so its lines hold no values. None for an empty list.
std::vector<std::string> FieldListWarnings(const std::string& fields,
                                           const std::vector<TTableFields>& tables);
