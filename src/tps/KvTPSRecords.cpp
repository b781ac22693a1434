#include "tps/KvTPSRecords.h"

#include <algorithm>
#include <map>

namespace {

// A bounded reader over record data: reads past the end give zero bytes and leave
// the position at the end.
struct Cursor {
  TTPSBytesView d;
  std::size_t p;
  bool Over = false;  // a read went past the end
  std::size_t Left() const { return p < d.size() ? d.size() - p : 0; }
  std::uint8_t U8() { return p < d.size() ? d[p++] : (p = d.size(), Over = true, 0); }
  std::uint16_t U16() {
    std::uint16_t lo = U8();
    std::uint16_t hi = U8();
    return std::uint16_t(lo | hi << 8);
  }
  std::uint16_t U16BE() {
    std::uint16_t hi = U8();
    std::uint16_t lo = U8();
    return std::uint16_t(hi << 8 | lo);
  }
  std::int32_t I32BE() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | U8();
    return std::int32_t(v);
  }
  // Text up to the next zero byte, never into the last byte of the data; then the
  // zero byte is skipped when the position is on one.
  std::string Text0() {
    std::size_t start = std::min(p, d.size());
    std::size_t q = start;
    while (q + 1 < d.size() && d[q] != 0) ++q;
    std::string s(reinterpret_cast<const char*>(d.data()) + start, q - start);
    p = q;
    if (p < d.size() && d[p] == 0) ++p;
    return s;
  }
  void Skip(std::size_t n) {
    Over = Over || n > Left();
    p = std::min(d.size(), p + n);
  }
};

}  // namespace

void TTPSRecordDataBody::Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
                               std::uint16_t) {
  Cursor c{data, pos};
  RecordNumber = c.I32BE();
  pos = c.p;
}

void TTPSRecordMetaDataBody::Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t,
                                   std::uint32_t, std::uint16_t) {
  Cursor c{data, pos};
  Value = c.U8();
  pos = c.p;
}

void TTPSRecordTableDefinitionBody::Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t,
                                          std::uint32_t, std::uint16_t) {
  Cursor c{data, pos};
  BlockNumber = c.U16();
  pos = c.p;
}

void TTPSRecordMemoBody::Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t, std::uint32_t,
                               std::uint16_t) {
  Cursor c{data, pos};
  RecordNumber = c.I32BE();
  MemoNumber = c.U8();
  SequenceNumber = c.U16BE();
  pos = c.p;
}

void TTPSRecordTableNameBody::Parse(TTPSBytesView data, std::size_t& pos, std::uint8_t,
                                    std::uint32_t, std::uint16_t headerLength) {
  const std::size_t end = std::min<std::size_t>(headerLength, data.size());
  if (end > pos) Name.assign(reinterpret_cast<const char*>(data.data()) + pos, end - pos);
  Cursor c{data, std::max<std::size_t>(pos, headerLength)};
  TableNumber = c.Left() >= 4 ? c.I32BE() : 0;
  pos = c.p;
}

