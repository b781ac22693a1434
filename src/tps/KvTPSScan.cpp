#include "tps/KvTPSScan.h"

#include "tps/KvTPSValues.h"

void TpsFindDateFields(TTPSRecordScan& scan) {
  scan.DateFields.clear();
  for (std::int32_t j = 0; j < scan.FieldCount; ++j) {
    const TTPSField& f = scan.Fields[std::size_t(j)];
    const bool array = f.IsArray() && !scan.SplitArrays;
    if ((array || !f.IsMemo()) && (f.Type == tpsDate || f.Type == tpsTime))
      scan.DateFields.push_back(j);
  }
}

// Only dates and times can be impossible; whether a field gives a value at all mostly
// depends on the record's length alone.
std::int32_t TpsScanRecord(const TTPSRecordScan& scan, std::span<const std::uint8_t> data,
                           std::uint16_t header, std::int64_t& invalid) {
  std::int32_t last = scan.FieldCount - 1;
  for (; last >= 0; --last) {
    const TTPSField& f = scan.Fields[std::size_t(last)];
    if (f.IsArray() && !scan.SplitArrays) break;  // always a text
    if (!f.IsMemo() && TpsFieldHasValue(f, data, header)) break;
  }
  for (std::int32_t j : scan.DateFields) {
    const TTPSField& f = scan.Fields[std::size_t(j)];
    if (!(f.IsArray() && !scan.SplitArrays)) {
      invalid += TpsFieldIsImpossibleDate(f, data, header);
      continue;
    }
    // The elements of an array, as it is decoded.
    TTPSField e;
    e.Type = f.Type;
    const std::uint16_t w = std::uint16_t(f.Length / f.Elements);
    for (std::uint32_t k = 0; k < f.Elements; ++k) {
      if (f.Offset + std::size_t(k) * w > 0xFFFF) continue;
      e.Offset = std::uint16_t(f.Offset + k * w);
      invalid += TpsFieldIsImpossibleDate(e, data, header);
    }
  }
  return last;
}

bool TpsSameScan(const TTPSFields& a, const TTPSFields& b, std::int32_t count) {
  if (a.size() < std::size_t(count) || b.size() < std::size_t(count)) return false;
  for (std::size_t j = 0; j < std::size_t(count); ++j)
    if (a[j].Type != b[j].Type || a[j].Offset != b[j].Offset || a[j].Length != b[j].Length ||
        a[j].Elements != b[j].Elements)
      return false;
  return true;
}
