// The demo file and benchmark files, written with the TopSpeed writer.
#pragma once

#include <cstdint>
#include <string>

namespace tpsw {

// The demo: table CUSTOMER (number 1; 300 rows of ID, NAME, CITY, BALANCE (a
// decimal, some negative), SINCE (date), CALLTIME (time), RATING (byte), the group
// ADDRESS over STREET and ZIP, and the memo NOTES on every third row) and table
// ORDERS (number 2; 500 rows of ID, CUSTID, DATE, AMOUNT, QTY, PRICE (double)).
// Deterministic: the same bytes every time.
void WriteDemo(const std::string& path);

// A benchmark file of about `megabytes` MiB: table SALES with record numbers 1..N of
// ID, CUSTOMER, CITY, AMOUNT, QTY, DATE, TIME, PRICE, CODE, REF (ULong) and the memo
// NOTE on every tenth row, on compressed pages. Deterministic.
struct BenchResult {
  std::int32_t rows = 0;
  std::uint64_t bytes = 0;
  std::uint64_t memoBytes = 0;  // of every MEMO and BLOB text
};
// With an owner password the file is encrypted with it. memoHeavy: the memo NOTE (200
// to 500 bytes) on 70 % of the rows and a BLOB PICTURE (1 to 4 KiB) on half of them.
BenchResult WriteBench(const std::string& path, double megabytes, const std::string& owner = "",
                       bool memoHeavy = false);

}  // namespace tpsw