void TTPSRecordTableDefinitionBody::ParseDefinition(TTPSBytesView data, std::size_t pos) {
  Cursor c{data, pos};
  DefinitionWord1 = c.U16();
  DefinitionWord2 = c.U16();
  FieldCount = c.U16();
  MemoCount = c.U16();
  KeyCount = c.U16();
  Fields.clear();
  Keys.clear();
  Complete = false;

  for (std::uint32_t i = 0; i < FieldCount && c.Left() >= 13; ++i) {
    TTPSField f;
    f.Type = TpsInternalType(c.U8());
    f.Offset = c.U16();
    f.Name = c.Text0();
    if (c.Left() < 2) break;
    f.Elements = c.U16();
    f.Length = c.U16();
    f.Flags = c.U16();
    f.Index = c.U16();
    if (f.Type == tpsDecimal) {
      f.Decimals = c.U8();
      f.SecondDecimal = c.U8();
    }
    if (f.Type == tpsChar || f.Type == tpsVarChar || f.Type == tpsMaskString) {
      f.StringLength = c.U16();
      f.Picture = c.Text0();
      // The picture's zero byte was skipped; an empty picture has one filler byte more.
      if (f.Picture.empty()) c.Skip(1);
    }
    Fields.push_back(std::move(f));
  }
  std::stable_sort(Fields.begin(), Fields.end(),
                   [](const TTPSField& a, const TTPSField& b) { return a.Index < b.Index; });

  for (std::uint32_t i = 0; i < MemoCount && c.Left() >= 6; ++i) {
    TTPSField m;
    m.Type = tpsMEMO;
    m.ExternalFileName = c.Text0();
    if (m.ExternalFileName.empty() && c.p < data.size() && data[c.p] == 0x01) ++c.p;
    m.Name = c.Text0();
    if (c.Left() < 2) break;
    m.Length = c.U16();
    m.Flags = c.U16();
    // Bit value 4 marks a BLOB (binary); text memos have it clear.
    if (m.Flags & 4) m.Type = tpsBLOB;
    Fields.push_back(std::move(m));
  }
  FieldCount = std::uint16_t(FieldCount + MemoCount);

  for (std::uint32_t i = 0; i < KeyCount && c.Left() >= 5; ++i) {
    TTPSKey k;
    k.ExternalFileName = c.Text0();
    if (k.ExternalFileName.empty() && c.p < data.size() && data[c.p] == 0x01) ++c.p;
    k.Name = c.Text0();
    if (c.Left() < 2) break;
    k.Flags = c.U8();
    k.ComponentCount = c.U16();
    for (std::uint32_t j = 0; j < k.ComponentCount && c.Left() >= 4; ++j) {
      TTPSKeyItem item;
      item.FieldNumber = c.U16();
      item.Flags = c.U16();
      k.Components.push_back(item);
    }
    Keys.push_back(std::move(k));
  }
  Complete = !c.Over && Fields.size() == FieldCount && Keys.size() == KeyCount &&
             std::all_of(Keys.begin(), Keys.end(),
                         [](const TTPSKey& k) { return k.Components.size() == k.ComponentCount; });
  ParsedEnd = std::min(c.p, data.size());
}

std::string TpsDefinitionDamage(const TTPSRecordTableDefinitionBody& def, std::size_t dataSize) {
  if (def.Fields.empty()) return "it has no fields";
  if (!def.Complete || def.ParsedEnd != dataSize) return "its entries do not end where it ends";
  const std::uint32_t recordLength = def.DefinitionWord2;
  for (const TTPSField& f : def.Fields) {
    if (f.IsMemo()) continue;
    const std::string name = "field " + f.Name;
    if (std::uint32_t(f.Offset) + f.Length > recordLength)
      return name + " does not fit in the record";
    const std::uint32_t elements = std::max<std::uint32_t>(f.Elements, 1);
    if (elements > 1 && elements > f.Length) return name + " has more elements than bytes";
    // The fixed sizes of the number, date and time types.
    std::uint32_t size = 0;
    switch (f.Type) {
      case tpsByte:
        size = 1;
        break;
      case tpsShort:
      case tpsUShort:
        size = 2;
        break;
      case tpsDate:
      case tpsTime:
      case tpsLong:
      case tpsULong:
        size = 4;
        break;
      case tpsDouble:
        size = 8;
        break;
      case tpsFloat:  // SREAL or REAL
        size = f.Length == elements * 6 ? 6 : 4;
        break;
      default:
        break;
    }
    if (size != 0 && f.Length != elements * size)
      return name + " has a size that does not fit its type";
  }
  return std::string();
}

std::unique_ptr<TTPSRecordBody> TpsCreateBody(std::uint8_t kind) {
  switch (kind) {
    case tpsKindData:
      return std::make_unique<TTPSRecordDataBody>();
    case tpsKindMetaData:
      return std::make_unique<TTPSRecordMetaDataBody>();
    case tpsKindDefinition:
      return std::make_unique<TTPSRecordTableDefinitionBody>();
    case tpsKindMemo:
      return std::make_unique<TTPSRecordMemoBody>();
    case tpsKindTableName:
      return std::make_unique<TTPSRecordTableNameBody>();
    default:
      return std::make_unique<TTPSRecordIndexBody>();
  }
}

