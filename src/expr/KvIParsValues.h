// Value rules of the expression language: operand categories, arithmetic,
// comparison and the conversions the operators and built-in functions share.
#pragma once

#include <cstdint>

#include "cells/KvVariant.h"

enum class TArithOp : std::uint8_t { Add, Subtract, Multiply, Divide, IntDiv, Mod, And, Or };
enum class TCompareResult : std::int8_t { Less = -1, Equal = 0, Greater = 1 };

// Arithmetic by the class matrix of the two operands' categories.
Variant VariantArithmetic(TArithOp op, const Variant& left, const Variant& right);
// Comparison by the same matrix; Null equals Null and is less than any other value.
TCompareResult CompareValues(const Variant& left, const Variant& right);
Variant VariantNot(const Variant& v);
// Coercion of an operand of "-", "*", "/", "^", "!".
Variant ArithmeticOperand(const Variant& v);
double Power(double base, double exponent);
Variant Factorial(std::int32_t n);

// Conversions under the current settings, through the one conversion module.
std::int32_t ToInteger(const Variant& v);
double ToReal(const Variant& v);
bool ToBoolean(const Variant& v);
