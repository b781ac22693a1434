// The typed columns and indexes of a table, from its schema: what JSON Lines and SQLite
// write of each column.
//
// A typed output loads arrays split into their elements: an array is then a group of no
// bytes with its element count, followed by one column per element, and is written as one
// value holding the elements. Groups are left out (their members are columns), and so
// are columns of an unknown type.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cells/KvTableSchema.h"
#include "out/TypedColumns.h"

// Whether a column starts an array split into its elements (the next Elements columns).
bool IsSplitArray(const TTableColumn& column);

// The columns a typed output reads: Selected (in the table's order) with the element
// columns of every selected array.
std::vector<std::int32_t> WithArrayElements(const TTableSchema& schema,
                                            std::span<const std::int32_t> selected);

struct TTypedIndex {
  std::string KeyName;
  // Typed columns (indexes into TTypedTable::Columns) and whether each sorts descending.
  std::vector<std::pair<std::size_t, bool>> Parts;
};

struct TTypedTable {
  std::vector<TTypedColumn> Columns;
  std::vector<TTypedIndex> Indexes;
  std::size_t Renamed = 0;      // names that repeated another and got a number
  std::size_t KeysLeftOut = 0;  // keys naming a column that is not written
};

// The typed columns of the selected columns (positions in Selected are the cells of a
// row view) and an index for every key whose columns are all written; a key without
// components gives none.
TTypedTable BuildTypedTable(const TTableSchema& schema, std::span<const std::int32_t> selected);
