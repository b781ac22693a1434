#include "out/TypedSchema.h"

#include <optional>

namespace {

std::optional<TTypedKind> KindOf(const TTableColumn& c) {
  switch (c.Type) {
    case tpsByte:
    case tpsShort:
    case tpsUShort:
    case tpsLong:
    case tpsULong:
      return TTypedKind::Integer;
    case tpsFloat:
      // SREAL when declared with 4 bytes (per element), the 48-bit REAL otherwise.
      return (c.IsArray() ? c.Size / c.Elements : c.Size) == 4 ? TTypedKind::Single
                                                               : TTypedKind::Double;
    case tpsDouble:
      return TTypedKind::Double;
    case tpsDecimal:
      return TTypedKind::Decimal;
    case tpsDate:
      return TTypedKind::Date;
    case tpsTime:
      return TTypedKind::Time;
    case tpsChar:
      return TTypedKind::String;
    case tpsVarChar:
    case tpsMaskString:
      return TTypedKind::Text;
    case tpsMEMO:
      return TTypedKind::Memo;
    case tpsBLOB:
      return TTypedKind::Blob;
    default:
      return std::nullopt;  // groups, unknown types
  }
}

// The number of element columns after column I, within the schema.
std::size_t ElementCount(const TTableSchema& s, std::size_t i) {
  return std::min<std::size_t>(s.Columns[i].Elements, s.Columns.size() - i - 1);
}

}  // namespace

bool IsSplitArray(const TTableColumn& c) {
  return c.Type == tpsGroup && c.Size == 0 && c.Elements > 1;
}

std::vector<std::int32_t> WithArrayElements(const TTableSchema& s,
                                            std::span<const std::int32_t> selected) {
  std::vector<bool> wanted(s.Columns.size(), false);
  for (std::int32_t c : selected)
    if (c >= 0 && std::size_t(c) < wanted.size()) wanted[std::size_t(c)] = true;
  for (std::size_t i = 0; i < s.Columns.size(); ++i)
    if (wanted[i] && IsSplitArray(s.Columns[i]))
      for (std::size_t k = 1; k <= ElementCount(s, i); ++k) wanted[i + k] = true;
  std::vector<std::int32_t> out;
  for (std::size_t i = 0; i < wanted.size(); ++i)
    if (wanted[i]) out.push_back(std::int32_t(i));
  return out;
}

TTypedTable BuildTypedTable(const TTableSchema& s, std::span<const std::int32_t> selected) {
  // Where each column is among the selected ones (-1: not selected).
  std::vector<std::int32_t> position(s.Columns.size(), -1);
  for (std::size_t k = 0; k < selected.size(); ++k)
    if (selected[k] >= 0 && std::size_t(selected[k]) < s.Columns.size())
      position[std::size_t(selected[k])] = std::int32_t(k);

  TTypedTable t;
  // The typed column of each schema column written alone (-1: none).
  std::vector<std::int32_t> typedOf(s.Columns.size(), -1);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < s.Columns.size(); ++i) {
    const TTableColumn& c = s.Columns[i];
    if (IsSplitArray(c)) {
      const std::size_t n = ElementCount(s, i);
      const std::optional<TTypedKind> kind = n ? KindOf(s.Columns[i + 1]) : std::nullopt;
      if (kind && position[i] >= 0) {
        TTypedColumn a;
        a.Name = c.Name;
        a.Kind = *kind;
        a.Array = true;
        a.Digits = s.Columns[i + 1].Digits;
        a.Decimals = s.Columns[i + 1].Decimals;
        for (std::size_t k = 1; k <= n; ++k) a.Cells.push_back(position[i + k]);
        t.Columns.push_back(std::move(a));
      }
      i += n;  // an array of groups: its elements are groups, left out like them
      continue;
    }
    const std::optional<TTypedKind> kind = KindOf(c);
    if (!kind || position[i] < 0) continue;
    TTypedColumn v;
    v.Name = c.Name;
    v.Kind = *kind;
    v.Digits = c.Digits;
    v.Decimals = c.Decimals;
    v.Cells.push_back(position[i]);
    typedOf[i] = std::int32_t(t.Columns.size());
    t.Columns.push_back(std::move(v));
  }
  for (const TTypedColumn& c : t.Columns) names.push_back(c.Name);
  t.Renamed = MakeNamesUnique(names);
  for (std::size_t i = 0; i < names.size(); ++i) t.Columns[i].Name = std::move(names[i]);

  for (const TTableKey& key : s.Keys) {
    if (key.Parts.empty()) continue;
    TTypedIndex index;
    index.KeyName = key.Name;
    for (const TTableKeyPart& part : key.Parts) {
      // A key on an array names the array's first column, which is written as no column
      // of its own.
      const std::int32_t column = part.Column;
      if (column < 0 || std::size_t(column) >= typedOf.size() || typedOf[std::size_t(column)] < 0) {
        index.Parts.clear();
        break;
      }
      index.Parts.emplace_back(std::size_t(typedOf[std::size_t(column)]), part.Descending);
    }
    if (index.Parts.empty())
      ++t.KeysLeftOut;
    else
      t.Indexes.push_back(std::move(index));
  }
  return t;
}
