#include "out/TypedColumns.h"

#include <cmath>

#include "cells/KvConvert.h"
#include "cells/KvText.h"

namespace {

void AppendDigits(std::string& out, int value, int width) {
  char text[8];
  for (int i = width - 1; i >= 0; --i, value /= 10) text[i] = char('0' + value % 10);
  out.append(text, std::size_t(width));
}

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

bool AppendIsoDate(std::string& out, double day) {
  if (!std::isfinite(day)) return false;
  int year, month, dayOfMonth;
  DecodeDate(day, year, month, dayOfMonth);
  if (year < 1 || year > 9999) return false;
  AppendDigits(out, year, 4);
  out.push_back('-');
  AppendDigits(out, month, 2);
  out.push_back('-');
  AppendDigits(out, dayOfMonth, 2);
  return true;
}

void AppendIsoTime(std::string& out, double dateTime) {
  int hour, minute, second, ms;
  DecodeTime(dateTime, hour, minute, second, ms);
  AppendDigits(out, hour, 2);
  out.push_back(':');
  AppendDigits(out, minute, 2);
  out.push_back(':');
  AppendDigits(out, second, 2);
  // A stored time holds hundredths: the milliseconds are a multiple of ten.
  if (const int hundredths = (ms + 5) / 10; hundredths > 0) {
    out.push_back('.');
    AppendDigits(out, hundredths > 99 ? 99 : hundredths, 2);
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
