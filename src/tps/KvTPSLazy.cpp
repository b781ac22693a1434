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
      Pages(View, releaseBehind) {}

bool TTPSLazyFile::Record(const TKvISourceRow& row, TTPSPageCache& pages,
                          std::span<const std::uint8_t>& data, std::uint16_t& headerLength) const {
  if (row.Block >= PageOffsets.size()) return false;
  return pages.Record(PageOffsets[row.Block], row.Item & kTpsItemMask, data, headerLength);
}

TTPSLazyRows::TTPSLazyRows(std::shared_ptr<TTPSLazyFile> file, const TTPSFields& fields,
                           std::uint16_t fieldCount, bool splitArrays, std::string arraySeparator)
    : file_(std::move(file)),
      fields_(fields.begin(),
              fields.begin() + std::ptrdiff_t(std::min<std::size_t>(fieldCount, fields.size()))),
      splitArrays_(splitArrays),
      separator_(std::move(arraySeparator)) {}

std::unique_ptr<TKvIRowSource> TTPSLazyRows::CloneForThread() const {
  std::unique_ptr<TTPSLazyRows> clone(new TTPSLazyRows(*this));
  // Mapped bytes are given back only by the first source: the others read behind it.
  clone->ownPages_ = std::make_unique<TTPSPageCache>(file_->View, false);
  clone->memoCursor_ = 0;
  return clone;
}

TTPSLazyRows::TTPSLazyRows(const TTPSLazyRows& other)
    : file_(other.file_),
      fields_(other.fields_),
      splitArrays_(other.splitArrays_),
      separator_(other.separator_),
      memos_(other.memos_) {}

void TTPSLazyRows::AddMemo(std::int32_t rowNo, std::int32_t column, std::string_view text) {
  constexpr std::size_t kChunk = 1 << 20;
  Memos& ms = *memos_;
  char* dst;
  if (text.size() >= kChunk / 4) {
    ms.Large.push_back(std::make_unique<char[]>(text.size()));
    dst = ms.Large.back().get();
  } else {
    if (ms.ChunkCap - ms.ChunkUsed < text.size()) {
      ms.Chunks.push_back(std::make_unique<char[]>(kChunk));
      ms.ChunkCap = kChunk;
      ms.ChunkUsed = 0;
    }
    dst = ms.Chunks.back().get() + ms.ChunkUsed;
    ms.ChunkUsed += text.size();
  }
  std::memcpy(dst, text.data(), text.size());
  ms.Refs.push_back({rowNo, column, dst, text.size()});
}

std::size_t TTPSLazyRows::FirstMemoOf(std::int32_t rowNo) {
  auto before = [](const MemoRef& x, std::int32_t r) { return x.RowNo < r; };
  const std::vector<MemoRef>& memos = memos_->Refs;
  std::size_t m = std::min(memoCursor_, memos.size());
  if (m > 0 && !before(memos[m - 1], rowNo))
    return std::size_t(std::lower_bound(memos.begin(), memos.end(), rowNo, before) - memos.begin());
  // Rows asked for in order: the next memos are at the cursor.
  for (int steps = 0; m < memos.size() && before(memos[m], rowNo); ++m)
    if (++steps == 8)
      return std::size_t(
          std::lower_bound(memos.begin() + std::ptrdiff_t(m), memos.end(), rowNo, before) -
          memos.begin());
  return m;
}

void TTPSLazyRows::FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) {
  cells.assign(fields_.size(), TKvICellView{});
  rowText_.clear();
  copied_.clear();
  std::span<const std::uint8_t> data;
  std::uint16_t header = 0;
  const bool found =
      ownPages_ ? file_->Record(row, *ownPages_, data, header) : file_->Record(row, data, header);
  const std::vector<MemoRef>& memos = memos_->Refs;
  std::int64_t counted = 0;  // impossible dates were counted when the file was loaded
  std::size_t m = memos.empty() ? 0 : FirstMemoOf(row.RowNo);

  for (std::size_t j = 0; j < fields_.size(); ++j) {
    const TTPSField& f = fields_[j];
    TKvICellView& cell = cells[j];
    if (f.IsArray() && !splitArrays_) {
      if (!found) continue;
      TKvICellType type = ictEmpty;
      TpsDecodeArray(f, data, header, separator_, arrayValue_, type, counted);
      cell.Kind = VarKind::String;
      cell.CellType = type;
      cell.FormatIndex = 0;
      copied_.push_back({j, rowText_.size(), arrayValue_.AsString().size()});
      rowText_ += arrayValue_.AsString();
    } else if (f.IsMemo()) {
      while (m < memos.size() && memos[m].RowNo == row.RowNo && memos[m].Column < std::int32_t(j))
        ++m;
      if (m < memos.size() && memos[m].RowNo == row.RowNo && memos[m].Column == std::int32_t(j)) {
        cell.Kind = VarKind::String;
        cell.CellType = ictMemo;
        cell.FormatIndex = 0;
        cell.Text = std::string_view(memos[m].Text, memos[m].Length);
      }
    } else if (found) {
      if (!TpsDecodeFieldView(f, data, header, cell, counted)) {
        cell = TKvICellView{};
      } else if (!cell.Text.empty() && !ownPages_) {
        // The file's page cache is shared with other tables: the row keeps its own
        // copy of a text (or of a packed decimal's bytes). A page cache of the source's own keeps
        // the page until the next row.
        copied_.push_back({j, rowText_.size(), cell.Text.size()});
        rowText_.append(cell.Text);
      }
    }
  }
  while (m < memos.size() && memos[m].RowNo == row.RowNo) ++m;
  memoCursor_ = m;
  for (const Copied& c : copied_)
    cells[c.Column].Text = std::string_view(rowText_.data() + c.At, c.Length);
}
