#include "tps/KvTPSSchema.h"

#include <algorithm>
#include <unordered_map>

#include "tps/KvTPS.h"

TTableSchema TpsTableSchema(const TTPSClarionTable& table) {
  TTableSchema schema;
  schema.Name = table.Caption;
  schema.Number = table.TableNumber;
  const std::size_t count = std::min<std::size_t>(table.FieldCount, table.Fields.size());
  schema.Columns.reserve(count);
  for (std::size_t j = 0; j < count; ++j) {
    const TTPSField& f = table.Fields[j];
    TTableColumn c = MakeTableColumn(f.Name, TTPSTypeCode(f.Type), f.Length);
    c.Elements = f.Elements;
    c.Flags = f.Flags;
    if (c.Type == tpsDecimal) {
      // A DECIMAL of n bytes holds 2n - 1 digits and its sign.
      const std::uint16_t element =
          f.Elements > 1 ? std::uint16_t(f.Length / f.Elements) : f.Length;
      c.Digits = std::uint8_t(std::clamp(2 * int(element) - 1, 0, 255));
      c.Decimals = f.Decimals;
    }
    schema.Columns.push_back(std::move(c));
  }
  // A key component names a field by its field number (the descriptor's index), which
  // is its column unless arrays were split into columns.
  std::unordered_map<std::uint16_t, std::int32_t> columnOf;
  for (std::size_t j = 0; j < count; ++j)
    if (!table.Fields[j].IsMemo()) columnOf.emplace(table.Fields[j].Index, std::int32_t(j));
  for (const TTPSKey& k : table.Keys) {
    TTableKey key;
    key.Name = k.Name;
    key.Flags = k.Flags;
    for (const TTPSKeyItem& item : k.Components) {
      TTableKeyPart part;
      const auto column = columnOf.find(item.FieldNumber);
      part.Column = column == columnOf.end() ? -1 : column->second;
      part.Descending = (item.Flags & 1) != 0;
      part.Flags = item.Flags;
      key.Parts.push_back(part);
    }
    schema.Keys.push_back(std::move(key));
  }
  return schema;
}
