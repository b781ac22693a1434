// Parser component: name lookup order, user-defined functions, parse-once reuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "expr/KvIPars.h"

namespace {

struct HandlerCall {
  std::string eval;
  std::string valueIn;
  bool isChild;
  int argCount;
  TEvalArgs args;
};

class ParserTest : public ::testing::Test {
 protected:
  ScopedSettings settings_{FormatSettings::Iso()};
  TKvIParser parser_;
  std::vector<HandlerCall> calls_;
  int added_ = 0;

  ~ParserTest() override {
    // Remove the functions this test added; PI stays.
    while (added_-- > 0) GlobalFunctions().Delete(GlobalFunctions().Count() - 1);
  }

  void AddFunction(const std::string& definition) {
    GlobalFunctions().Add(definition);
    ++added_;
  }

  // A handler that records its calls, and answers with `answer` when `done` is set.
  void Handle(bool done, Variant answer = Variant()) {
    parser_.OnEvaluate = [this, done, answer](TKvIParser* sender, const std::string& eval,
                                              const TEvalArgs& args, int argCount, bool isChild,
                                              Variant& value, bool& doneOut) {
      EXPECT_EQ(sender, &parser_);
      EXPECT_FALSE(doneOut);
      calls_.push_back(HandlerCall{eval, TextOf(value), isChild, argCount, args});
      if (done) {
        value = answer;
        doneOut = true;
      }
    };
  }

  Variant Calc(const std::string& text) {
    parser_.Text = text;
    return parser_.Calculate();
  }

  template <typename E = Exception>
  std::string ErrorOf(const std::string& text) {
    try {
      Calc(text);
    } catch (const E& e) {
      return e.Message();
    }
    return "<no exception>";
  }

  static std::string DefinitionError(const std::string& definition) {
    TKvIParserFunction f;
    try {
      f.SetDefinition(definition);
    } catch (const EKvIParseException& e) {
      return e.Message();
    }
    return "<accepted>";
  }
  static std::string ParamsOf(const std::string& definition) {
    TKvIParserFunction f;
    f.SetDefinition(definition);
    std::string s = f.FunctionName + ":";
    for (const auto& p : f.ParamNames) s += " " + p;
    EXPECT_EQ(f.ParamCount, int(f.ParamNames.size()));
    return s;
  }
};

TEST_F(ParserTest, PredefinedPi) {
  ASSERT_GE(GlobalFunctions().Count(), 1);
  const TKvIParserFunction& pi = GlobalFunctions().Item(0);
  EXPECT_EQ(pi.Definition, "PI=3.14");
  EXPECT_EQ(pi.FunctionName, "PI");
  EXPECT_EQ(pi.Body, "3.14");
  EXPECT_EQ(pi.Description, "PI value");
  EXPECT_EQ(pi.Category, "Constants");
  EXPECT_EQ(pi.Group, "<All>");
  EXPECT_EQ(GlobalFunctions().Find("pi"), &pi);
  EXPECT_EQ(GlobalFunctions().Find("[PI]"), nullptr);
}

TEST_F(ParserTest, DefaultModeHandlerFirst) {
  Handle(false);
  Variant v = Calc("PI");
  EXPECT_EQ(v.Kind(), VarKind::Double);
  EXPECT_DOUBLE_EQ(v.AsDouble(), 3.14);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].eval, "PI");
  EXPECT_EQ(calls_[0].valueIn, "PI");
  EXPECT_FALSE(calls_[0].isChild);
  EXPECT_EQ(calls_[0].argCount, kMaxCallArgs);
  EXPECT_DOUBLE_EQ(Calc("pi").AsDouble(), 3.14);
  EXPECT_EQ(TextOf(Calc("[PI]")), "PI");  // not found: the handler's value stays

  Handle(true, Variant::Integer(7));
  calls_.clear();
  v = Calc("PI");
  EXPECT_EQ(v.Kind(), VarKind::Integer);
  EXPECT_EQ(v.AsInt(), 7);
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(ParserTest, ProcessBeforeEventMode) {
  parser_.ProcessBeforeEvent = true;
  Handle(false);
  EXPECT_DOUBLE_EQ(Calc("PI").AsDouble(), 3.14);
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(TextOf(Calc("[X]")), "[X]");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].valueIn, "[X]");  // Value arrives holding Eval
  // Done does not stop anything afterwards, and the value is the handler's
  Handle(true, Variant::Integer(3));
  EXPECT_EQ(Calc("X").AsInt(), 3);
}

TEST_F(ParserTest, NoHandler) {
  EXPECT_EQ(TextOf(Calc("FOO")), "FOO");
  EXPECT_EQ(TextOf(Calc("[FOO]")), "[FOO]");
  EXPECT_EQ(TextOf(Calc("'abc'")), "'abc'");
  EXPECT_EQ(TextOf(Calc("\"abc\"")), "\"abc\"");
}

