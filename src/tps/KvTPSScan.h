// The early scan of a load with rows decoded on demand: where the data records lie,
// per table, and what their plain fields give, found while the pages are cut.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

#include "cells/KvCells.h"
#include "tps/KvTPSBytes.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSFields.h"
#include "tps/KvTPSLazy.h"
#include "tps/KvTPSMemos.h"
#include "tps/KvTPSRecords.h"

// A table's fields as far as looking at its records at load needs them.
struct TTPSRecordScan {
  TTPSFields Fields;
  std::int32_t FieldCount = 0;           // at most Fields.size()
  std::vector<std::int32_t> DateFields;  // the date and time fields (arrays included)
  bool SplitArrays = false;
};

// Fills scan.DateFields from its fields.
void TpsFindDateFields(TTPSRecordScan& scan);
// The last column whose plain field gives a record a value (-1: none), and the
// impossible dates and times of the record, counted as when every cell is reported.
std::int32_t TpsScanRecord(const TTPSRecordScan& scan, std::span<const std::uint8_t> data,
                           std::uint16_t header, std::int64_t& invalid);
// Whether two field lists look the same to TpsScanRecord over their first count fields.
bool TpsSameScan(const TTPSFields& a, const TTPSFields& b, std::int32_t count);

// Where the data records of a load lie, per table, in file order; filled while the
// pages are cut.
//
// The records are looked at as they are cut, with the fields of the table's definition
// when that definition (one record) came before the table's first data record: which
// records give no plain cell, the last column with one, the impossible dates. The
// fields are only final once every page is read, so ProduceLazyRows uses these
// findings when the final fields look the same to ScanRecord and reads the records
// once more otherwise (a definition later in the file, in pieces, or replaced).
struct TTPSLazyIndex : TTPSDataSink {
  TTPSLazyIndex(std::int32_t onlyTable, bool loadRows) : only(onlyTable), load(loadRows) {}

  struct Early {
    bool Active = false;  // every record of the table so far was looked at with Scan
    TTPSRecordScan Scan;
    std::int32_t LastColumn = -1;
    std::int64_t Invalid = 0;
    bool Skipped = false;  // records looked at and not kept (keepRows false)
  };

  void DataRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t table,
                  std::int32_t recordNumber, std::span<const std::uint8_t> data,
                  std::uint16_t headerLength) override {
    // Records of other tables than the selected one, and record numbers of 0 or below,
    // give no rows.
    if (!load || (only != 0 && table != only) || recordNumber <= 0) return;
    if (definitions && definitions->Count() != scanned) NoteDefinitions();
    if (!last || lastTable != table) {
      auto [it, added] = rows.try_emplace(table);
      if (added) {
        order.push_back(table);
        StartEarly(table);
      }
      last = &it->second;
      lastEarly = &early[table];
      lastTable = table;
    }
    bool noPlainCells = false;
    if (lastEarly->Active) {
      const std::int32_t column =
          TpsScanRecord(lastEarly->Scan, data, headerLength, lastEarly->Invalid);
      noPlainCells = column < 0;
      lastEarly->LastColumn = std::max(lastEarly->LastColumn, column);
      if (!keepRows) {
        lastEarly->Skipped = true;
        return;
      }
    }
    if (pages.empty() || pages.back() != pageOffset) pages.push_back(pageOffset);
    // Made whole here and copied in at once: built in place, its bit fields would be
    // read from the list's fresh memory before any write, a read and then a write that
    // cost two page faults per page of rows instead of one.
    TKvISourceRow row;
    row.RowNo = recordNumber - 1;
    row.Page = std::uint32_t(pages.size() - 1);
    row.Item = std::uint32_t(indexInPage);
    row.NoPlainCells = noPlainCells;
    last->push_back(row);
  }

  // Memo records: where they lie, when memo texts are wanted (dropped otherwise, as the
  // rows of other tables are).
  bool MemoRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t table,
                  std::span<const std::uint8_t> data, std::uint16_t headerLength) override {
    if (!load || !keepMemos || (only != 0 && table != only)) return true;
    if (pages.empty() || pages.back() != pageOffset) pages.push_back(pageOffset);
    memos.Add(std::uint32_t(pages.size() - 1), indexInPage, table, data, headerLength);
    return true;
  }

  // Definition records cut since the last look: a table whose records were already
  // looked at gets its definition (again) too late.
  void NoteDefinitions() {
    const auto& items = definitions->Items();
    for (; scanned < items.size(); ++scanned) {
      const TTPSRecord& r = items[scanned];
      if (r.Kind != tpsKindDefinition || !r.Body) continue;
      auto [it, added] = definitionAt.try_emplace(r.TableNumber, scanned);
      if (!added) it->second = kSeveral;
      if (auto e = early.find(r.TableNumber); e != early.end()) e->second.Active = false;
    }
  }

  void StartEarly(std::int32_t table) {
    Early& e = early[table];
    auto d = definitionAt.find(table);
    if (!scanOf || d == definitionAt.end() || d->second == kSeveral) return;
    try {
      e.Active = scanOf(definitions->Items()[d->second], e.Scan);
    } catch (...) {
      e.Active = false;  // the load meets the same definition again later
    }
    if (e.Active) TpsFindDateFields(e.Scan);
  }

  // Whether every table whose records were not kept was looked at with the fields the
  // load ends with: its early scan held to the end and its definition in records
  // (joined) gives fields that look the same.
  bool SkippedScansHold(const TTPSRecords& records) const {
    for (const auto& [table, e] : early) {
      if (!e.Skipped) continue;
      if (!e.Active || !scanOf) return false;
      TTPSRecordScan final;
      for (const TTPSRecord& r : records.Items())
        if (r.Kind == tpsKindDefinition && r.Body && r.TableNumber == table) {
          try {
            if (!scanOf(r, final)) return false;
          } catch (...) {
            return false;
          }
          break;
        }
      if (final.FieldCount != e.Scan.FieldCount ||
          !TpsSameScan(e.Scan.Fields, final.Fields, final.FieldCount))
        return false;
    }
    return true;
  }

  void Passed(std::uint64_t offset) override {
    // A file mapping's pages already read are given back, a step behind.
    if (releaseBehind) released.Reached(file, offset);
  }
  std::int32_t only;
  bool load;
  bool keepMemos = false;
  // false: the records the early scan looks at are not kept (a load that only names
  // the tables); a table whose scan does not hold to the end then needs a load with
  // them (Complete).
  bool keepRows = true;
  TTPSMemoPieces memos;
  bool releaseBehind = false;
  std::span<const std::uint8_t> file;
  TTPSReleaseBehind released;
  std::vector<std::uint64_t> pages;
  std::unordered_map<std::int32_t, TKvISourceRows> rows;
  std::vector<std::int32_t> order;  // tables in the order their first record came
  TKvISourceRows* last = nullptr;
  Early* lastEarly = nullptr;
  std::int32_t lastTable = 0;

  // The records cut so far (definitions among them), and the fields of a definition
  // record as the load will make them (false when it cannot tell).
  const TTPSRecords* definitions = nullptr;
  std::function<bool(const TTPSRecord&, TTPSRecordScan&)> scanOf;
  static constexpr std::size_t kSeveral = ~std::size_t(0);
  std::size_t scanned = 0;
  std::unordered_map<std::int32_t, std::size_t> definitionAt;  // table -> its one record
  std::unordered_map<std::int32_t, Early> early;
};
