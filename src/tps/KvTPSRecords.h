// Record bodies: what the reader takes from each kind of record, table definitions
// with their field, memo and key entries, and the joining of split definitions.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tps/KvTPSContainer.h"
#include "tps/KvTPSFields.h"

using TTPSBytesView = std::span<const std::uint8_t>;

class TTPSRecordBody {
 public:
  virtual ~TTPSRecordBody() = default;
  // Reads the body's fields from the record's data, starting at pos (advanced by
  // what is read). Reads never pass the end of the data.
  virtual void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t flags,
                     std::uint32_t recordLength, std::uint16_t headerLength) {
    (void)data, (void)pos, (void)flags, (void)recordLength, (void)headerLength;
  }
  // Table definitions only: parses the definition content starting at pos.
  virtual void ParseDefinition(TTPSBytesView data, std::size_t pos) { (void)data, (void)pos; }
};

class TTPSRecordDataBody : public TTPSRecordBody {
 public:
  std::int32_t RecordNumber = 0;
  void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
             std::uint16_t) override;
};

class TTPSRecordMetaDataBody : public TTPSRecordBody {
 public:
  std::uint8_t Value = 0;
  void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
             std::uint16_t) override;
};

class TTPSRecordTableDefinitionBody : public TTPSRecordBody {
 public:
  TTPSFields Fields;
  TTPSKeys Keys;
  std::uint16_t BlockNumber = 0;
  std::uint16_t DefinitionWord1 = 0, DefinitionWord2 = 0;
  std::uint16_t FieldCount = 0, MemoCount = 0, KeyCount = 0;
  // After ParseDefinition: every entry the counts announce was read, and where the
  // entries end in the data.
  bool Complete = false;
  std::size_t ParsedEnd = 0;
  void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
             std::uint16_t) override;
  void ParseDefinition(TTPSBytesView data, std::size_t pos) override;
};

class TTPSRecordMemoBody : public TTPSRecordBody {
 public:
  std::int32_t RecordNumber = 0;
  std::uint8_t MemoNumber = 0;
  std::uint16_t SequenceNumber = 0;
  std::int32_t InsertionNumber = 0;
  void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
             std::uint16_t) override;
};

class TTPSRecordTableNameBody : public TTPSRecordBody {
 public:
  std::string Name;
  std::int32_t TableNumber = 0;
  void Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
             std::uint16_t headerLength) override;
};

// Index records and everything else; nothing is read and the record is dropped.
class TTPSRecordIndexBody : public TTPSRecordBody {};

// Creates the body class for a record kind.
std::unique_ptr<TTPSRecordBody> TpsCreateBody(std::uint8_t kind);

// Why a parsed definition (of dataSize bytes) is damaged, or empty when it is not: it
// has no fields, its entries do not end exactly where it ends, or a field does not fit
// in the record (beyond the record length, more elements than bytes) or its type
// (DATE, TIME, LONG, ULONG and SREAL take 4 bytes, SHORT and USHORT 2, BYTE 1, REAL 6,
// DOUBLE 8, times the elements of an array).
std::string TpsDefinitionDamage(const TTPSRecordTableDefinitionBody& def, std::size_t dataSize);

// Joins the definitions stored in several records: per table number, the pieces in
// ascending block number go into the first definition record of that table (after
// its own header bytes); the other definition records are removed. Pieces with the
// same block number: the later one counts. Missing block numbers leave no gap.
void TpsJoinDefinitions(TTPSRecords& records, TTPSByteStore& store);

// The first table name record for a table number, or null.
const TTPSRecordTableNameBody* TpsFindTableName(const TTPSRecords& records,
                                                std::int32_t tableNumber);
