#include "tps/KvTPS.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"
#include "cells/KvText.h"
#include "tps/KvTPSLazy.h"
#include "tps/KvTPSOwner.h"
#include "tps/KvTPSRecords.h"

// A table's fields as far as looking at its records at load needs them.
struct TTPSRecordScan {
  TTPSFields Fields;
  std::int32_t FieldCount = 0;           // at most Fields.size()
  std::vector<std::int32_t> DateFields;  // the date and time fields (arrays included)
  bool SplitArrays = false;
};

namespace {

void FindDateFields(TTPSRecordScan& scan) {
  scan.DateFields.clear();
  for (std::int32_t j = 0; j < scan.FieldCount; ++j) {
    const TTPSField& f = scan.Fields[std::size_t(j)];
    const bool array = f.IsArray() && !scan.SplitArrays;
    if ((array || !f.IsMemo()) && (f.Type == tpsDate || f.Type == tpsTime))
      scan.DateFields.push_back(j);
  }
}

// The last column whose plain field gives a record a value (-1: none), and the
// impossible dates and times of the record, counted as when every cell is reported.
// Only dates and times can be impossible; whether a field gives a value at all mostly
// depends on the record's length alone.
std::int32_t ScanRecord(const TTPSRecordScan& scan, std::span<const std::uint8_t> data,
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

// Whether two field lists look the same to ScanRecord over their first count fields.
bool SameScan(const TTPSFields& a, const TTPSFields& b, std::int32_t count) {
  if (a.size() < std::size_t(count) || b.size() < std::size_t(count)) return false;
  for (std::size_t j = 0; j < std::size_t(count); ++j)
    if (a[j].Type != b[j].Type || a[j].Offset != b[j].Offset || a[j].Length != b[j].Length ||
        a[j].Elements != b[j].Elements)
      return false;
  return true;
}

}  // namespace

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
  };

  void DataRecord(std::uint64_t pageOffset, std::uint32_t indexInPage, std::int32_t table,
                  std::int32_t recordNumber, std::span<const std::uint8_t> data,
                  std::uint16_t headerLength) override {
    // Records of other tables than the selected one, and record numbers of 0 or below,
    // give no rows.
    if (!load || (only != 0 && table != only) || recordNumber <= 0) return;
    if (definitions && definitions->Count() != scanned) NoteDefinitions();
    if (pages.empty() || pages.back() != pageOffset) pages.push_back(pageOffset);
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
    TKvISourceRow row{recordNumber - 1, std::uint32_t(pages.size() - 1), indexInPage};
    if (lastEarly->Active) {
      const std::int32_t column =
          ScanRecord(lastEarly->Scan, data, headerLength, lastEarly->Invalid);
      if (column < 0) row.Item |= kTpsItemNoPlainCells;
      lastEarly->LastColumn = std::max(lastEarly->LastColumn, column);
    }
    last->push_back(row);
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
    if (e.Active) FindDateFields(e.Scan);
  }

  void Passed(std::uint64_t offset) override {
    // A file mapping's pages already read are given back, a step behind.
    constexpr std::uint64_t kStep = std::uint64_t(4) << 20;
    if (releaseBehind && offset >= released + 2 * kStep) {
      TpsReleaseMappedBytes(file, released, offset - kStep);
      released = offset - kStep;
    }
  }
  std::int32_t only;
  bool load;
  bool releaseBehind = false;
  std::span<const std::uint8_t> file;
  std::uint64_t released = 0;
  std::vector<std::uint64_t> pages;
  std::unordered_map<std::int32_t, std::vector<TKvISourceRow>> rows;
  std::vector<std::int32_t> order;  // tables in the order their first record came
  std::vector<TKvISourceRow>* last = nullptr;
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

TClarionTPS::TClarionTPS() {
  sheets_.SetItemClass([] { return std::make_unique<TTPSClarionTable>(); });
}

TClarionTPS::~TClarionTPS() {
  if (listsOpen_) TClarionTPS::EndLoad();
}

void TClarionTPS::BeginLoad() {
  TCustomClarion::BeginLoad();
  records_.Clear();
  memos_.Clear();
  store_.Clear();
  listsOpen_ = true;
}

