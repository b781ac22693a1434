#include "tps/KvTPSLazy.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "tps/KvTPSValues.h"

TTPSLazyFile::TTPSLazyFile(TTPSFileBytes owned, const TTPSFileView& view,
                           std::vector<std::uint64_t> pageOffsets, bool releaseBehind)
    : Owned(std::move(owned)),
      View(view),
      PageOffsets(std::move(pageOffsets)),
      ReleaseBehind(releaseBehind),
      Pages(View, releaseBehind) {}

bool TTPSLazyFile::Record(const TKvISourceRow& row, TTPSPageCache& pages,
                          std::span<const std::uint8_t>& data, std::uint16_t& headerLength) const {
  if (row.Page >= PageOffsets.size()) return false;
  return pages.Record(PageOffsets[row.Page], row.Item, data, headerLength);
}

TTPSLazyRows::TTPSLazyRows(std::shared_ptr<TTPSLazyFile> file, const TTPSFields& fields,
                           std::uint16_t fieldCount, bool splitArrays, std::string arraySeparator)
    : file_(std::move(file)),
      fields_(fields.begin(),
              fields.begin() + std::ptrdiff_t(std::min<std::size_t>(fieldCount, fields.size()))),
      splitArrays_(splitArrays),
      separator_(std::move(arraySeparator)) {
  for (std::uint32_t j = 0; j < fields_.size(); ++j) {
    const TTPSField& f = fields_[j];
    (f.IsArray() && !splitArrays_ ? arrays_ : f.IsMemo() ? memoFields_ : decoded_).push_back(j);
  }
}

std::unique_ptr<TKvIRowSource> TTPSLazyRows::CloneForThread() const {
  std::unique_ptr<TTPSLazyRows> clone(new TTPSLazyRows(*this));
  // Each source gives back the mapped bytes it has left behind: while one thread only
  // writes, the other reads on alone. Bytes another thread still reads come back from
  // the file.
  clone->ownPages_ = std::make_unique<TTPSPageCache>(file_->View, file_->ReleaseBehind);
  clone->memoCursor_ = 0;
  return clone;
}

TTPSLazyRows::TTPSLazyRows(const TTPSLazyRows& other)
    : file_(other.file_),
      fields_(other.fields_),
      decoded_(other.decoded_),
      arrays_(other.arrays_),
      memoFields_(other.memoFields_),
      splitArrays_(other.splitArrays_),
      separator_(other.separator_),
      memos_(other.memos_),
      memosFrom_(other.memosFrom_),
      memosTo_(other.memosTo_),
      memoColumns_(other.memoColumns_) {}

void TTPSLazyRows::SetMemos(std::shared_ptr<const TTPSMemoPieces> pieces, std::size_t first,
                            std::size_t last, std::int32_t plainFields) {
  memos_ = std::move(pieces);
  memosFrom_ = memoCursor_ = first;
  memosTo_ = last;
  memoColumns_.clear();
  for (std::size_t j = 0; j < fields_.size(); ++j) {
    const TTPSField& f = fields_[j];
    if (!f.IsMemo() || (f.IsArray() && !splitArrays_)) continue;
    memoColumns_.push_back(
        {j, std::uint8_t((std::int32_t(j) - plainFields) & 0xFF), f.Type == tpsBLOB});
  }
}

void TTPSLazyRows::AssembleMemos(const TKvISourceRow& row, TTPSPageCache& pages) {
  copied_.clear();
  memoText_.clear();
  if (!memos_ || memosFrom_ >= memosTo_) return;
  for (const MemoColumn& mc : memoColumns_) {
    const auto [first, last] =
        memos_->Find(memosFrom_, memosTo_, row.RowNo + 1, mc.Number, memoCursor_);
    if (first == last) continue;
    const TTPSMemoText text = TpsAssembleMemo(memos_->Items().subspan(first, last - first), mc.Blob,
                                              file_->PageOffsets, pages, memoText_);
    if (text.Length > 0) copied_.push_back({mc.Column, text.At, text.Length});
  }
}

