// The row filter: evaluates the filter text of "/WHERE=" or "/FILTER=" for each row of
// the exported table. Names in the filter that the expression engine does not know
// are answered here: field names of the table (any letter case, also in brackets)
// give the row's values, double-quoted texts give the text, and SUBSTITUTE maps a
// value through two ";"-separated lists.
//
// The text is parsed once and its tree reused for every row; a text that does not
// parse fails at the first row tested, as the same error at every row would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cells/KvCells.h"
#include "expr/KvIPars.h"

// If S begins with Open and ends with Close, removes both and returns true (a
// one-character S equal to both becomes empty); otherwise leaves S and returns false.
bool StripEnclosing(char open, char close, std::string& s);

// The truth value of a filter result: a Boolean as it is; Empty false; a number true
// unless zero; a text reading True or False (any case) or a number. Null and any other
// text fail with "Invalid variant type conversion" (EVariantTypeCastError).
bool FilterResultIsTrue(const Variant& result);

class TRowFilter {
 public:
  explicit TRowFilter(std::string text);
  TRowFilter(const TRowFilter&) = delete;
  TRowFilter& operator=(const TRowFilter&) = delete;

  // The table whose rows are tested: its cells and its field names, field i being
  // column i. Names seen so far are resolved anew for the new table.
  void SetTable(const TSpreadSheetCells* cells, std::vector<std::string> fieldNames);
  const TSpreadSheetCells* Table() const { return cells_; }
  // Integer fields that hold Clarion day numbers (/DATES=) or times (/TIMES=), by field:
  // the filter sees them as dates and times, as they are written (an empty text for 0
  // or an impossible value). Reset by SetTable.
  enum class TDayNumber : std::uint8_t { None, Date, Time };
  void SetDayNumberFields(std::vector<TDayNumber> kinds) { dayNumbers_ = std::move(kinds); }

  // Evaluates the filter for row Row of the table and converts the result to a truth
  // value. Failures of the expression and of the conversion propagate.
  bool Accepts(std::int32_t row);

  // Evaluates Text for the current row.
  void EvaluateFilter(const std::string& text, Variant& result);
  // The expression component's OnEvaluate handler.
  void LookupName(TKvIParser* sender, const std::string& eval, const TEvalArgs& args, int argCount,
                  bool isChild, Variant& value, bool& done);
  // The value of field I in the current row: a copy of the cell's value, a Boolean as
  // the text "1" or "0"; Null when the row has no cell there.
  void FieldValue(std::int32_t i, Variant& value) const;

  std::int32_t CurrentRow = 0;
  // Called once per table for each name of the filter that is no field of the table
  // and no function: Name as written and the text it stands for. A misspelt field
  // name compares with its own spelling, which the user should hear about.
  std::function<void(const std::string& name, const std::string& text)> OnNameIsNoField;

 private:
  // What a name written in the filter stands for. It depends only on the name and the
  // table, so it is worked out once per name and table.
  enum class TNameKind : std::uint8_t { nkQuoted, nkField, nkSubstitute, nkOther };
  struct TNameEntry {
    std::string Eval;         // the name as written
    std::string Provisional;  // the text the engine offered for it
    TNameKind Kind = TNameKind::nkOther;
    std::int32_t Field = -1;  // nkField
    Variant Value;            // the name's own value (unused for nkField)
  };
  TNameEntry Resolve(const std::string& eval, const Variant& provisional) const;
  void Substitute(const TEvalArgs& args, Variant& value) const;
  // Gives a name its value (and ends the lookup for a field).
  void Apply(const TNameEntry& entry, const TEvalArgs& args, int argCount, Variant& value,
             bool& done) const;

  TKvIParser parser_;
  std::string text_;
  const TSpreadSheetCells* cells_ = nullptr;
  std::vector<std::string> upperNames_;  // field names, upper-cased
  std::vector<TDayNumber> dayNumbers_;   // by field; empty when none
  std::vector<TNameEntry> names_;
  std::size_t nextName_ = 0;  // where the search for the next name starts
};
