#include "out/TypedColumns.h"

#include "cells/KvText.h"

namespace {

bool TakenIgnoringCase(const std::set<std::string>& taken, const std::string& name) {
  return taken.count(LowerAscii(name)) != 0;
}

}  // namespace

std::string SqliteDeclaredType(const TTypedColumn& c) {
  if (c.Array) return "TEXT";
  switch (c.Kind) {
    case TTypedKind::Integer:
      return "INTEGER";
    case TTypedKind::Single:
    case TTypedKind::Double:
      return "REAL";
    case TTypedKind::Decimal:
      if (c.Digits > kSqliteExactDigits) return "TEXT";
      return "DECIMAL(" + std::to_string(c.Digits) + "," + std::to_string(c.Decimals) + ")";
    case TTypedKind::Blob:
      return "BLOB";
    default:
      return "TEXT";
  }
}

std::size_t MakeNamesUnique(std::vector<std::string>& names) {
  std::set<std::string> taken;
  for (const std::string& n : names) taken.insert(LowerAscii(n));
  std::set<std::string> seen;
  std::size_t renamed = 0;
  for (std::string& n : names) {
    if (seen.insert(LowerAscii(n)).second) continue;
    std::string candidate;
    for (int k = 2;; ++k) {
      candidate = n + "_" + std::to_string(k);
      if (!TakenIgnoringCase(taken, candidate)) break;
    }
    n = candidate;
    taken.insert(LowerAscii(n));
    seen.insert(LowerAscii(n));
    ++renamed;
  }
  return renamed;
}

std::string IndexName(std::string_view table, std::string_view keyName,
                      std::set<std::string>& taken) {
  const std::size_t colon = keyName.find(':');
  if (colon != std::string_view::npos) keyName.remove_prefix(colon + 1);
  const std::string base = std::string(table) + "_" + std::string(keyName);
  std::string name = base;
  for (int k = 2; TakenIgnoringCase(taken, name); ++k) name = base + "_" + std::to_string(k);
  taken.insert(LowerAscii(name));
  return name;
}
