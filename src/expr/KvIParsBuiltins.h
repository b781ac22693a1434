// The built-in function library of the expression language.
#pragma once

#include <string_view>

#include "cells/KvVariant.h"

// The arguments of one call, evaluated on demand and in the order a function reads
// them. Get() of an argument that was not written fails with EListError
// "List index out of bounds (%d)", the placeholder being the 0-based index.
class TBuiltinArgs {
 public:
  virtual ~TBuiltinArgs() = default;
  virtual int Count() const = 0;
  virtual Variant Get(int index) = 0;
};

// Position of a built-in name in the dispatch order (compared without regard to
// ASCII case), or -1. GETDATE and NOW are handled by the evaluator itself.
int FindBuiltin(std::string_view name);
// Computes built-in number `index` (from FindBuiltin) for a call with arguments.
Variant CallBuiltin(int index, TBuiltinArgs& args);
