// Evaluator of expression trees: number literals, names, calls of built-in functions,
// calls handed to the tree's owner, and the sixteen operators.
#pragma once

#include "cells/KvVariant.h"
#include "expr/KvIParsTree.h"

// The value of the subtree rooted at node. The tree is not changed.
Variant Evaluate(const TExpNode& node);

// The value of a name, or of a call that no built-in function claims: the name without
// one pair of enclosing brackets, unless the node's owner resolves it. The arguments
// are evaluated first, in order, into kMaxCallArgs slots; a call with more arguments
// raises EKvIParseException "Function "NAME" called with more than 11 arguments.".
Variant EvaluateName(const TExpNode& node);
