#include <gtest/gtest.h>

#include "front/RunChecks.h"

TEST(RunChecks, FieldListWarnings) {
  const std::vector<TTableFields> tables = {{"CUSTOMER", {"ID", "NAME", "Last Name"}},
                                            {"ORDERS", {"NO", "ID"}}};
  struct Case {
    std::string fields;
    std::vector<std::string> warnings;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"id;", {}},
      {"name;no;", {}},
      {"last name;;no;", {}},
      {"name;",
       {"Warning: table ORDERS has none of the fields of /fields=; its lines hold no values."}},
      {"foo;id;", {"Warning: \"foo\" of /fields= is no field of the tables converted."}},
      {"name,no;",
       {"Warning: \"name,no\" of /fields= is no field of the tables converted (the names of "
        "/fields= are separated by \";\", not \",\").",
        "Warning: table CUSTOMER has none of the fields of /fields=; its lines hold no values.",
        "Warning: table ORDERS has none of the fields of /fields=; its lines hold no values."}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FieldListWarnings(c.fields, tables), c.warnings) << c.fields;
}
