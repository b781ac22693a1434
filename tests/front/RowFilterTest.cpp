// The row filter on a grid built in memory: names, field values, SUBSTITUTE and the
// truth rule of the result.
#include <gtest/gtest.h>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIPars.h"
#include "front/RowFilter.h"

namespace {

// Columns ID, Last Name, CODE, FLAG; row 1 has no CODE cell.
class RowFilterOnGrid : public ::testing::Test {
 protected:
  RowFilterOnGrid() : settings_(FormatSettings::Iso()) {
    Put(0, 0, Variant::Integer(7));
    Put(1, 0, Variant::String("Smith   "));
    Put(2, 0, Variant::String("A"));
    Put(3, 0, Variant::Boolean(true));
    Put(0, 1, Variant::Integer(8));
    Put(1, 1, Variant::String("Jones"));
    Put(3, 1, Variant::Boolean(false));
    Put(0, 2, Variant::Integer(9));
    Put(2, 2, Variant::String("B"));
    Put(3, 2, Variant::Boolean(false));
    filter_.SetTable(&cells_, {"ID", "Last Name", "CODE", "FLAG"});
  }
  void Put(std::int32_t col, std::int32_t row, const Variant& v) {
    cells_.SetCell(col, row, v, taLeftJustify, -1, ictUnknown);
  }
  Variant Eval(const std::string& text, std::int32_t row) {
    filter_.CurrentRow = row;
    Variant v;
    filter_.EvaluateFilter(text, v);
    return v;
  }
  std::string Text(const std::string& text, std::int32_t row) {
    const Variant v = Eval(text, row);
    EXPECT_TRUE(v.IsText()) << text << ": " << VarKindName(v.Kind());
    return v.AsString();
  }
  ScopedSettings settings_;
  TSpreadSheetCells cells_;
  TRowFilter filter_{"ID > 7"};
};

}  // namespace

TEST(RowFilter, StripEnclosing) {
  std::string s = "[Last Name]";
  EXPECT_TRUE(StripEnclosing('[', ']', s));
  EXPECT_EQ(s, "Last Name");
  s = "[open";
  EXPECT_FALSE(StripEnclosing('[', ']', s));
  EXPECT_EQ(s, "[open");
  s = "\"";  // one character equal to both ends
  EXPECT_TRUE(StripEnclosing('"', '"', s));
  EXPECT_EQ(s, "");
  s = "";
  EXPECT_FALSE(StripEnclosing('"', '"', s));
  s = "\"\"";
  EXPECT_TRUE(StripEnclosing('"', '"', s));
  EXPECT_EQ(s, "");
}

TEST(RowFilter, TruthOfTheResult) {
  ScopedSettings iso(FormatSettings::Iso());
  EXPECT_TRUE(FilterResultIsTrue(Variant::Boolean(true)));
  EXPECT_FALSE(FilterResultIsTrue(Variant::Boolean(false)));
  EXPECT_FALSE(FilterResultIsTrue(Variant()));
  EXPECT_TRUE(FilterResultIsTrue(Variant::Integer(-2)));
  EXPECT_FALSE(FilterResultIsTrue(Variant::SmallInt(0)));
  EXPECT_TRUE(FilterResultIsTrue(Variant::Double(0.5)));
  EXPECT_FALSE(FilterResultIsTrue(Variant::CurrencyScaled(0)));
  EXPECT_TRUE(FilterResultIsTrue(Variant::Date(1)));
  EXPECT_TRUE(FilterResultIsTrue(Variant::String("tRUe")));
  EXPECT_FALSE(FilterResultIsTrue(Variant::String("FALSE")));
  EXPECT_TRUE(FilterResultIsTrue(Variant::String("3")));
  EXPECT_FALSE(FilterResultIsTrue(Variant::String("0")));
  for (const Variant& bad : {Variant::Null(), Variant::String("yes"), Variant::String("")}) {
    try {
      FilterResultIsTrue(bad);
      ADD_FAILURE() << "no failure for " << VarKindName(bad.Kind());
    } catch (const EVariantTypeCastError& e) {
      EXPECT_STREQ(e.what(), "Invalid variant type conversion");
    }
  }
}

