// The choice of output form, made once per run from the options.
//
// How a new output form is added:
//  1. Write it in a file of its own under src/front/ as a TRowFormat (bytes into one file
//     per table: text, JSON Lines, an SQL script) or a TRowSink (rows into a database),
//     both in RowFormat.h. It reads the table through TTableContext (the table schema,
//     the selected columns, the settings, the output path) and each row through
//     TRowView; it never includes src/tps.
//  2. Give TRunOptions (RunOptions.h) the field its switch sets, with a default that
//     keeps every other command line's output as it is.
//  3. Return it from MakeOutputForm (OutputForms.cpp) when the options ask for it.
// Nothing else changes: the walk (RowWalk.h) brings the row filter, the two threads, the
// text limit and the order of the rows to every form, and the run object names the
// output files and reports the warnings the form counts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "front/RowFormat.h"
#include "front/RunOptions.h"

// Exactly one of the two is set.
struct TOutputForm {
  std::unique_ptr<TRowFormat> Format;
  std::unique_ptr<TRowSink> Sink;
};

// The output form the options ask for (the delimited or fixed-width text layout unless
// another is chosen).
TOutputForm MakeOutputForm(const TRunOptions& options);

// The names the SQLite output of a run with these options gives tables of these stored
// names and numbers, written in this order.
std::vector<std::string> SqliteTableNames(
    const TRunOptions& options, const std::vector<std::pair<std::string, std::int32_t>>& tables);