void TClarionTPS::EndLoad() {
  records_.Clear();
  memos_.Clear();
  store_.Clear();
  memoIndex_ = TTPSMemoIndex();
  listsOpen_ = false;
  TCustomClarion::EndLoad();
}

void TClarionTPS::RebuildTableIndex() {
  tableIndex_.clear();
  for (std::int32_t i = 0; i < sheets_.Count(); ++i)
    if (auto* t = dynamic_cast<TTPSClarionTable*>(&sheets_[i]))
      tableIndex_.emplace(t->TableNumber, i);  // the first one of a number wins
}

std::int32_t TClarionTPS::TableIndexOf(std::int32_t number) {
  std::int32_t found = -1;
  if (loading_) {
    // During a load only this reader changes the sheet list: the index stays exact.
    auto it = tableIndex_.find(number);
    if (it != tableIndex_.end()) found = it->second;
  } else {
    for (std::int32_t i = 0; i < sheets_.Count() && found < 0; ++i)
      if (auto* t = dynamic_cast<TTPSClarionTable*>(&sheets_[i]); t && t->TableNumber == number)
        found = i;
  }
  if (found >= 0) return found;
  std::int32_t i = sheets_.AddSheet();
  auto* t = dynamic_cast<TTPSClarionTable*>(&sheets_[i]);
  if (!t) throw Exception("Sheet list does not hold TopSpeed tables");
  t->TableNumber = number;
  if (loading_) tableIndex_.emplace(number, i);
  return i;
}

TTPSClarionTable& TClarionTPS::Table(std::int32_t index) {
  return static_cast<TTPSClarionTable&>(sheets_[index]);
}

TTPSClarionTable& TClarionTPS::SelectedTable() { return Table(TableIndexOf(TableNumber)); }

const TTPSField* TClarionTPS::SelectedField(std::int32_t i) {
  TTPSClarionTable& t = SelectedTable();
  if (i < 0 || std::size_t(i) >= t.Fields.size()) return nullptr;
  return &t.Fields[std::size_t(i)];
}

std::span<const std::uint8_t> TClarionTPS::ReadWholeStream(TStream& stream) {
  source_.resize(std::size_t(stream.Size()));
  stream.Seek(0);
  std::size_t got = 0;
  while (got < source_.size()) {
    std::size_t n = stream.Read(source_.data() + got,
                                std::min<std::size_t>(source_.size() - got, std::size_t(1) << 24));
    if (n == 0) break;
    got += n;
  }
  source_.resize(got);
  return source_;
}

TTPSFileView TClarionTPS::SourceView(TStream& stream) {
  std::span<const std::uint8_t> bytes = stream.View();
  // No mapping: read the whole stream in large blocks.
  if (bytes.empty() && stream.Size() > 0) bytes = ReadWholeStream(stream);
  TTPSFileView view(bytes);
  // Not a plain file: with an owner password it reads as decrypted, page by page. A
  // wrong owner leaves it as it is, so the signature check fails as usual.
  if (Owner && bytes.size() >= kTpsHeaderSize && !TpsHeaderSignatureOk(bytes))
    view.DecryptWith(MakeOwnerKey(*Owner));
  return view;
}

void TClarionTPS::LoadFromFile(const std::string& name) {
  TCustomClarion::LoadFromFile(name);
  TFileStream stream(name);
  stream.Seek(0);
  LoadFromStream(stream);
}