TEST_F(RowFilterOnGrid, FieldNamesInAnyCaseAndInBrackets) {
  EXPECT_EQ(Eval("id", 1).AsInt(), 8);
  EXPECT_DOUBLE_EQ(Eval("Id + 1", 2).AsDouble(), 10);
  EXPECT_EQ(Text("[last name]", 0), "Smith   ");
  EXPECT_EQ(Text("[LAST NAME]", 1), "Jones");
  // The engine removes one pair of brackets, the lookup another.
  EXPECT_EQ(Eval("[[id]]", 0).AsInt(), 7);
  // A Boolean cell reads as the text "1" or "0".
  EXPECT_EQ(Text("FLAG", 0), "1");
  EXPECT_EQ(Text("flag", 2), "0");
  // Names met in a different order from row to row.
  const std::string pick = "IIF(ID > 7, CODE, [Last Name])";
  EXPECT_EQ(Text(pick, 0), "Smith   ");
  EXPECT_EQ(Text(pick, 2), "B");
  EXPECT_TRUE(Eval("[Last Name]", 2).IsNull());
  EXPECT_EQ(Text(pick, 0), "Smith   ");
  // A missing cell is Null.
  EXPECT_TRUE(Eval("CODE", 1).IsNull());
  EXPECT_EQ(Text("CODE", 2), "B");
}

TEST_F(RowFilterOnGrid, QuotedAndUnknownNames) {
  EXPECT_EQ(Text("\"Smith\"", 0), "Smith");
  // A quoted field name is text, not the field.
  EXPECT_EQ(Text("\"ID\"", 0), "ID");
  EXPECT_EQ(Text("[\"Id\"]", 0), "Id");
  // Unknown names are their own text; single quotes stay.
  EXPECT_EQ(Text("Smith", 0), "Smith");
  EXPECT_EQ(Text("'Smith'", 0), "'Smith'");
  EXPECT_TRUE(FilterResultIsTrue(Eval("TRIM([Last Name]) = \"Smith\"", 0)));
  EXPECT_TRUE(FilterResultIsTrue(Eval("TRIM([Last Name]) = Smith", 0)));
  EXPECT_FALSE(FilterResultIsTrue(Eval("TRIM([Last Name]) = 'Smith'", 0)));
  // An empty bracketed name stands for nothing.
  EXPECT_TRUE(Eval("[]", 0).IsNull());
  // PI is still the predefined function; a field of that name would come first.
  EXPECT_DOUBLE_EQ(Eval("PI", 0).AsDouble(), 3.14);
  filter_.SetTable(&cells_, {"PI"});
  EXPECT_EQ(Eval("PI", 0).AsInt(), 7);
}

TEST_F(RowFilterOnGrid, SubstituteMapsThroughTwoLists) {
  const std::string sub = "SUBSTITUTE(CODE, \"A;B\", \"Alpha;Beta\")";
  EXPECT_EQ(Text(sub, 0), "Alpha");
  EXPECT_EQ(Text(sub, 2), "Beta");
  EXPECT_TRUE(Eval(sub, 1).IsNull());  // no CODE cell: no item matches
  EXPECT_TRUE(Eval("substitute(\"C\", \"A;B\", \"Alpha;Beta\")", 0).IsNull());
  // Items lose trailing blanks but keep leading ones; the match is case-sensitive.
  EXPECT_EQ(Text("SUBSTITUTE(\"B\", \"A ;B \", \"x;y\")", 0), "y");
  EXPECT_TRUE(Eval("SUBSTITUTE(\"B\", \"A; B\", \"x;y\")", 0).IsNull());
  EXPECT_TRUE(Eval("SUBSTITUTE(\"a\", \"A;B\", \"x;y\")", 0).IsNull());
  // An empty replacement is Null; a shorter To list gives Null for the missing items.
  EXPECT_TRUE(Eval("SUBSTITUTE(\"A\", \"A;B\", \";y\")", 0).IsNull());
  EXPECT_TRUE(Eval("SUBSTITUTE(\"B\", \"A;B\", \"x\")", 0).IsNull());
  // A field named SUBSTITUTE takes the name.
  filter_.SetTable(&cells_, {"X", "SUBSTITUTE"});
  EXPECT_EQ(Text("SUBSTITUTE", 1), "Jones");
}

TEST_F(RowFilterOnGrid, RowsAcceptedAndFailures) {
  EXPECT_FALSE(filter_.Accepts(0));
  EXPECT_TRUE(filter_.Accepts(1));
  EXPECT_TRUE(filter_.Accepts(2));

  // A Null result fails at the row that gives it, not before.
  TRowFilter byCode("CODE");
  byCode.SetTable(&cells_, {"ID", "Last Name", "CODE"});
  EXPECT_THROW(byCode.Accepts(0), EVariantTypeCastError);  // "A" is no truth value
  EXPECT_THROW(byCode.Accepts(1), EVariantTypeCastError);  // Null
  TRowFilter isNull("ISNULL(CODE)");
  isNull.SetTable(&cells_, {"ID", "Last Name", "CODE"});
  EXPECT_FALSE(isNull.Accepts(0));
  EXPECT_TRUE(isNull.Accepts(1));

  // A text that does not parse fails with the same message at every row.
  TRowFilter broken("(ID > 1");
  broken.SetTable(&cells_, {"ID"});
  std::string first;
  for (int row = 0; row < 3; ++row) {
    try {
      broken.Accepts(row);
      ADD_FAILURE() << "row " << row << " passed";
    } catch (const EKvIParseException& e) {
      if (row == 0) first = e.what();
      EXPECT_EQ(e.what(), first);
    }
  }
  EXPECT_FALSE(first.empty());
}

