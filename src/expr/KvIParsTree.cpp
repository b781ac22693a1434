#include "expr/KvIParsTree.h"

#include <climits>

#include "cells/KvExceptions.h"
#include "cells/KvText.h"
#include "expr/KvIParsBuiltins.h"

const char* const kNestedTooDeeply = "Expression is nested too deeply.";

// Shared by all nodes of one build: the matching ")" of every "(" of the token array,
// found once, so that skipping a parenthesized group or testing whether the outer pair
// encloses a whole range costs constant time at every level.
struct TExpNode::BuildContext {
  const TExpTokens* tokens;
  std::vector<int> match;  // for a "(": index of its ")", INT_MAX when unclosed

  explicit BuildContext(const TExpTokens& t) : tokens(&t), match(t.size(), INT_MAX) {
    std::vector<int> open;
    for (int i = 0; i < int(t.size()); ++i) {
      if (t[i].Kind != tkParen) continue;
      if (t[i].Text == "(") {
        open.push_back(i);
      } else if (!open.empty()) {
        match[open.back()] = i;
        open.pop_back();
      }
    }
  }
};

TExpNode::TExpNode(TExpOwner* owner, const TExpTokens& tokens, int first, int count,
                   TExpNode* parent)
    : owner_(owner), tokens_(&tokens), parent_(parent), first_(first), count_(count) {
  if (count == 1) SetToken(first);
  if (parent) depth_ = parent->depth_ + 1;
}

TExpNode::~TExpNode() {
  // Last to first, each with its own subtree.
  while (!children_.empty()) children_.pop_back();
}

void TExpNode::SetToken(int index) {
  token_ = index >= 0 ? &(*tokens_)[index] : nullptr;
  const TExpTokenKind kind = token_ ? token_->Kind : tkNone;
  number_ = kind == tkNumber ? NumberLiteralValue(token_->Text) : 0;
  // What the evaluator would otherwise look up by the token's text at every evaluation.
  builtin_ = kind == tkName ? FindBuiltin(token_->Text) : -1;
  nowName_ = kind == tkName &&
             (SameTextAscii(token_->Text, "GETDATE") || SameTextAscii(token_->Text, "NOW"));
  opIndex_ = std::int8_t(kind == tkOperator ? OperatorIndex(token_->Text) : 0);
  opArity_ = std::int8_t(kind == tkOperator ? OperatorArity(token_->Text) : 0);
  nameValue_ = Variant();
  if (token_) {
    std::string_view name = token_->Text;
    if (!name.empty() && name.front() == '[') name.remove_prefix(1);
    if (!name.empty() && name.back() == ']') name.remove_suffix(1);
    nameValue_ = Variant::String(name);
  }
}

bool TExpNode::IsParen(int index, char c) const {
  const TExpToken& t = (*tokens_)[index];
  return t.Kind == tkParen && t.Text.size() == 1 && t.Text[0] == c;
}

void TExpNode::Build() {
  BuildContext ctx(*tokens_);
  BuildIn(ctx, SplitHint{});
}

void TExpNode::BuildIn(const BuildContext& ctx, SplitHint hint) {
  if (count_ < 2) return;
  if (depth_ > kMaxNestingDepth) throw EKvIParseException(kNestedTooDeeply);
  if (StripParentheses(ctx)) hint = SplitHint{};
  if (count_ < 2) {
    SetToken(count_ == 1 ? first_ : -1);
    return;
  }
  const SplitPoint at = FindSplitOperator(ctx, hint);
  if (at.index >= 0) {
    SplitAt(ctx, at);
    return;
  }
  if (ParseCall(ctx)) return;
  throw EKvIParseException("Compile error: syntax fault.");
}

bool TExpNode::StripParentheses(const BuildContext& ctx) {
  bool stripped = false;
  // The outer pair goes while the first "(" is not closed before the last token.
  while (count_ >= 2 && IsParen(first_, '(') && IsParen(first_ + count_ - 1, ')') &&
         ctx.match[first_] >= first_ + count_ - 1) {
    ++first_;
    count_ -= 2;
    stripped = true;
  }
  return stripped;
}