TEST_F(ParserTest, HandlerArguments) {
  Handle(false);
  Calc("X + 1");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_TRUE(calls_[0].isChild);
  calls_.clear();
  Calc("MYFUNC(1, 2)");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].eval, "MYFUNC");
  EXPECT_FALSE(calls_[0].isChild);
  EXPECT_EQ(calls_[0].argCount, 11);
  EXPECT_DOUBLE_EQ(calls_[0].args[0].AsDouble(), 1.0);
  EXPECT_DOUBLE_EQ(calls_[0].args[1].AsDouble(), 2.0);
  for (int i = 2; i < 11; ++i) EXPECT_TRUE(calls_[0].args[i].IsEmpty());
}

TEST_F(ParserTest, FunctionHeaders) {
  EXPECT_EQ(ParamsOf("PI=3.14"), "PI:");
  EXPECT_EQ(ParamsOf("AREA(W, H)=W*H"), "AREA: W H");
  EXPECT_EQ(ParamsOf("F(X)=IIF(X>0, X, 0-X)"), "F: X");
  EXPECT_EQ(ParamsOf("F(A B)=1"), "F: AB");
  EXPECT_EQ(ParamsOf("F(A,B,)=1"), "F: A B");
  EXPECT_EQ(ParamsOf("F(A 1)=1"), "F: A1");
  EXPECT_EQ(ParamsOf("F(A B,C D)=1"), "F: AB CD");
  EXPECT_EQ(ParamsOf("F(A)(B)=1"), "F: A");
  EXPECT_EQ(ParamsOf("F+A,B=1"), "F: A B");  // without parentheses
  EXPECT_EQ(ParamsOf("F(1, A)=1"), "F: A");  // tokens of other kinds are skipped
  EXPECT_EQ(ParamsOf("F(X Y"), ":");         // no "=": an inert entry

  EXPECT_EQ(DefinitionError("F(X Y=1"), "Function header \"F(X Y\" is not valid.");
  EXPECT_EQ(DefinitionError("1X=2"), "Function \"1X=2\" is not valid.");
  EXPECT_EQ(DefinitionError("F)=1"), "Function header \"F)\" is not valid.");
  EXPECT_EQ(DefinitionError("F A)=1"), "Function header \"F A)\" is not valid.");
  EXPECT_EQ(DefinitionError("F(A+B)=1"),
            "Function parse error: delimitor \",\" expected between arguments.");
  EXPECT_EQ(DefinitionError("=5"), "Function \"=5\" is not valid.");
  EXPECT_EQ(DefinitionError("F(A,B,C,D,E,G,H,I,J,K,L)=1"), "<accepted>");
  EXPECT_EQ(DefinitionError("F(A,B,C,D,E,G,H,I,J,K,L,M)=1"),
            "Function \"F(A,B,C,D,E,G,H,I,J,K,L,M)=1\" has more than 11 parameters.");
}

TEST_F(ParserTest, RejectedDefinitionIsNotAdded) {
  const int before = GlobalFunctions().Count();
  EXPECT_THROW(GlobalFunctions().Add("F)=1"), EKvIParseException);
  EXPECT_EQ(GlobalFunctions().Count(), before);
  AddFunction("F(X Y");
  EXPECT_EQ(GlobalFunctions().Count(), before + 1);
  EXPECT_EQ(GlobalFunctions().Find(""), nullptr);
}

TEST_F(ParserTest, UserDefinedFunctions) {
  AddFunction("SQ(X)=X*X");
  AddFunction("AREA(W, H)=W*H");
  AddFunction("ECHO(A, B)=B");
  EXPECT_DOUBLE_EQ(Calc("SQ(3)").AsDouble(), 9.0);
  EXPECT_DOUBLE_EQ(Calc("sq(SQ(2))").AsDouble(), 16.0);  // F(F(1))
  EXPECT_DOUBLE_EQ(Calc("AREA(2, 3) + 1").AsDouble(), 7.0);
  EXPECT_EQ(ErrorOf<EKvIParseException>("SQ()"), "Compile error: syntax fault.");
  // a bare name evaluates the body with the parameter Empty: 0 * 0
  EXPECT_DOUBLE_EQ(Calc("SQ").AsDouble(), 0.0);
  // missing arguments are Empty, extra ones ignored
  EXPECT_TRUE(Calc("ECHO(1)").IsEmpty());
  EXPECT_DOUBLE_EQ(Calc("ECHO(1, 2, 3)").AsDouble(), 2.0);
  // ArgValues keeps the last call's arguments
  EXPECT_DOUBLE_EQ(GlobalFunctions().Find("ECHO")->ArgValues[2].AsDouble(), 3.0);
}