TEST_F(RowFilterOnGrid, NamesFollowTheBoundTable) {
  EXPECT_EQ(Text("CODE", 0), "A");
  TSpreadSheetCells other;
  other.SetCell(0, 0, Variant::String("other"), taLeftJustify, -1, ictUnknown);
  filter_.SetTable(&other, {"NAME"});
  // CODE is no field of this table any more: its own text.
  EXPECT_EQ(Text("CODE", 0), "CODE");
  EXPECT_EQ(Text("name", 0), "other");
  EXPECT_TRUE(Eval("NAME", 1).IsNull());  // beyond the last row
}

TEST_F(RowFilterOnGrid, NamesThatAreNoFieldAreReportedOncePerTable) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"TRIM([Last Name]) = \"Smith\"", ""},
      {"TRIM(LastNme) = \"Smith\"", "LastNme=LastNme;"},
      {"(CODE = Gold) OR (CODE = Gold)", "Gold=Gold;"},
      {"[Cde] = 'A'", "[Cde]=Cde;'A'='A';"},
      {"New York = ID", "NewYork=NewYork;"},
      {"(SUBSTITUTE(CODE, \"A;B\", \"X;Y\") = \"X\") OR True", ""},
      {"UPPER(code) = \"A\"", ""},
  };
  for (const auto& [text, expected] : cases) {
    std::string reported;
    TRowFilter f(text);
    f.OnNameIsNoField = [&](const std::string& name, const std::string& value) {
      reported += name + "=" + value + ";";
    };
    f.SetTable(&cells_, {"ID", "Last Name", "CODE"});
    for (std::int32_t row = 0; row < 3; ++row) {
      try {
        f.Accepts(row);
      } catch (const Exception&) {
      }
    }
    EXPECT_EQ(reported, expected) << text;
    // A table bound anew reports again.
    f.SetTable(&cells_, {"ID"});
    reported.clear();
    try {
      f.Accepts(0);
    } catch (const Exception&) {
    }
    EXPECT_EQ(reported.find("LastNme=") != std::string::npos,
              expected.find("LastNme=") != std::string::npos)
        << text;
  }
}

// Integer fields named by /DATES= and /TIMES= are dates and times to the filter: a
// day number of 0 or out of range is an empty text, as it is written.
TEST(RowFilter, DayNumberFieldsAreDates) {
  ScopedSettings iso(FormatSettings::Iso());
  TSpreadSheetCells cells;
  const std::int32_t days[] = {82034, 0, 99999999, 73967};
  const std::int32_t times[] = {4500001, 1, 0, 9000000};
  for (std::int32_t r = 0; r < 4; ++r) {
    cells.SetCell(0, r, Variant::Integer(days[r]), taRightJustify, -1, ictInteger);
    cells.SetCell(1, r, Variant::Integer(times[r]), taRightJustify, -1, ictInteger);
  }
  TRowFilter filter("YEAR(INVDATE) = 2025");
  filter.SetTable(&cells, {"INVDATE", "AT"});
  using K = TRowFilter::TDayNumber;
  filter.SetDayNumberFields({K::Date, K::Time});
  const struct {
    const char* expression;
    const char* texts[4];
  } cases[] = {
      {"INVDATE", {"2025-08-04", "", "", "2003-07-04"}},
      {"AT", {"12:30:00", "00:00:00", "", ""}},
  };
  for (const auto& c : cases)
    for (std::int32_t r = 0; r < 4; ++r) {
      filter.CurrentRow = r;
      Variant v;
      filter.EvaluateFilter(c.expression, v);
      EXPECT_EQ(TextOf(v), c.texts[r]) << c.expression << " row " << r;
    }
  EXPECT_TRUE(filter.Accepts(0));
  EXPECT_FALSE(filter.Accepts(3));
  // A new table forgets them: the integer again.
  filter.SetTable(&cells, {"INVDATE", "AT"});
  filter.CurrentRow = 0;
  Variant v;
  filter.EvaluateFilter("INVDATE", v);
  EXPECT_EQ(TextOf(v), "82034");
}