TExpNode::SplitPoint TExpNode::FindSplitOperator(const BuildContext& ctx, SplitHint hint) const {
  SplitPoint best;
  const int end = first_ + count_;
  // Only tokens at depth 0 are visited: a parenthesized group is skipped at once.
  for (int k = first_; k < end;) {
    const TExpToken& t = (*tokens_)[k];
    if (t.Kind == tkParen) {
      if (IsParen(k, '(')) {
        const int m = ctx.match[k];
        if (m >= end) break;  // the rest stays inside this unclosed group
        k = m + 1;
        continue;
      }
      throw EKvIParseException("Compile error: parenthesis mismatch.");
    }
    if (t.Kind == tkOperator) {
      const int p = OperatorIndex(t.Text);
      if (p < best.priority) {
        best.priority = p;
        best.index = k;
        best.count = 1;
        // The parent already knows the lowest index here and how many there are, so
        // the first one found is the answer (the rest of the range was checked by it).
        if (hint.remaining > 0 && p == hint.priority) {
          best.count = hint.remaining;
          return best;
        }
      } else if (p == best.priority) {
        ++best.count;
      }
    }
    ++k;
  }
  return best;
}

std::unique_ptr<TExpNode> TExpNode::MakeChild(const BuildContext& ctx, int first, int count,
                                              SplitHint hint) {
  auto child = std::make_unique<TExpNode>(owner_, *tokens_, first, count, this);
  child->BuildIn(ctx, hint);
  return child;
}

void TExpNode::SplitAt(const BuildContext& ctx, const SplitPoint& at) {
  const int end = first_ + count_;
  const int leftFirst = first_;
  const int leftCount = at.index - first_;
  const int rightCount = end - at.index - 1;
  first_ = at.index;
  count_ = 1;
  SetToken(at.index);
  const bool unary = OperatorArity((*tokens_)[at.index].Text) == 1;
  // The right operand is built first, so its errors come before those of the left one.
  std::unique_ptr<TExpNode> right, left;
  if (rightCount > 0 || !unary) {
    right = MakeChild(ctx, at.index + 1, rightCount, SplitHint{at.priority, at.count - 1});
  }
  if (leftCount > 0 || !unary) left = MakeChild(ctx, leftFirst, leftCount, SplitHint{});
  if (left) children_.push_back(std::move(left));
  if (right) children_.push_back(std::move(right));
}

bool TExpNode::ParseCall(const BuildContext& ctx) {
  const int last = first_ + count_ - 1;
  if (count_ < 4 || (*tokens_)[first_].Kind != tkName || (*tokens_)[first_ + 1].Kind != tkParen ||
      (*tokens_)[last].Kind != tkParen) {
    return false;
  }
  const int name = first_;
  const int end = last;  // the argument tokens are [name + 2, last)
  first_ = name;
  count_ = 1;
  SetToken(name);
  for (int k = name + 2; k < end;) {
    const int argFirst = k;
    while (k < end) {
      const TExpToken& t = (*tokens_)[k];
      if (t.Kind == tkComma) break;  // at depth 0: ends the argument
      if (t.Kind == tkParen) {
        if (IsParen(k, '(')) {
          const int m = ctx.match[k];
          k = m >= end ? end : m + 1;
          continue;
        }
        throw EKvIParseException("Function parse error.");
      }
      ++k;
    }
    children_.push_back(MakeChild(ctx, argFirst, k - argFirst, SplitHint{}));
    if (k < end) ++k;  // the comma
  }
  return true;
}

std::unique_ptr<TExpTree> ParseExpression(std::string_view text, TExpOwner* owner) {
  auto tree = std::make_unique<TExpTree>();
  tree->Parser.TokenizeAll(text);
  const TExpTokens& tokens = tree->Parser.Tokens();
  tree->Root = std::make_unique<TExpNode>(owner, tokens, 0, int(tokens.size()), nullptr);
  tree->Root->Build();
  return tree;
}
