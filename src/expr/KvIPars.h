// The expression component TKvIParser and the user-defined functions.
//
// TKvIParser evaluates its Text; names the engine does not know go to the OnEvaluate
// handler and to the process-wide list of user-defined functions (GlobalFunctions,
// which holds "PI=3.14" from the start). The tree of Text is built once and reused by
// every Calculate while Text stays the same; a text that does not parse raises the
// same error at every Calculate. A function's body is likewise built once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cells/KvVariant.h"
#include "expr/KvIParsTree.h"

class TKvIParser;

// The name-resolution handler. Eval: the name as written (brackets and quotes kept);
// Args: the call's argument values, kMaxCallArgs slots, Empty where no argument was
// written; ArgCount: always kMaxCallArgs; IsChild: the name is part of a larger
// expression; Value: in a provisional value, out the name's value; Done: in false,
// set to end the lookup (when ProcessBeforeEvent is false).
using TOnEvaluate =
    std::function<void(TKvIParser* Sender, const std::string& Eval, const TEvalArgs& Args,
                       int ArgCount, bool IsChild, Variant& Value, bool& Done)>;

class TKvIParser : public TExpOwner {
 public:
  TKvIParser() = default;
  virtual ~TKvIParser() = default;
  TKvIParser(const TKvIParser&) = delete;
  TKvIParser& operator=(const TKvIParser&) = delete;

  // When true, user-defined functions are consulted before OnEvaluate.
  bool ProcessBeforeEvent = false;
  std::string Text;
  TOnEvaluate OnEvaluate;

  // Parses (once per Text) and evaluates Text; stores and returns the value. Errors of
  // tokenizing, building and evaluating propagate; the earlier result then stays.
  Variant Calculate();
  // The value of the last successful Calculate (Empty before the first).
  const Variant& Result() const { return result_; }

  // The lookup of a name through OnEvaluate and GlobalFunctions.
  void ResolveName(const std::string& eval, const TEvalArgs& args, Variant& value, bool isChild);

  void ResolveNodeName(const std::string& eval, const TEvalArgs& args, bool isChild,
                       Variant& value) override;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> Compile();

  Variant result_;
  std::shared_ptr<const Compiled> compiled_;
};

class TKvIParserFunction : public TExpOwner {
 public:
  TKvIParserFunction() = default;
  virtual ~TKvIParserFunction() = default;
  TKvIParserFunction(const TKvIParserFunction&) = delete;
  TKvIParserFunction& operator=(const TKvIParserFunction&) = delete;

  std::string Definition;
  std::string FunctionName;
  std::string Body;
  std::string Description;
  std::vector<std::string> ParamNames;
  int ParamCount = 0;
  TEvalArgs ArgValues;
  std::string Category;
  std::string Group;

  // Reads "NAME=body", "NAME(P1, P2)=body" or "NAME P1, P2=body". Raises
  // EKvIParseException for a malformed header, and "Function "%s" has more than 11
  // parameters." (the definition) for more parameters than argument slots.
  void SetDefinition(const std::string& text);
  // Evaluates the body (built at the first call) with the bound arguments.
  virtual void Evaluate(Variant& value);
  void BindArgs(const TEvalArgs& args);
  // A parameter name (ASCII case ignored) gets its bound argument; other names keep value.
  void ResolveParam(const std::string& eval, Variant& value) const;

  void ResolveNodeName(const std::string& eval, const TEvalArgs& args, bool isChild,
                       Variant& value) override;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> compiled_;
};

class TKvIParserFunctions {
 public:
  TKvIParserFunctions() = default;
  ~TKvIParserFunctions();
  TKvIParserFunctions(const TKvIParserFunctions&) = delete;
  TKvIParserFunctions& operator=(const TKvIParserFunctions&) = delete;

  // Creates a function from definition and appends it; a definition that raises is not
  // added.
  TKvIParserFunction& Add(const std::string& definition);
  // The first function, in order of addition, named name (ASCII case ignored), or nullptr.
  TKvIParserFunction* Find(const std::string& name) const;
  int Count() const { return int(items_.size()); }
  TKvIParserFunction& Item(int i) const { return *items_[i]; }
  // Removes and frees function i (for tests that add their own functions).
  void Delete(int i);

 private:
  std::vector<std::unique_ptr<TKvIParserFunction>> items_;
};

// The process-wide list of user-defined functions, holding "PI=3.14" (Description
// "PI value", Category "Constants", Group "<All>") before any expression is evaluated.
TKvIParserFunctions& GlobalFunctions();