void TClarionTPS::LoadFromStream(TStream& stream) {
  const std::int32_t remembered = TableNumber;
  invalidDateTimes_ = 0;
  struct Finish {
    TClarionTPS* self;
    std::int32_t table;
    ~Finish() {
      self->loading_ = false;
      self->tableIndex_.clear();
      self->TableNumber = table;
      self->source_.clear();
      self->source_.shrink_to_fit();
      if (!self->KeepOpen) self->EndLoad();
    }
  } finish{this, remembered};
  BeginLoad();
  RebuildTableIndex();
  loading_ = true;
  SelectedTable().FieldLinks.clear();
  const TTPSFileView view = SourceView(stream);
  const std::span<const std::uint8_t> bytes = view.Raw();
  cellTextLeft_ = (std::uint64_t(16) << 20) + std::uint64_t(1024) * bytes.size();
  if (LazyLoadPossible()) {
    TTPSLazyIndex index(TableNumber, LoadRowStatutes.Contains(rsNormal));
    // The pages of a mapped file can be given back once read: they come again from the
    // file when rows are decoded. (Not a private copy, nor a memory stream's bytes.)
    index.file = bytes;
    index.releaseBehind = stream.ViewIsFileMapping() && !bytes.empty() &&
                          (source_.empty() || bytes.data() != source_.data());
    index.definitions = &records_;
    index.scanOf = [this](const TTPSRecord& r, TTPSRecordScan& scan) {
      // As BuildTables will make them, from a copy of the definition.
      auto def = static_cast<const TTPSRecordTableDefinitionBody&>(*r.Body);
      def.ParseDefinition(r.Bytes(), r.HeaderLength);
      if (SplitArrayFields) SplitArrays(def.Fields, def.FieldCount);
      scan.Fields = std::move(def.Fields);
      scan.FieldCount = std::min<std::int32_t>(def.FieldCount, std::int32_t(scan.Fields.size()));
      scan.SplitArrays = SplitArrayFields;
      return true;
    };
    TpsCollectRecords(view, header_, records_, memos_, store_, &index);
    index.NoteDefinitions();  // those after the last data record, before any is joined
    index.definitions = nullptr;
    TpsJoinDefinitions(records_, store_);
    BuildTables();
    ProduceLazyRows(index, view);
  } else {
    TpsCollectRecords(view, header_, records_, memos_, store_);
    source_.clear();
    source_.shrink_to_fit();
    TpsJoinDefinitions(records_, store_);
    BuildTables();
    if (OnCellValue) ProduceRows();
  }
  CleanUp();
}

void TClarionTPS::SplitArrays(TTPSFields& fields, std::uint16_t& fieldCount) {
  // One pass into a new list: each array field becomes a Group of length 0 followed
  // by one column per element. The count is 16 bits, so splitting stops before the
  // list would outgrow it.
  const std::size_t limit = std::min<std::size_t>(fieldCount, fields.size());
  TTPSFields out;
  out.reserve(fields.size());
  std::uint32_t count = fieldCount;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const TTPSField& f = fields[k];
    if (k >= limit || f.Elements <= 1 || count + f.Elements > 0xFFFF) {
      out.push_back(f);
      continue;
    }
    const std::int32_t position = std::int32_t(out.size());
    const std::uint16_t n = f.Elements;
    const std::uint16_t w = std::uint16_t(f.Length / n);
    out.push_back(f);
    out.back().Type = tpsGroup;
    out.back().Length = 0;
    TClarionFieldLinks& links = SelectedTable().FieldLinks;
    for (std::uint16_t e = 0; e < n; ++e) {
      TTPSField c = f;
      c.Name = f.Name + "_" + std::to_string(e + 1);
      c.Length = w;
      c.Offset = std::uint16_t(f.Offset + e * w);
      c.Elements = 0;
      // The number of descriptors before this copy is inserted.
      links.push_back(TClarionFieldLink{2, std::int32_t(fields.size() + (out.size() - k - 1)),
                                        c.Name, f.Name, position, f.Name});
      out.push_back(std::move(c));
      ++count;
    }
  }
  fields = std::move(out);
  fieldCount = std::uint16_t(count);
}

