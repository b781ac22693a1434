#include "tps/KvTPSLazy.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "tps/KvTPSValues.h"

TTPSLazyFile::TTPSLazyFile(std::vector<std::uint8_t> owned, std::span<const std::uint8_t> bytes,
                           std::vector<std::uint64_t> pageOffsets, bool releaseBehind)
    : Owned(std::move(owned)),
      Bytes(bytes),
      PageOffsets(std::move(pageOffsets)),
      Pages(Bytes, releaseBehind) {}

bool TTPSLazyFile::Record(const TKvISourceRow& row, std::span<const std::uint8_t>& data,
                          std::uint16_t& headerLength) {
  if (row.Block >= PageOffsets.size()) return false;
  return Pages.Record(PageOffsets[row.Block], row.Item & kTpsItemMask, data, headerLength);
}

TTPSLazyRows::TTPSLazyRows(std::shared_ptr<TTPSLazyFile> file, const TTPSFields& fields,
                           std::uint16_t fieldCount, bool splitArrays, std::string arraySeparator)
    : file_(std::move(file)),
      fields_(fields.begin(),
              fields.begin() + std::ptrdiff_t(std::min<std::size_t>(fieldCount, fields.size()))),
      splitArrays_(splitArrays),
      separator_(std::move(arraySeparator)) {}

void TTPSLazyRows::AddMemo(std::int32_t rowNo, std::int32_t column, std::string_view text) {
  constexpr std::size_t kChunk = 1 << 20;
  char* dst;
  if (text.size() >= kChunk / 4) {
    memoLarge_.push_back(std::make_unique<char[]>(text.size()));
    dst = memoLarge_.back().get();
  } else {
    if (chunkCap_ - chunkUsed_ < text.size()) {
      memoChunks_.push_back(std::make_unique<char[]>(kChunk));
      chunkCap_ = kChunk;
      chunkUsed_ = 0;
    }
    dst = memoChunks_.back().get() + chunkUsed_;
    chunkUsed_ += text.size();
  }
  std::memcpy(dst, text.data(), text.size());
  memos_.push_back({rowNo, column, dst, text.size()});
}

std::size_t TTPSLazyRows::FirstMemoOf(std::int32_t rowNo) {
  auto before = [](const MemoRef& x, std::int32_t r) { return x.RowNo < r; };
  std::size_t m = std::min(memoCursor_, memos_.size());
  if (m > 0 && !before(memos_[m - 1], rowNo))
    return std::size_t(std::lower_bound(memos_.begin(), memos_.end(), rowNo, before) -
                       memos_.begin());
  // Rows asked for in order: the next memos are at the cursor.
  for (int steps = 0; m < memos_.size() && before(memos_[m], rowNo); ++m)
    if (++steps == 8)
      return std::size_t(
          std::lower_bound(memos_.begin() + std::ptrdiff_t(m), memos_.end(), rowNo, before) -
          memos_.begin());
  return m;
}

void TTPSLazyRows::FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) {
  cells.assign(fields_.size(), TKvICellView{});
  rowText_.clear();
  copied_.clear();
  std::span<const std::uint8_t> data;
  std::uint16_t header = 0;
  const bool found = file_->Record(row, data, header);
  std::int64_t counted = 0;  // impossible dates were counted when the file was loaded
  std::size_t m = memos_.empty() ? 0 : FirstMemoOf(row.RowNo);

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
      while (m < memos_.size() && memos_[m].RowNo == row.RowNo &&
             memos_[m].Column < std::int32_t(j))
        ++m;
      if (m < memos_.size() && memos_[m].RowNo == row.RowNo &&
          memos_[m].Column == std::int32_t(j)) {
        cell.Kind = VarKind::String;
        cell.CellType = ictMemo;
        cell.FormatIndex = 0;
        cell.Text = std::string_view(memos_[m].Text, memos_[m].Length);
      }
    } else if (found) {
      if (!TpsDecodeFieldView(f, data, header, cell, counted)) {
        cell = TKvICellView{};
      } else if (cell.Kind == VarKind::String && !cell.Text.empty()) {
        // The page buffer is shared with other tables: the row keeps its own copy.
        copied_.push_back({j, rowText_.size(), cell.Text.size()});
        rowText_.append(cell.Text);
      }
    }
  }
  while (m < memos_.size() && memos_[m].RowNo == row.RowNo) ++m;
  memoCursor_ = m;
  for (const Copied& c : copied_)
    cells[c.Column].Text = std::string_view(rowText_.data() + c.At, c.Length);
}
