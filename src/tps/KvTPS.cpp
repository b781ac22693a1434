#include "tps/KvTPS.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <unordered_set>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"
#include "cells/KvText.h"
#include "tps/KvTPSLazy.h"
#include "tps/KvTPSOwner.h"
#include "tps/KvTPSRecords.h"
#include "tps/KvTPSScan.h"

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
  // The file is closed (its mapping ended) when this returns: rows decoded later would
  // read from memory no longer there, so this load decodes them now.
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{LazyRows, LazyRows};
  LazyRows = false;
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
  damage_.Clear();
  damage_.Strict = Strict;
  usable_.clear();
  const TTPSFileView view = SourceView(stream);
  const std::span<const std::uint8_t> bytes = view.Raw();
  cellTextLeft_ = (std::uint64_t(16) << 20) + std::uint64_t(1024) * bytes.size();
  if (LazyLoadPossible()) {
    std::optional<TTPSLazyIndex> index;
    for (const bool keepRows : {!ListOnly, true}) {
      index.emplace(TableNumber, LoadRowStatutes.Contains(rsNormal));
      // The pages of a mapped file can be given back once read: they come again from
      // the file when rows are decoded. (Not a private copy, nor a memory stream's bytes.)
      index->file = bytes;
      index->releaseBehind = stream.ViewIsFileMapping() && !bytes.empty() &&
                             (source_.empty() || bytes.data() != source_.data());
      index->definitions = &records_;
      index->scanOf = [this](const TTPSRecord& r, TTPSRecordScan& scan) {
        // As BuildTables will make them, from a copy of the definition.
        auto def = static_cast<const TTPSRecordTableDefinitionBody&>(*r.Body);
        def.ParseDefinition(r.Bytes(), r.HeaderLength);
        if (SplitArrayFields) SplitArrays(def.Fields, def.FieldCount);
        scan.Fields = std::move(def.Fields);
        scan.FieldCount = std::min<std::int32_t>(def.FieldCount, std::int32_t(scan.Fields.size()));
        scan.SplitArrays = SplitArrayFields;
        return true;
      };
      index->keepMemos = ParseItems.Contains(ipiBLOB) && !ListOnly;
      index->keepRows = keepRows;
      TpsCollectRecords(view, header_, records_, memos_, store_, &*index, &damage_, LoadPosition);
      index->NoteDefinitions();  // those after the last data record, before any is joined
      index->definitions = nullptr;
      TpsJoinDefinitions(records_, store_);
      if (keepRows || index->SkippedScansHold(records_)) break;
      // A table's records must be looked at again with its final fields: a load that
      // keeps them.
      records_.Clear();
      memos_.Clear();
      store_.Clear();
      damage_.Clear();  // found again by the second walk
    }
    BuildTables(index->order);
    ProduceLazyRows(*index, view);
  } else {
    TpsCollectRecords(view, header_, records_, memos_, store_, nullptr, &damage_, LoadPosition);
    source_.clear();
    source_.shrink_to_fit();
    TpsJoinDefinitions(records_, store_);
    std::vector<std::int32_t> dataTables;
    std::unordered_set<std::int32_t> seen;
    for (const TTPSRecord& r : records_.Items())
      if (r.Kind == tpsKindData && seen.insert(r.TableNumber).second)
        dataTables.push_back(r.TableNumber);
    BuildTables(dataTables);
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

void TClarionTPS::BuildTables(const std::vector<std::int32_t>& dataTables) {
  // Table number -> its first name record, found in one pass.
  std::unordered_map<std::int32_t, const TTPSRecordTableNameBody*> names;
  for (const TTPSRecord& r : records_.Items())
    if (r.Kind == tpsKindTableName && r.Body) {
      auto* b = static_cast<const TTPSRecordTableNameBody*>(r.Body.get());
      if (names.emplace(b->TableNumber, b).second) damage_.NameTable(b->TableNumber, b->Name);
    }
  const auto nameOf = [&](std::int32_t number) {
    auto nb = names.find(number);
    return nb != names.end() ? nb->second->Name : std::string();
  };
  for (std::size_t i = 0; i < records_.Count(); ++i) {
    TTPSRecord& r = records_[i];
    if (r.Kind != tpsKindDefinition || !r.Body) continue;
    auto& def = static_cast<TTPSRecordTableDefinitionBody&>(*r.Body);
    def.ParseDefinition(r.Bytes(), r.HeaderLength);
    const std::string damage = TpsDefinitionDamage(def, r.Bytes().size());
    store_.Release(r.Data);  // the descriptors are all that is needed from now on
    // The rows of a damaged definition would be garbage: the table is left out.
    if (!damage.empty()) {
      damage_.DefinitionDamaged(r.TableNumber, damage);
      continue;
    }
    AddTable(r.TableNumber, std::move(def), nameOf(r.TableNumber));
  }
  // Tables with data records and no usable definition take one from the other file.
  if (DefinitionsFile.empty()) return;
  std::vector<TTPSForeignDefinition> other;
  for (std::int32_t number : dataTables) {
    if (usable_.count(number) != 0) continue;
    if (other.empty()) other = TpsReadDefinitions(DefinitionsFile, Owner);
    const std::string name = nameOf(number);
    const TTPSForeignDefinition* found = nullptr;
    for (const TTPSForeignDefinition& d : other)
      if (d.TableNumber == number) found = &d;
    for (const TTPSForeignDefinition& d : other)
      if (!found && !name.empty() && SameTextAscii(d.Name, name)) found = &d;
    if (!found) continue;
    if (name.empty()) damage_.NameTable(number, found->Name);
    AddTable(number, found->Definition, name.empty() ? found->Name : name);
    std::size_t slash = DefinitionsFile.find_last_of("/\\");
    damage_.DefinitionTaken(
        number, slash == std::string::npos ? DefinitionsFile : DefinitionsFile.substr(slash + 1));
  }
}

void TClarionTPS::AddTable(std::int32_t number, TTPSRecordTableDefinitionBody def,
                           std::string name) {
  const std::int32_t index = TableIndexOf(number);
  usable_.insert(number);
  if (SplitArrayFields) SplitArrays(def.Fields, def.FieldCount);

  TTPSClarionTable& t = Table(index);
  t.DefinitionWord1 = def.DefinitionWord1;
  t.DefinitionWord2 = def.DefinitionWord2;
  t.FieldCount = def.FieldCount;
  t.MemoCount = def.MemoCount;
  t.KeyCount = def.KeyCount;
  t.Fields.insert(t.Fields.end(), def.Fields.begin(), def.Fields.end());
  t.Keys.insert(t.Keys.end(), def.Keys.begin(), def.Keys.end());

  if (name.empty()) {
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

void TClarionTPS::ProduceRows() {
  memoIndex_.Sort(memos_, &store_, &damage_);
  std::map<std::int32_t, std::uint64_t> withoutDefinition;
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
    if (usable_.count(r.TableNumber) == 0) {
      ++withoutDefinition[r.TableNumber];
      store_.Release(r.Data);
      continue;
    }
    TTPSClarionTable& t = Table(sheetNo);
    if (t.FieldCount > t.Fields.size()) t.FieldCount = std::uint16_t(t.Fields.size());
    ProduceRecord(sheetNo, t, r.TableNumber, row, r.Bytes(), r.HeaderLength, invalidDateTimes_);
    SetRecordStatus(sheetNo, row, rsNormal);
    store_.Release(r.Data);  // the row is out; its bytes are not needed again
  }
  for (const auto& [number, count] : withoutDefinition)
    damage_.RecordsWithoutDefinition(number, count);
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
        std::string text = MemoText(tableNumber, memoNumber, row, f.Type == tpsBLOB);
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
