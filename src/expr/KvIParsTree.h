// Expression tree: TExpNode splits the tokens of its sub-expression at the operator
// that binds most loosely outside parentheses, or else reads a call NAME(args).
//
// Every node refers to a range of the one token array of its TExpParser (which must
// outlive the tree); nothing is copied from level to level. Building and evaluating
// stop at kMaxNestingDepth levels with "Expression is nested too deeply.".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cells/KvVariant.h"
#include "expr/KvIParsTokens.h"

// Argument slots of a call that reaches the owner of a tree.
constexpr int kMaxCallArgs = 11;
using TEvalArgs = std::array<Variant, kMaxCallArgs>;

// Deepest nesting of nodes (and of evaluations) accepted.
constexpr int kMaxNestingDepth = 500;
extern const char* const kNestedTooDeeply;  // "Expression is nested too deeply."

// The object that resolves names when a tree is evaluated: the parser component or a
// user-defined function.
class TExpOwner {
 public:
  // A name, or a call no built-in function claims. eval is the token text as written;
  // value arrives holding the name without one pair of enclosing brackets.
  virtual void ResolveNodeName(const std::string& eval, const TEvalArgs& args, bool isChild,
                               Variant& value) = 0;

 protected:
  ~TExpOwner() = default;
};

class TExpNode {
 public:
  // A node over tokens[first, first + count). The node's Token is that token when
  // count is 1.
  TExpNode(TExpOwner* owner, const TExpTokens& tokens, int first, int count, TExpNode* parent);
  ~TExpNode();
  TExpNode(const TExpNode&) = delete;
  TExpNode& operator=(const TExpNode&) = delete;

  // Turns the tokens into the subtree below this node. Raises EKvIParseException:
  // "Compile error: parenthesis mismatch.", "Function parse error.",
  // "Compile error: syntax fault." or the nesting-depth message.
  void Build();

  TExpOwner* Owner() const { return owner_; }
  const TExpNode* Parent() const { return parent_; }
  // The main token: the operator, the function name or the single operand; nullptr for
  // an empty node.
  const TExpToken* Token() const { return token_; }
  // The tokens still held: after building, only the main token.
  int TokenCount() const { return count_; }
  int ChildCount() const { return int(children_.size()); }
  const TExpNode& Child(int i) const { return *children_[i]; }
  // The value of a tkNumber Token, read once when the node is made (see
  // NumberLiteralValue); 0 for other nodes.
  double NumberValue() const { return number_; }
  // Depth below the root (0 at the root).
  int Depth() const { return depth_; }
  // Read once from a tkName Token when it is set: the built-in function the name
  // calls (FindBuiltin, -1 for none) and whether it is GETDATE or NOW.
  int BuiltinIndex() const { return builtin_; }
  bool IsNowName() const { return nowName_; }
  // Read once from a tkOperator Token: OperatorIndex and OperatorArity of its text;
  // 0 for other nodes.
  int OperatorPriority() const { return opIndex_; }
  int OperatorArgCount() const { return opArity_; }
  // The Token's text without one pair of enclosing brackets, as a String: the value a
  // name has until its owner resolves it. Empty for an empty node.
  const Variant& NameValue() const { return nameValue_; }

 private:
  struct BuildContext;
  struct SplitHint {
    int priority = -1;  // the operator index the parent split at
    int remaining = 0;  // how many more of them stand at depth 0 in this range
  };
  struct SplitPoint {
    int index = -1;
    int priority = 17;
    int count = 0;
  };

  void BuildIn(const BuildContext& ctx, SplitHint hint);
  bool StripParentheses(const BuildContext& ctx);
  SplitPoint FindSplitOperator(const BuildContext& ctx, SplitHint hint) const;
  void SplitAt(const BuildContext& ctx, const SplitPoint& at);
  bool ParseCall(const BuildContext& ctx);
  std::unique_ptr<TExpNode> MakeChild(const BuildContext& ctx, int first, int count,
                                      SplitHint hint);
  bool IsParen(int index, char c) const;
  void SetToken(int index);

  TExpOwner* owner_;
  const TExpTokens* tokens_;
  TExpNode* parent_;
  int first_;
  int count_;
  const TExpToken* token_ = nullptr;  // kept as a pointer: tokens do not move
  int depth_ = 0;
  double number_ = 0;
  int builtin_ = -1;
  bool nowName_ = false;
  std::int8_t opIndex_ = 0;
  std::int8_t opArity_ = 0;
  Variant nameValue_;
  std::vector<std::unique_ptr<TExpNode>> children_;
};

// A tokenized and built expression: the tokenizer with its tokens and the root node.
struct TExpTree {
  TExpParser Parser;
  std::unique_ptr<TExpNode> Root;
};

// Tokenizes and builds text with the given owner.
std::unique_ptr<TExpTree> ParseExpression(std::string_view text, TExpOwner* owner);
