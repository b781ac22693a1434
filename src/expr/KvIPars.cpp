#include "expr/KvIPars.h"

#include <exception>
#include <string_view>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"
#include "expr/KvIParsEval.h"

// A text tokenized and built once, or the error doing so raised, which every
// evaluation then raises again. The decimal separator is part of the key because
// the character classes of the tokenizer depend on it.
struct CompiledText {
  std::string text;
  char decimalSeparator = '.';
  std::unique_ptr<TExpTree> tree;
  std::exception_ptr error;

  CompiledText(const std::string& t, TExpOwner* owner)
      : text(t), decimalSeparator(CurrentSettings().DecimalSeparator) {
    try {
      tree = ParseExpression(text, owner);
    } catch (...) {
      error = std::current_exception();
    }
  }
  bool Matches(const std::string& t) const {
    return decimalSeparator == CurrentSettings().DecimalSeparator && text == t;
  }
  Variant Run() const {
    if (error) std::rethrow_exception(error);
    return Evaluate(*tree->Root);
  }
};

struct TKvIParser::Compiled : CompiledText {
  using CompiledText::CompiledText;
};

struct TKvIParserFunction::Compiled : CompiledText {
  using CompiledText::CompiledText;
};

// ---------------------------------------------------------------- TKvIParser

std::shared_ptr<const TKvIParser::Compiled> TKvIParser::Compile() {
  if (!compiled_ || !compiled_->Matches(Text)) compiled_ = std::make_shared<Compiled>(Text, this);
  return compiled_;
}

Variant TKvIParser::Calculate() {
  // The local reference keeps the tree alive should a handler change Text and
  // calculate again while this evaluation is still running.
  const std::shared_ptr<const Compiled> compiled = Compile();
  result_ = compiled->Run();
  return result_;
}

void TKvIParser::ResolveName(const std::string& eval, const TEvalArgs& args, Variant& value,
                             bool isChild) {
  bool done = false;
  if (!ProcessBeforeEvent && OnEvaluate) {
    OnEvaluate(this, eval, args, kMaxCallArgs, isChild, value, done);
    if (done) return;
  } else {
    value = Variant::String(eval);
  }
  if (TKvIParserFunction* f = GlobalFunctions().Find(eval)) {
    f->BindArgs(args);
    Variant result;
    f->Evaluate(result);
    value = std::move(result);
    return;
  }
  if (ProcessBeforeEvent && OnEvaluate) {
    OnEvaluate(this, eval, args, kMaxCallArgs, isChild, value, done);
  }
}

void TKvIParser::ResolveNodeName(const std::string& eval, const TEvalArgs& args, bool isChild,
                                 Variant& value) {
  ResolveName(eval, args, value, isChild);
}

// ---------------------------------------------------------------- TKvIParserFunction

void TKvIParserFunction::SetDefinition(const std::string& text) {
  ParamNames.clear();
  ParamCount = 0;
  Definition = text;
  Body.clear();
  FunctionName.clear();
  compiled_.reset();

  const std::size_t p = text.find('=');
  if (p == std::string::npos) return;  // an inert entry: no name, no body
  const std::string header = text.substr(0, p);
  Body = text.substr(p + 1);

  const auto headerError = [&header] {
    return EKvIParseException("Function header \"" + header + "\" is not valid.");
  };
  TExpParser parser;
  parser.TokenizeAll(header);
  const TExpTokens& tokens = parser.Tokens();
  if (tokens.empty() || tokens[0].Kind != tkName) {
    throw EKvIParseException("Function \"" + text + "\" is not valid.");
  }
  FunctionName = tokens[0].Text;
  if (tokens.size() == 1) return;

  std::size_t i = 1;
  bool opened = false;
  if (tokens[1].Kind == tkParen) {
    if (tokens[1].Text != "(") throw headerError();
    opened = true;
  }
  ++i;  // any other second token is skipped: parameters follow without parentheses
  bool expectName = true;
  for (; i < tokens.size(); ++i) {
    const TExpToken& t = tokens[i];
    if (t.Kind == tkParen) {
      if (opened && t.Text == ")") return;
      throw headerError();
    }
    if (!expectName) {
      if (t.Kind != tkComma) {
        throw EKvIParseException(
            "Function parse error: delimitor \",\" expected between arguments.");
      }
      expectName = true;
    } else if (t.Kind == tkName) {
      if (ParamCount == kMaxCallArgs) {
        throw EKvIParseException("Function \"" + text + "\" has more than " +
                                 std::to_string(kMaxCallArgs) + " parameters.");
      }
      ParamNames.push_back(t.Text);
      ParamCount = int(ParamNames.size());
      expectName = false;
    }
  }
  if (opened) throw headerError();
}

void TKvIParserFunction::Evaluate(Variant& value) {
  if (!compiled_ || !compiled_->Matches(Body)) compiled_ = std::make_shared<Compiled>(Body, this);
  const std::shared_ptr<const Compiled> compiled = compiled_;
  value = compiled->Run();
}

void TKvIParserFunction::BindArgs(const TEvalArgs& args) { ArgValues = args; }

void TKvIParserFunction::ResolveParam(const std::string& eval, Variant& value) const {
  for (std::size_t i = 0; i < ParamNames.size(); ++i) {
    if (SameTextAscii(ParamNames[i], eval)) {
      value = ArgValues[i];
      return;
    }
  }
}

void TKvIParserFunction::ResolveNodeName(const std::string& eval, const TEvalArgs&, bool,
                                         Variant& value) {
  ResolveParam(eval, value);
}

// ---------------------------------------------------------------- TKvIParserFunctions

TKvIParserFunctions::~TKvIParserFunctions() {
  while (!items_.empty()) items_.pop_back();
}

TKvIParserFunction& TKvIParserFunctions::Add(const std::string& definition) {
  auto f = std::make_unique<TKvIParserFunction>();
  f->SetDefinition(definition);
  items_.push_back(std::move(f));
  return *items_.back();
}

TKvIParserFunction* TKvIParserFunctions::Find(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const auto& f : items_) {
    if (SameTextAscii(f->FunctionName, name)) return f.get();
  }
  return nullptr;
}

void TKvIParserFunctions::Delete(int i) { items_.erase(items_.begin() + i); }

TKvIParserFunctions& GlobalFunctions() {
  static TKvIParserFunctions functions;
  static const bool seeded = [] {
    TKvIParserFunction& pi = functions.Add("PI=3.14");
    pi.Description = "PI value";
    pi.Category = "Constants";
    pi.Group = "<All>";
    return true;
  }();
  (void)seeded;
  return functions;
}

namespace {
// The list exists from program start (the settings it reads are function-local
// statics, so this is safe during static initialization).
[[maybe_unused]] TKvIParserFunctions& g_globalFunctionsAtStart = GlobalFunctions();
}  // namespace