void TClarionTPS::BuildTables() {
  // Table number -> its first name record, found in one pass.
  std::unordered_map<std::int32_t, const TTPSRecordTableNameBody*> names;
  for (const TTPSRecord& r : records_.Items())
    if (r.Kind == tpsKindTableName && r.Body) {
      auto* b = static_cast<const TTPSRecordTableNameBody*>(r.Body.get());
      names.emplace(b->TableNumber, b);
    }
  for (std::size_t i = 0; i < records_.Count(); ++i) {
    TTPSRecord& r = records_[i];
    if (r.Kind != tpsKindDefinition || !r.Body) continue;
    const std::int32_t index = TableIndexOf(r.TableNumber);
    auto& def = static_cast<TTPSRecordTableDefinitionBody&>(*r.Body);
    def.ParseDefinition(r.Bytes(), r.HeaderLength);
    store_.Release(r.Data);  // the descriptors are all that is needed from now on
    if (SplitArrayFields) SplitArrays(def.Fields, def.FieldCount);

    TTPSClarionTable& t = Table(index);
    t.DefinitionWord1 = def.DefinitionWord1;
    t.DefinitionWord2 = def.DefinitionWord2;
    t.FieldCount = def.FieldCount;
    t.MemoCount = def.MemoCount;
    t.KeyCount = def.KeyCount;
    t.Fields.insert(t.Fields.end(), def.Fields.begin(), def.Fields.end());
    t.Keys.insert(t.Keys.end(), def.Keys.begin(), def.Keys.end());

    std::string name;
    if (auto nb = names.find(r.TableNumber); nb != names.end()) {
      name = nb->second->Name;
    } else {
      TTPSClarionTable& sel = SelectedTable();
      std::size_t colon;
      if (sel.FieldCount > 0 && !sel.Fields.empty() &&
          (colon = sel.Fields[0].Name.find(':')) != std::string::npos) {
        name = sel.Fields[0].Name.substr(colon + 1);
      } else {
        std::size_t slash = FileName.find_last_of("/\\");
        name = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
      }
    }
    TTPSClarionTable& table = Table(index);
    table.Caption = name;
    table.TableName = name;
    table.Cells.AutoCount =
        !(LoadRowStatutes.Contains(rsNormal) && LoadRowStatutes.Contains(rsDeleted) &&
          LoadRowStatutes.Contains(rsError));
    if (AutoPatchFieldNames)
      for (TTPSField& f : table.Fields) {
        std::size_t colon = f.Name.find(':');
        if (colon != std::string::npos) f.Name.erase(0, colon + 1);
      }
    if (OnColumnWidth)
      for (std::size_t j = 0; j < table.Fields.size(); ++j)
        OnColumnWidth(this, index, std::int32_t(j), table.Fields[j].Length);
  }
}

void TClarionTPS::ProduceRows() {
  memoIndex_.Sort(memos_);
  const std::int64_t total = std::int64_t(records_.Count());
  const bool loadNormal = LoadRowStatutes.Contains(rsNormal);
  for (std::size_t i = 0; i < records_.Count(); ++i) {
    TTPSRecord& r = records_[i];
    if (r.Kind != tpsKindData || !r.Body) continue;
    if (TableNumber != 0 && TableNumber != r.TableNumber) continue;
    const std::int32_t sheetNo = TableIndexOf(r.TableNumber);
    if (std::int64_t(Range.LastRow) < std::int64_t(i)) break;
    const std::int32_t recordNumber = static_cast<TTPSRecordDataBody&>(*r.Body).RecordNumber;
    const std::int32_t row = recordNumber - 1;
    DoProgress(std::int64_t(i), total);
    // A record number of 0 or below names no row.
    if (!loadNormal || recordNumber <= 0) {
      store_.Release(r.Data);
      continue;
    }
    TTPSClarionTable& t = Table(sheetNo);
    if (t.FieldCount > t.Fields.size()) t.FieldCount = std::uint16_t(t.Fields.size());
    ProduceRecord(sheetNo, t, r.TableNumber, row, r.Bytes(), r.HeaderLength, invalidDateTimes_);
    SetRecordStatus(sheetNo, row, rsNormal);
    store_.Release(r.Data);  // the row is out; its bytes are not needed again
  }
}

void TClarionTPS::ProduceRecord(std::int32_t sheetNo, TTPSClarionTable& t, std::int32_t tableNumber,
                                std::int32_t row, std::span<const std::uint8_t> data,
                                std::uint16_t headerLength, std::int64_t& invalid) {
  const bool loadMemos = ParseItems.Contains(ipiBLOB);
  const std::int32_t plainFields = std::int32_t(t.FieldCount) - std::int32_t(t.MemoCount);
  const std::size_t textBefore = t.Cells.TextBytes();
  Variant value;
  for (std::int32_t j = 0; j < std::int32_t(t.FieldCount); ++j) {
    const TTPSField& f = t.Fields[std::size_t(j)];
    TKvICellType cellType = ictEmpty;
    TAlignment align = taLeftJustify;
    if (f.IsArray() && !SplitArrayFields) {
      TpsDecodeArray(f, data, headerLength, ArrayFieldSeparator, value, cellType, invalid);
    } else if (f.IsMemo()) {
      value = Variant::Null();
      if (loadMemos) {
        std::uint8_t memoNumber = std::uint8_t((j - plainFields) & 0xFF);
        std::string text =
            memoIndex_.Assemble(memos_, store_, tableNumber, memoNumber, row, f.Type == tpsBLOB);
        if (!text.empty()) {
          value = Variant::String(std::move(text));
          cellType = ictMemo;
        }
      }
    } else {
      TpsDecodeField(f, data, headerLength, value, cellType, invalid);
      if (cellType == ictInteger || cellType == ictDecimal) align = taRightJustify;
    }
    OnCellValue(this, sheetNo, row, j, 0, value, align, cellType);
  }
  const std::size_t stored = t.Cells.TextBytes() - textBefore;
  if (stored > cellTextLeft_) throw Exception(kTextLimitMessage);
  cellTextLeft_ -= stored;
}