TKvIPlainRow TTPSLazyRows::AppendPlainRow(const TKvISourceRow& row,
                                          std::span<const std::int32_t> columns,
                                          const TKvIPlainRowText& text, std::string& out,
                                          std::uint64_t limit) {
  if (!arrays_.empty()) return TKvIPlainRow::NotWritten;
  if (plainFields_.size() != fields_.size()) plainFields_ = TpsPlainFields(fields_);
  const std::size_t mark = out.size();
  TKvIPlainRow line = TKvIPlainRow::NotWritten;
  try {
    TTPSPageCache& pages = ownPages_ ? *ownPages_ : file_->Pages;
    // As FillRow: the memo texts first, then the record, whose page then stays in the
    // cache while the line is written.
    AssembleMemos(row, pages);
    plainMemos_.clear();
    for (const Copied& c : copied_)
      plainMemos_.push_back({c.Column, std::string_view(memoText_.data() + c.At, c.Length)});
    std::span<const std::uint8_t> data;
    std::uint16_t header = 0;
    if (file_->Record(row, pages, data, header))
      line = TpsAppendPlainRow(plainFields_, columns, data, header, plainMemos_, text, out, limit);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // The general way reads the row again and reports the failure as it does.
    line = TKvIPlainRow::NotWritten;
  }
  if (line == TKvIPlainRow::NotWritten) out.resize(mark);
  return line;
}

void TTPSLazyRows::FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) {
  // Every cell is written below: the cells of the row before need no clearing.
  const std::size_t n = fields_.size();
  cells.resize(n);
  TKvICellView* const out = cells.data();
  const TTPSField* const fields = fields_.data();
  rowText_.clear();
  TTPSPageCache& pages = ownPages_ ? *ownPages_ : file_->Pages;
  const bool ownPages = ownPages_ != nullptr;
  // The memo texts first: their pieces may lie on other pages, and the record's page
  // read last stays in the cache while its fields are decoded. Their cells are made
  // after the record's.
  AssembleMemos(row, pages);
  const std::size_t memoCells = copied_.size();
  std::span<const std::uint8_t> data;
  std::uint16_t header = 0;
  const bool found = file_->Record(row, pages, data, header);
  std::int64_t counted = 0;  // impossible dates were counted when the file was loaded
  std::size_t recordAt = std::string::npos;  // where rowText_ holds the record's copy

  if (found) {
    TpsDecodeFieldViews(fields_, decoded_, data, header, out, counted);
    // The file's page cache is shared with other tables: the row keeps its own copy of
    // its texts (and of packed decimals' bytes), the record copied once. A page cache of
    // the source's own keeps the page until the next row.
    if (!ownPages)
      for (const std::uint32_t j : decoded_) {
        const std::string_view text = out[j].Text;
        if (text.empty()) continue;
        if (recordAt == std::string::npos) {
          recordAt = rowText_.size();
          rowText_.append(reinterpret_cast<const char*>(data.data()), data.size());
        }
        const std::size_t at =
            recordAt +
            std::size_t(reinterpret_cast<const std::uint8_t*>(text.data()) - data.data());
        copied_.push_back({j, at, text.size()});
      }
  } else {
    for (const std::uint32_t j : decoded_) out[j] = TKvICellView{};
  }
  for (const std::uint32_t j : arrays_) {
    TKvICellView& cell = out[j];
    cell = TKvICellView{};
    if (!found) continue;
    TKvICellType type = ictEmpty;
    TpsDecodeArray(fields[j], data, header, separator_, arrayValue_, type, counted);
    cell.Kind = VarKind::String;
    cell.CellType = type;
    cell.FormatIndex = 0;
    copied_.push_back({j, rowText_.size(), arrayValue_.AsString().size()});
    rowText_ += arrayValue_.AsString();
  }
  for (const std::uint32_t j : memoFields_) out[j] = TKvICellView{};  // made below when given
  for (std::size_t k = 0; k < memoCells; ++k) {
    TKvICellView& cell = out[copied_[k].Column];
    cell.Kind = VarKind::String;
    cell.CellType = ictMemo;
    cell.FormatIndex = 0;
    cell.Text = std::string_view(memoText_.data() + copied_[k].At, copied_[k].Length);
  }
  for (std::size_t k = memoCells; k < copied_.size(); ++k)
    out[copied_[k].Column].Text =
        std::string_view(rowText_.data() + copied_[k].At, copied_[k].Length);
}