TEST_F(ParserTest, FunctionBodiesSeeOnlyTheirParameters) {
  AddFunction("G(X)=X + Y + PI + [X]");
  Handle(false);
  EXPECT_EQ(TextOf(Calc("G('a')")), "'a'YPIX");
  // only the argument and G itself reached the handler, none of the body's names
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0].eval, "'a'");
  EXPECT_EQ(calls_[1].eval, "G");
  AddFunction("R(N)=R(N)");
  EXPECT_EQ(TextOf(Calc("R(1)")), "R");  // the body cannot recurse
  // a call of a built-in in the body works
  AddFunction("U(S)=UPPER(S)");
  parser_.OnEvaluate = [](TKvIParser*, const std::string& eval, const TEvalArgs&, int, bool,
                          Variant& value, bool& done) {
    if (eval == "X") {
      value = Variant::String("abc");
      done = true;
    }
  };
  EXPECT_EQ(TextOf(Calc("U(X)")), "ABC");
}

TEST_F(ParserTest, ParseOnceEvaluateMany) {
  Handle(true, Variant::Integer(0));
  int n = 0;
  parser_.OnEvaluate = [&n](TKvIParser*, const std::string&, const TEvalArgs&, int, bool,
                            Variant& value, bool& done) {
    value = Variant::Integer(++n);
    done = true;
  };
  parser_.Text = "X * 2";
  EXPECT_DOUBLE_EQ(parser_.Calculate().AsDouble(), 2.0);
  EXPECT_DOUBLE_EQ(parser_.Calculate().AsDouble(), 4.0);
  EXPECT_DOUBLE_EQ(parser_.Result().AsDouble(), 4.0);
  parser_.Text = "X + 100";
  EXPECT_DOUBLE_EQ(parser_.Calculate().AsDouble(), 103.0);

  // a text that does not build fails at every Calculate, and the last result stays
  parser_.Text = "F()";
  for (int i = 0; i < 3; ++i) {
    try {
      parser_.Calculate();
      ADD_FAILURE() << "no exception";
    } catch (const EKvIParseException& e) {
      EXPECT_EQ(e.Message(), "Compile error: syntax fault.");
    }
  }
  EXPECT_DOUBLE_EQ(parser_.Result().AsDouble(), 103.0);
  parser_.Text = std::string("1+\0", 3) + "2";
  EXPECT_THROW(parser_.Calculate(), EKvIParseException);
  EXPECT_THROW(parser_.Calculate(), EKvIParseException);
}

TEST_F(ParserTest, HandlerMayChangeTheTextWhileEvaluating) {
  parser_.OnEvaluate = [](TKvIParser* sender, const std::string& eval, const TEvalArgs&, int, bool,
                          Variant& value, bool& done) {
    if (eval == "X") {
      sender->Text = "40 + 2";
      value = sender->Calculate();
      done = true;
    }
  };
  EXPECT_DOUBLE_EQ(Calc("X + 1").AsDouble(), 43.0);
  EXPECT_DOUBLE_EQ(parser_.Calculate().AsDouble(), 42.0);
}

TEST_F(ParserTest, RunawayRecursionThroughTheHandlerStops) {
  parser_.OnEvaluate = [](TKvIParser* sender, const std::string&, const TEvalArgs&, int, bool,
                          Variant& value, bool& done) {
    value = sender->Calculate();
    done = true;
  };
  EXPECT_EQ(ErrorOf<EKvIParseException>("X + 1"), "Expression is nested too deeply.");
}

TEST_F(ParserTest, DeepNestingThroughTheComponent) {
  const int n = 100000;
  EXPECT_DOUBLE_EQ(Calc(std::string(n, '(') + "7" + std::string(n, ')')).AsDouble(), 7.0);
  std::string chain;
  for (int i = 0; i < n; ++i) chain += "SQ(";
  chain += "1" + std::string(n, ')');
  EXPECT_EQ(ErrorOf<EKvIParseException>(chain), "Expression is nested too deeply.");
  AddFunction("DEEP(X)=" + chain);
  EXPECT_EQ(ErrorOf<EKvIParseException>("DEEP(1)"), "Expression is nested too deeply.");

  // A body as deep as allowed, called from an expression as deep as allowed.
  const int m = kMaxNestingDepth - 1;
  std::string body;
  for (int i = 0; i < m; ++i) body += "TRIM(";
  body += "X" + std::string(m, ')');
  AddFunction("DEEPOK(X)=" + body);
  std::string call;
  for (int i = 0; i < m; ++i) call += "TRIM(";
  call += "DEEPOK(' x ')" + std::string(m, ')');
  EXPECT_EQ(TextOf(Calc(call)), "' x '");
}

}  // namespace
