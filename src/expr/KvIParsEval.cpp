#include "expr/KvIParsEval.h"

#include <cmath>
#include <string>
#include <string_view>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "expr/KvIParsBuiltins.h"
#include "expr/KvIParsValues.h"

namespace {

// Active evaluations on this thread, nested ones (user-defined function bodies,
// expressions a name handler evaluates) included.
thread_local int g_evalDepth = 0;

// Trees are at most kMaxNestingDepth deep; this leaves room for a function body below
// a deep expression and a few expressions evaluated from inside a handler, and stops a
// runaway recursion while the stack still has ample room (about 2.5 KB a level in
// a sanitizer build, under 1.2 KB otherwise).
constexpr int kMaxEvalDepth = 2 * kMaxNestingDepth + 200;

class DepthGuard {
 public:
  DepthGuard() {
    if (g_evalDepth >= kMaxEvalDepth) throw EKvIParseException(kNestedTooDeeply);
    ++g_evalDepth;
  }
  ~DepthGuard() { --g_evalDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

class NodeArgs final : public TBuiltinArgs {
 public:
  explicit NodeArgs(const TExpNode& node) : node_(node) {}
  int Count() const override { return node_.ChildCount(); }
  Variant Get(int index) override {
    if (index < 0 || index >= node_.ChildCount()) ThrowListIndex(index);
    return Evaluate(node_.Child(index));
  }

 private:
  const TExpNode& node_;
};

// The built-in function and GETDATE/NOW were recognised when the node was built.
Variant EvaluateNamePath(const TExpNode& node) {
  if (node.IsNowName()) return Variant::Date(NowDateTime());
  // A bare name always goes to the owner, even when it spells a built-in function.
  if (node.ChildCount() == 0) return EvaluateName(node);
  const int builtin = node.BuiltinIndex();
  if (builtin >= 0) {
    NodeArgs args(node);
    return CallBuiltin(builtin, args);
  }
  return EvaluateName(node);
}

TArithOp ArithOpOf(int index) {
  switch (index) {
    case 2:
      return TArithOp::Subtract;
    case 3:
      return TArithOp::Multiply;
    default:
      return TArithOp::Divide;
  }
}

Variant EvaluateOperator(const TExpNode& node, const TExpToken& token) {
  const int index = node.OperatorPriority();
  if (node.OperatorArgCount() != node.ChildCount()) {
    throw EKvIParseException("Calculate error: syntax tree fault.");
  }
  // An operator run outside the table passes the arity check only as a lone token
  // (arity 0, no children); it stands for its own text.
  if (index == 0) return Variant::String(token.Text);
  if (index == 6) {  // "!"
    const Variant operand = ArithmeticOperand(Evaluate(node.Child(0)));
    return Factorial(ToInteger(Variant::Double(ToReal(operand))));
  }
  if (index == 16) return VariantNot(Evaluate(node.Child(0)));  // "NOT"

  // Both operands are always evaluated, left first; nothing short-circuits.
  Variant left = Evaluate(node.Child(0));
  Variant right = Evaluate(node.Child(1));
  switch (index) {
    case 1: {  // "+"
      if (left.IsText() != right.IsText()) {
        std::string text = TextOf(left);
        text += TextOf(right);
        return Variant::String(std::move(text));
      }
      return VariantArithmetic(TArithOp::Add, left, right);
    }
    case 2:
    case 3:
    case 4: {  // "-", "*", "/"
      left = ArithmeticOperand(left);
      right = ArithmeticOperand(right);
      return VariantArithmetic(ArithOpOf(index), left, right);
    }
    case 5: {  // "^"
      const double base = ToReal(ArithmeticOperand(left));
      const double exponent = ToReal(ArithmeticOperand(right));
      return Variant::Double(Power(base, exponent));
    }
    case 7:
      return Variant::Boolean(CompareValues(left, right) == TCompareResult::Equal);
    case 8:
      return Variant::Boolean(CompareValues(left, right) == TCompareResult::Less);
    case 9:
      return Variant::Boolean(CompareValues(left, right) == TCompareResult::Greater);
    case 10:
      return Variant::Boolean(CompareValues(left, right) != TCompareResult::Greater);
    case 11:
      return Variant::Boolean(CompareValues(left, right) != TCompareResult::Less);
    case 12:
    case 13:
      return Variant::Boolean(CompareValues(left, right) != TCompareResult::Equal);
    case 14:
      return VariantArithmetic(TArithOp::And, left, right);
    case 15:
      return VariantArithmetic(TArithOp::Or, left, right);
    default:
      return Variant::String(token.Text);
  }
}

}  // namespace

Variant Evaluate(const TExpNode& node) {
  const TExpToken* token = node.Token();
  if (token == nullptr || node.TokenCount() == 0) return Variant::Null();
  if (node.TokenCount() > 1) return Variant::String(token->Text);
  DepthGuard guard;
  switch (token->Kind) {
    case tkNumber: {
      const double v = node.NumberValue();
      if (std::isinf(v)) throw EOverflow("Floating point overflow");
      return Variant::Double(v);
    }
    case tkName:
      return EvaluateNamePath(node);
    case tkOperator:
      return EvaluateOperator(node, *token);
    default:
      return Variant::String(token->Text);
  }
}

Variant EvaluateName(const TExpNode& node) {
  const TExpToken* token = node.Token();
  if (token == nullptr) return Variant::Null();
  Variant value = node.NameValue();
  if (token->Kind != tkName) return value;

  if (node.ChildCount() > kMaxCallArgs) {
    throw EKvIParseException("Function \"" + token->Text + "\" called with more than " +
                             std::to_string(kMaxCallArgs) + " arguments.");
  }
  TExpOwner* owner = node.Owner();
  if (node.ChildCount() == 0) {
    // A bare name: all slots Empty, shared rather than made for every evaluation.
    static const TEvalArgs kNoArgs;
    if (owner) owner->ResolveNodeName(token->Text, kNoArgs, node.Parent() != nullptr, value);
    return value;
  }
  TEvalArgs args;
  for (int i = 0; i < node.ChildCount(); ++i) args[i] = Evaluate(node.Child(i));
  if (owner) owner->ResolveNodeName(token->Text, args, node.Parent() != nullptr, value);
  return value;
}
