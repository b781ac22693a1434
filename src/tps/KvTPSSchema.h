// The table schema (cells/KvTableSchema.h) of a loaded TopSpeed table.
#pragma once

#include "cells/KvTableSchema.h"

class TTPSClarionTable;

// Column i is field i of the table (the definition's field count of them, memo and BLOB
// descriptors last); key components name columns by field number.
TTableSchema TpsTableSchema(const TTPSClarionTable& table);