// ---- Rows decoded on demand ----

bool TClarionTPS::LazyLoadPossible() const {
  const TKvRange whole;
  return LazyRows && OnCellValue && !ProgressProc && !OnLoadProgress && !OnRecordStatusChanged &&
         Range.LastRow == whole.LastRow && Range.LastCol == whole.LastCol &&
         !(LoadRowStatutes.Contains(rsNormal) && LoadRowStatutes.Contains(rsDeleted) &&
           LoadRowStatutes.Contains(rsError));
}

void TClarionTPS::ProduceLazyRows(TTPSLazyIndex& index, const TTPSFileView& view) {
  memoIndex_.Sort(memos_);
  // The bytes stay for the rows decoded later: a copy read from the stream moves along.
  TTPSFileBytes owned;
  if (!source_.empty() && view.Raw().data() == source_.data()) owned = std::move(source_);
  const bool releaseBehind = owned.empty() && index.releaseBehind;
  auto file =
      std::make_shared<TTPSLazyFile>(std::move(owned), view, std::move(index.pages), releaseBehind);
  const bool loadMemos = ParseItems.Contains(ipiBLOB);
  std::int64_t notCounted = 0;

  for (std::int32_t number : index.order) {
    std::vector<TKvISourceRow>& rows = index.rows[number];
    const std::int32_t sheetNo = TableIndexOf(number);
    TTPSClarionTable& t = Table(sheetNo);
    if (t.FieldCount > t.Fields.size()) t.FieldCount = std::uint16_t(t.Fields.size());
    const std::int32_t fieldCount = t.FieldCount;
    const std::int32_t plainFields = fieldCount - std::int32_t(t.MemoCount);

    // In file order: which records give a plain cell, the last column with one, and
    // the impossible dates; found while the pages were cut when the fields then were
    // the final ones.
    std::int32_t lastColumn = -1;
    const TTPSLazyIndex::Early& early = index.early[number];
    if (early.Active && early.Scan.FieldCount == fieldCount &&
        SameScan(early.Scan.Fields, t.Fields, fieldCount)) {
      lastColumn = early.LastColumn;
      invalidDateTimes_ += early.Invalid;
    } else {
      TTPSRecordScan scan;
      scan.Fields = t.Fields;
      scan.FieldCount = fieldCount;
      scan.SplitArrays = SplitArrayFields;
      FindDateFields(scan);
      for (TKvISourceRow& r : rows) {
        std::span<const std::uint8_t> data;
        std::uint16_t header = 0;
        file->Record(r, data, header);
        const std::int32_t last = ScanRecord(scan, data, header, invalidDateTimes_);
        if (last < 0)
          r.Item |= kTpsItemNoPlainCells;
        else
          r.Item &= ~kTpsItemNoPlainCells;
        lastColumn = std::max(lastColumn, last);
      }
    }
    // Record-number order; records of the same number stay in file order. Files
    // written in record-number order need no sorting.
    const auto byNumber = [](const TKvISourceRow& a, const TKvISourceRow& b) {
      return a.RowNo < b.RowNo;
    };
    if (!std::is_sorted(rows.begin(), rows.end(), byNumber))
      std::stable_sort(rows.begin(), rows.end(), byNumber);
    bool duplicates = false;
    for (std::size_t i = 1; i < rows.size() && !duplicates; ++i)
      duplicates = rows[i].RowNo == rows[i - 1].RowNo;

    if (duplicates || t.Cells.RowEntryCount() > 0 || t.Cells.HasRowSource()) {
      // Later records of a number overwrite earlier ones cell by cell, and a sheet that
      // already holds rows gets more: report every cell, as a load without rows on
      // demand does (the dates were counted above).
      for (const TKvISourceRow& r : rows) {
        std::span<const std::uint8_t> data;
        std::uint16_t header = 0;
        file->Record(r, data, header);
        ProduceRecord(sheetNo, t, number, r.RowNo, data, header, notCounted);
      }
      continue;
    }

    auto source = std::make_unique<TTPSLazyRows>(file, t.Fields, t.FieldCount, SplitArrayFields,
                                                 ArrayFieldSeparator);
    std::size_t cursor = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      TKvISourceRow r = rows[i];
      bool hasCells = (r.Item & kTpsItemNoPlainCells) == 0;
      if (loadMemos && !memos_.Items().empty())
        for (std::int32_t j = 0; j < fieldCount; ++j) {
          const TTPSField& f = t.Fields[std::size_t(j)];
          if (!f.IsMemo() || (f.IsArray() && !SplitArrayFields)) continue;
          std::string text =
              memoIndex_.Assemble(memos_, store_, number, std::uint8_t((j - plainFields) & 0xFF),
                                  r.RowNo, f.Type == tpsBLOB, cursor);
          if (text.empty()) continue;
          source->AddMemo(r.RowNo, j, text);
          hasCells = true;
          lastColumn = std::max(lastColumn, j);
        }
      if (!hasCells) continue;  // a row without cells is not kept
      r.Item &= ~kTpsItemNoPlainCells;
      rows[kept++] = r;
    }
    rows.resize(kept);
    if (rows.empty()) continue;
    t.Cells.RowCount = std::int32_t(rows.size());
    t.Cells.ColCount = std::max(t.Cells.ColCount, lastColumn + 1);
    t.Cells.SetRowSource(std::move(source), std::move(rows));
  }
}