void TpsJoinDefinitions(TTPSRecords& records, TTPSByteStore& store) {
  auto& items = records.Items();
  // Table number -> its definition records in list order.
  std::map<std::int32_t, std::vector<std::size_t>> byTable;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].Kind == tpsKindDefinition && items[i].Body)
      byTable[items[i].TableNumber].push_back(i);
  std::vector<bool> remove(items.size(), false);
  bool anyRemoved = false;
  for (auto& [table, list] : byTable) {
    if (list.size() < 2) continue;
    std::map<std::uint16_t, std::size_t> slots;  // block number -> record (the later wins)
    for (std::size_t i : list)
      slots[static_cast<TTPSRecordTableDefinitionBody&>(*items[i].Body).BlockNumber] = i;
    const std::size_t first = list.front();
    TTPSRecord& head = items[first];
    if (slots.size() > 1) {
      auto headBytes = head.Bytes();
      std::vector<std::uint8_t> joined(
          headBytes.begin(),
          headBytes.begin() + long(std::min<std::size_t>(head.HeaderLength, headBytes.size())));
      for (auto& [block, i] : slots) {
        auto b = items[i].Bytes();
        std::size_t h = std::min<std::size_t>(items[i].HeaderLength, b.size());
        joined.insert(joined.end(), b.begin() + long(h), b.end());
      }
      TTPSByteStore::Bytes fresh = store.Store(joined);
      store.Release(head.Data);
      head.Data = fresh;
      head.RecordLength = std::uint32_t(joined.size());
    } else if (slots.begin()->second != first) {
      // Every piece has the same block number: the last one is the definition.
      TTPSRecord& last = items[slots.begin()->second];
      auto b = last.Bytes();
      TTPSByteStore::Bytes fresh = store.Store(b);
      store.Release(head.Data);
      head.Data = fresh;
      head.RecordLength = last.RecordLength;
      head.HeaderLength = last.HeaderLength;
    }
    for (std::size_t i : list)
      if (i != first) {
        remove[i] = true;
        anyRemoved = true;
      }
  }
  if (!anyRemoved) return;
  std::size_t out = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (remove[i]) {
      store.Release(items[i].Data);
      continue;
    }
    if (out != i) items[out] = std::move(items[i]);
    ++out;
  }
  items.resize(out);
}

const TTPSRecordTableNameBody* TpsFindTableName(const TTPSRecords& records,
                                                std::int32_t tableNumber) {
  for (const TTPSRecord& r : records.Items())
    if (r.Kind == tpsKindTableName && r.Body) {
      auto& b = static_cast<const TTPSRecordTableNameBody&>(*r.Body);
      if (b.TableNumber == tableNumber) return &b;
    }
  return nullptr;
}

namespace {
const char* const kTypeNames[18] = {
    "Unknow", "Byte",    "Short", "UShort",  "Date",       "Time",  "Long", "ULong", "Float",
    "Double", "Decimal", "Char",  "VarChar", "MaskString", "Group", "BLOB", "MEMO",  "String"};
}

const char* TpsTypeName(std::uint8_t code) { return code < 18 ? kTypeNames[code] : "Unknow"; }

std::uint8_t TpsInternalType(std::uint8_t b) {
  switch (b) {
    case 0x01:
      return tpsByte;
    case 0x02:
      return tpsShort;
    case 0x03:
      return tpsUShort;
    case 0x04:
      return tpsDate;
    case 0x05:
      return tpsTime;
    case 0x06:
      return tpsLong;
    case 0x07:
      return tpsULong;
    case 0x08:
      return tpsFloat;
    case 0x09:
      return tpsDouble;
    case 0x0A:
      return tpsDecimal;
    case 0x12:
      return tpsChar;
    case 0x13:
      return tpsVarChar;
    case 0x14:
      return tpsMaskString;
    case 0x16:
      return tpsGroup;
    case 0x67:
      return tpsBLOB;
    case 0x66:
      return tpsMEMO;
    default:
      return tpsUnknown;
  }
}
