#include "cells/KvExceptions.h"

void ThrowTypeCast() { throw EVariantTypeCastError("Invalid variant type conversion"); }

void ThrowInvalidVariantOp() { throw EVariantInvalidOpError("Invalid variant operation"); }

void ThrowListIndex(long long index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}