const TTPSClarionTable* TClarionTPS::TableOfSheet(std::int32_t index) const {
  if (index < 0 || index >= sheets_.Count()) return nullptr;
  return dynamic_cast<const TTPSClarionTable*>(&sheets_[index]);
}

void TClarionTPS::CleanUp() {
  for (std::int32_t k = sheets_.Count() - 1; k >= 0; --k) {
    auto* t = dynamic_cast<TTPSClarionTable*>(&sheets_[k]);
    const std::uint16_t fieldCount = t ? t->FieldCount : 0;
    if (sheets_[k].Cells.RowCount == 0 && fieldCount == 0)
      sheets_.Delete(k);
    else
      sheets_[k].Cells.DeleteRowsWithoutCells();
  }
  loading_ = false;
  tableIndex_.clear();
}

std::string TClarionTPS::GetMemoText(std::int32_t column, std::int32_t row) {
  const TTPSField* f = SelectedField(column);
  if (!f || !f->IsMemo()) return std::string();
  Variant v = SelectedTable().Cells.GetValue(column, row);
  return v.IsText() ? v.AsString() : std::string();
}

std::int32_t TClarionTPS::ColumnIndexByName(const std::string& name) {
  std::int32_t result = TCustomClarion::ColumnIndexByName(name);
  TTPSClarionTable& t = SelectedTable();
  const std::size_t n = std::min<std::size_t>(t.FieldCount, t.Fields.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string& fn = t.Fields[i].Name;
    if (SameTextAscii(fn, name)) return std::int32_t(i);
  }
  return result;
}

void TClarionTPS::GetColumnNames(TColumnNameList& list, const std::string& names) {
  TCustomClarion::GetColumnNames(list, names);
  TTPSClarionTable& t = SelectedTable();
  for (std::size_t i = 0; i < t.Fields.size(); ++i)
    list.emplace_back(t.Fields[i].Name, std::int32_t(i));
}

std::string TClarionTPS::GetTypeName(std::uint8_t code) { return TpsTypeName(code); }

void TClarionTPS::SetColumnName(std::int32_t index, const std::string& name) {
  TTPSClarionTable& t = SelectedTable();
  if (index >= 0 && std::size_t(index) < t.Fields.size()) t.Fields[std::size_t(index)].Name = name;
}
