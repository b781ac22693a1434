#include "front/SchemaText.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Rows of cells laid out in columns as wide as their widest cell, two spaces apart;
// numbers right-aligned, texts left-aligned, no blanks at the end of a line.
class TColumns {
 public:
  explicit TColumns(std::vector<bool> rightAligned) : right_(std::move(rightAligned)) {}
  void Add(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

  void AppendTo(std::string& out, std::string_view indent) const {
    std::vector<std::size_t> width(right_.size(), 0);
    for (const auto& row : rows_)
      for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows_) {
      std::string line(indent);
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (c > 0) line += "  ";
        const std::string pad(width[c] - row[c].size(), ' ');
        line += right_[c] ? pad + row[c] : row[c] + pad;
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line;
      out += "\r\n";
    }
  }

 private:
  std::vector<bool> right_;
  std::vector<std::vector<std::string>> rows_;
};

std::string Number(std::int64_t n) { return std::to_string(n); }

std::string YesNo(bool b) { return b ? "yes" : "no"; }

std::string Hex2(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned(b));
  return text;
}

}  // namespace

const char* DeclaredTypeName(std::uint8_t code) {
  switch (code) {
    case tpsByte:
      return "BYTE";
    case tpsShort:
      return "SHORT";
    case tpsUShort:
      return "USHORT";
    case tpsDate:
      return "DATE";
    case tpsTime:
      return "TIME";
    case tpsLong:
      return "LONG";
    case tpsULong:
      return "ULONG";
    case tpsFloat:
      return "SREAL";
    case tpsDouble:
      return "REAL";
    case tpsDecimal:
      return "DECIMAL";
    case tpsChar:
    case tpsString:
      return "STRING";
    case tpsVarChar:
      return "CSTRING";
    case tpsMaskString:
      return "PSTRING";
    case tpsGroup:
      return "GROUP";
    case tpsBLOB:
      return "BLOB";
    case tpsMEMO:
      return "MEMO";
    default:
      return "UNKNOWN";
  }
}

const TTPSField* KeyComponentField(const TTPSClarionTable& table, const TTPSKeyItem& item) {
  const std::size_t count = std::min<std::size_t>(table.FieldCount, table.Fields.size());
  for (std::size_t j = 0; j < count; ++j) {
    const TTPSField& f = table.Fields[j];
    if (!f.IsMemo() && f.Index == item.FieldNumber) return &f;
  }
  return nullptr;
}

std::string KeyNameWithoutPrefix(const std::string& name) {
  const std::size_t colon = name.find(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::string SchemaText(const TTPSClarionTable& table, std::int64_t rowCount) {
  std::string out = "Table " + Number(table.TableNumber) + " " + table.TableName + ": " +
                    Number(rowCount) + (rowCount == 1 ? " row" : " rows") + "\r\n";

  TColumns fields({true, false, false, true, true, true, true, true});
  fields.Add({"#", "Field", "Type", "Size", "Digits", "Decimals", "Elements", "Offset"});
  // The end offsets of the groups that enclose the current field, innermost last.
  std::vector<std::uint32_t> groupEnds;
  const std::size_t count = std::min<std::size_t>(table.FieldCount, table.Fields.size());
  for (std::size_t j = 0; j < count; ++j) {
    const TTPSField& f = table.Fields[j];
    std::vector<std::string> row;
    row.push_back(Number(std::int64_t(j) + 1));
    if (f.IsMemo()) {
      groupEnds.clear();
    } else {
      while (!groupEnds.empty() && f.Offset >= groupEnds.back()) groupEnds.pop_back();
    }
    row.push_back(std::string(2 * groupEnds.size(), ' ') + f.Name);
    row.push_back(DeclaredTypeName(f.Type));
    row.push_back(Number(f.Length));  // every element of an array
    const bool decimal = f.Type == tpsDecimal;
    const std::uint32_t elementBytes = f.IsArray() ? f.Length / f.Elements : f.Length;
    row.push_back(decimal ? Number(2 * std::int64_t(elementBytes) - 1) : "");
    row.push_back(decimal ? Number(f.Decimals) : "");
    row.push_back(f.IsArray() ? Number(f.Elements) : "");
    row.push_back(f.IsMemo() ? "" : Number(f.Offset));
    fields.Add(std::move(row));
    if (f.Type == tpsGroup && f.Length > 0) groupEnds.push_back(std::uint32_t(f.Offset) + f.Length);
  }
  fields.AppendTo(out, "  ");

  if (table.Keys.empty()) {
    out += "  No keys\r\n";
    return out;
  }
  TColumns keys({false, false, false, false, false});
  keys.Add({"Key", "Duplicates", "Primary", "Flags", "Fields"});
  for (const TTPSKey& k : table.Keys) {
    std::string names;
    for (const TTPSKeyItem& item : k.Components) {
      if (!names.empty()) names += ", ";
      const TTPSField* f = KeyComponentField(table, item);
      names += f != nullptr ? f->Name : "#" + Number(item.FieldNumber);
    }
    keys.Add({KeyNameWithoutPrefix(k.Name), YesNo((k.Flags & kKeyDuplicates) != 0),
              YesNo((k.Flags & kKeyPrimary) != 0), Hex2(k.Flags), names});
  }
  keys.AppendTo(out, "  ");
  return out;
}
