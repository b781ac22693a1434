// The grid: sheets of cells addressed by 0-based column and row, filled by readers
// and read by the writer and the row filter.
//
// Storage is compact: a sheet's cells live in one array of 16-byte packed cells,
// texts in a per-sheet arena, rows as small records. A row far beyond the last one
// (a damaged record number) goes to a sparse side table, so rows in between cost
// nothing; they still count as rows without cells, exactly as if they existed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "cells/KvVariant.h"

struct FormatSettings;

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

enum TKvICellType : std::uint8_t {
  ictUnknown,
  ictEmpty,
  ictString,
  ictInteger,
  ictDecimal,
  ictDateTime,
  ictBoolean,
  ictMemo,
  ictDate,
  ictTime,
};

enum TKvIRowStatus : std::uint8_t { rsNormal = 0, rsDeleted = 1, rsError = 2 };

// A set of row statuses, bit n for status n.
struct TKvIRowStatuses {
  std::uint8_t bits = 0;
  TKvIRowStatuses() = default;
  TKvIRowStatuses(std::initializer_list<TKvIRowStatus> s) {
    for (auto x : s) bits |= std::uint8_t(1u << x);
  }
  bool Contains(TKvIRowStatus s) const { return (bits >> s) & 1u; }
  void Include(TKvIRowStatus s) { bits |= std::uint8_t(1u << s); }
  void Exclude(TKvIRowStatus s) { bits &= std::uint8_t(~(1u << s)); }
};

struct TKvICell {
  Variant Value;
  TAlignment Alignment = taLeftJustify;
  std::int32_t FormatIndex = -1;
  TKvICellType CellType = ictUnknown;
};

// A cell as stored, without copying its text; valid until the sheet changes.
struct TKvICellView {
  VarKind Kind = VarKind::Empty;
  TAlignment Alignment = taLeftJustify;
  TKvICellType CellType = ictUnknown;
  // With Kind Double and a non-empty Text: the declared decimals of the packed decimal
  // whose stored bytes Text holds (KvDecimal.h), so that its exact digits can be written.
  std::uint8_t PackedDecimals = 0;
  std::int32_t FormatIndex = -1;
  std::int64_t Int = 0;  // SmallInt, Integer, Byte, Currency (scaled), Boolean (0/1)
  double Real = 0;       // Single, Double, Date
  // With Kind Date, Int may also carry the calendar parts Real was made from, so that
  // its text needs no decoding of Real: kCellDateParts | year << 16 | month << 8 | day
  // (a date alone) or kCellTimeParts | hour << 24 | minute << 16 | second << 8 |
  // hundredths (a time alone); 0 when they are not known.
  static constexpr std::int64_t kCellDateParts = std::int64_t(1) << 32;
  static constexpr std::int64_t kCellTimeParts = std::int64_t(2) << 32;
  std::string_view Text;  // String, WideString; a packed decimal's bytes (see above)
  // A packed decimal carrying its stored bytes.
  bool IsPackedDecimal() const { return Kind == VarKind::Double && !Text.empty(); }
  Variant ToVariant() const;
};
// The text form of the cell's value; a packed decimal whose Double text would not
// give back its exact value (more than 15 significant digits) is written as its exact
// digits instead, without exponent.
void AppendTextOf(std::string& out, const TKvICellView& cell, const FormatSettings& fs);

// Where a row of a sheet loaded on demand comes from: its row number, the page its
// record lies in and the record's place in that page (positions the row source
// understands), and a mark the row source keeps for itself (the TopSpeed reader: the
// record's plain fields give no value, only a memo can give the row a cell).
struct TKvISourceRow {
  std::int32_t RowNo = 0;
  std::uint32_t Page = 0;
  std::uint32_t Item : 31 = 0;
  std::uint32_t NoPlainCells : 1 = 0;
};
// Twelve bytes a row: a table of millions of rows keeps one each.
static_assert(sizeof(TKvISourceRow) == 12);
static_assert(std::is_trivially_copyable_v<TKvISourceRow>);

// A vector of trivially copyable items grown with realloc, which moves a large buffer
// by remapping its pages where the C library can. A list of millions of items (the rows
// of a sheet decoded on demand, the memo pieces of a load) then grows without copying
// its items at every doubling, and without touching twice the memory it ends with.
template <typename T>
class TKvIGrownList {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TKvIGrownList() = default;
  TKvIGrownList(std::initializer_list<T> items) {
    for (const T& item : items) push_back(item);
  }
  TKvIGrownList(TKvIGrownList&& other) noexcept { Swap(other); }
  TKvIGrownList& operator=(TKvIGrownList&& other) noexcept {
    TKvIGrownList gone;
    gone.Swap(other);
    Swap(gone);
    return *this;
  }
  TKvIGrownList(const TKvIGrownList&) = delete;
  TKvIGrownList& operator=(const TKvIGrownList&) = delete;
  ~TKvIGrownList() { std::free(items_); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T* begin() { return items_; }
  T* end() { return items_ + size_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }
  T& operator[](std::size_t i) { return items_[i]; }
  const T& operator[](std::size_t i) const { return items_[i]; }
  void push_back(const T& item) {
    if (size_ == capacity_) Grow();
    std::memcpy(static_cast<void*>(items_ + size_), &item, sizeof item);
    ++size_;
  }
  // Keeps the first n items (n at most size()).
  void Truncate(std::size_t n) { size_ = n < size_ ? n : size_; }
  // Empties it and gives its memory back.
  void Release() {
    TKvIGrownList gone;
    Swap(gone);
  }

 private:
  // Doubles the room (throws std::bad_alloc when there is none).
  void Grow() {
    const std::size_t room = capacity_ < 1024 ? 1024 : 2 * capacity_;
    if (room > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    void* grown = std::realloc(static_cast<void*>(items_), room * sizeof(T));
    if (!grown) throw std::bad_alloc();
    items_ = static_cast<T*>(grown);
    capacity_ = room;
  }
  void Swap(TKvIGrownList& other) noexcept {
    std::swap(items_, other.items_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }
  T* items_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
};

// The rows of a sheet decoded on demand.
using TKvISourceRows = TKvIGrownList<TKvISourceRow>;

class TDateTextCache;

// The layout of plain delimited lines (no qualifier, no padding, no value forms), for a
// row source that writes them straight from its records.
struct TKvIPlainRowText {
  bool Delimit = false;
  char Delimiter = 0;  // with Delimit: between two values
  char DecimalSeparator = '.';
  std::string_view RecordSeparator;
  const TDateTextCache* Dates = nullptr;
};

// What came of asking a row source for a plain line.
enum class TKvIPlainRow {
  NotWritten,  // nothing appended: the row goes the general way (its cells, then a format)
  Written,     // the line and its record separator appended
  PastLimit,   // appended in part or whole, and the text is now longer than the limit
};

// Decodes rows of a sheet whose cells are not stored (TSpreadSheetCells::SetRowSource).
class TKvIRowSource {
 public:
  virtual ~TKvIRowSource() = default;
  // Fills cells with the row's cells, index = column, whatever it held before; Kind
  // Empty marks a column without cell. Texts stay valid until the next call.
  virtual void FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) = 0;
  // A second source of the same rows with a state of its own, for decoding rows on
  // another thread alongside this one; null when the source cannot give one.
  virtual std::unique_ptr<TKvIRowSource> CloneForThread() const { return nullptr; }
  // Appends the row's line as plain delimited text of the given columns, the text of
  // each value the one the text layout writes for its cell, when the source can write
  // it straight from its record (faster than its cells, then the layout). The texts of
  // the row last filled may be overwritten.
  virtual TKvIPlainRow AppendPlainRow(const TKvISourceRow& /*row*/,
                                      std::span<const std::int32_t> /*columns*/,
                                      const TKvIPlainRowText& /*text*/, std::string& /*out*/,
                                      std::uint64_t /*limit*/) {
    return TKvIPlainRow::NotWritten;
  }
};

// The cell at Column of a row's cells by column, or null for a column without cell.
inline const TKvICellView* CellInRow(std::span<const TKvICellView> row, std::int32_t column) {
  if (column < 0 || std::size_t(column) >= row.size()) return nullptr;
  const TKvICellView& v = row[std::size_t(column)];
  return v.Kind == VarKind::Empty ? nullptr : &v;
}

// The row last decoded from a source, with its column count (up to its last cell).
struct TKvISourceRowCache {
  std::vector<TKvICellView> Cells;
  std::int64_t Row = -1;
  std::int32_t Columns = 0;
  // Decodes row number Row (described by Where) unless it is the one kept.
  std::int32_t ColumnCount(TKvIRowSource& source, const TKvISourceRow& where, std::int64_t row);
  // The same, giving the row's cells up to its last one.
  std::span<const TKvICellView> RowCells(TKvIRowSource& source, const TKvISourceRow& where,
                                         std::int64_t row) {
    const std::size_t n = std::size_t(ColumnCount(source, where, row));  // may refill Cells
    return {Cells.data(), n};
  }
  void Reset() {
    Cells.clear();
    Row = -1;
  }
  // Row number Row's plain line from the source (TKvIRowSource::AppendPlainRow), unless
  // it is the row kept, whose cells are at hand; the row is no longer kept.
  TKvIPlainRow AppendPlainRow(TKvIRowSource& source, const TKvISourceRow& where, std::int64_t row,
                              std::span<const std::int32_t> columns, const TKvIPlainRowText& text,
                              std::string& out, std::uint64_t limit) {
    if (row == Row) return TKvIPlainRow::NotWritten;
    Row = -1;
    return source.AppendPlainRow(where, columns, text, out, limit);
  }
};

class TSpreadSheetCells;

// Reads the cells of a sheet on a thread of its own while the sheet does not change;
// rows decoded on demand go through a source of the reader's own
// (TSpreadSheetCells::NewCellReader). On cache lines of its own, as what it keeps
// changes with every row it reads.
class alignas(64) TKvICellReader {
 public:
  // As TSpreadSheetCells::PeekCell and RowCells.
  bool PeekCell(std::int32_t column, std::int32_t row, TKvICellView& out);
  std::span<const TKvICellView> RowCells(std::int32_t row);
  TKvIPlainRow AppendPlainRow(std::int32_t row, std::span<const std::int32_t> columns,
                              const TKvIPlainRowText& text, std::string& out, std::uint64_t limit);

 private:
  friend class TSpreadSheetCells;
  const TSpreadSheetCells* cells_ = nullptr;
  std::unique_ptr<TKvIRowSource> source_;
  TKvISourceRowCache cache_;
};

// A free-standing row (the run object's current row). Rows inside a sheet are
// stored packed; see TSpreadSheetCells.
class TSpreadSheetRow {
 public:
  std::int32_t RowNo = 0;
  TKvIRowStatus Status = rsNormal;
  std::int32_t Height = 0;
  // Column entries; an empty optional is a column without cell.
  std::vector<std::optional<TKvICell>> Cols;

  // Resets every existing cell: Null value, left alignment, FormatIndex -1; the
  // cell type and the number of cells stay.
  void ClearRow();
};

class TSpreadSheetCells {
 public:
  std::int32_t DimLastCol = 0;
  std::int32_t DimLastRow = 0;
  std::int32_t ColCount = 0;
  std::int32_t RowCount = 0;
  bool AutoCount = true;

  TSpreadSheetCells();
  ~TSpreadSheetCells();
  TSpreadSheetCells(const TSpreadSheetCells&) = delete;
  TSpreadSheetCells& operator=(const TSpreadSheetCells&) = delete;

  // The cell, or nothing when Row is not below RowCount, the row has no entry, or
  // Column is outside the row's columns.
  std::optional<TKvICell> GetCell(std::int32_t column, std::int32_t row) const;
  bool PeekCell(std::int32_t column, std::int32_t row, TKvICellView& out) const;
  // The cells of a row by column up to its last cell (Kind Empty: a column without
  // cell), for stored rows and rows decoded on demand alike; none for a row out of
  // range. Valid until another row is read through this object or the sheet changes.
  // Fails as decoding the row fails.
  std::span<const TKvICellView> RowCells(std::int32_t row) const;
  // Row Row as a plain line straight from the source of rows decoded on demand, when it
  // can write it (TKvIRowSource::AppendPlainRow); NotWritten for stored rows.
  TKvIPlainRow AppendPlainRow(std::int32_t row, std::span<const std::int32_t> columns,
                              const TKvIPlainRowText& text, std::string& out,
                              std::uint64_t limit) const;
  // A copy of the cell's value, or Null.
  Variant GetValue(std::int32_t column, std::int32_t row) const;
  // Stores a cell; Null, Empty or a negative Column store nothing. A negative Row
  // fails with "List index out of bounds (%d)".
  void SetCell(std::int32_t column, std::int32_t row, const Variant& value, TAlignment alignment,
               std::int32_t formatIndex, TKvICellType cellType);
  // Makes the row list hold more than Row entries; new rows get RowNo = position.
  void EnsureRow(std::int32_t row);
  // Removes row entry Index; later rows move up (RowNo unchanged).
  void DeleteRow(std::int32_t index);
  // Removes every row entry that holds no cell, in one pass; RowCount drops by one
  // for each removed row below it. Returns the number removed.
  std::int64_t DeleteRowsWithoutCells();
  void Clear();
  // The dimensions rule: DimLastRow/DimLastCol (the latter capped at windowLastCol),
  // copied to RowCount/ColCount when AutoCount is off.
  void SetDimensions(std::int32_t lastRow, std::int32_t lastColumn, std::int32_t windowLastCol);

  // Number of row entries in the list (may differ from RowCount).
  std::int64_t RowEntryCount() const { return entryCount_; }
  // Number of column entries of a row (0 for a missing row).
  std::int32_t RowColumnCount(std::int32_t row) const;
  std::int32_t RowNo(std::int32_t row) const;
  TKvIRowStatus RowStatus(std::int32_t row) const;
  std::int32_t RowHeight(std::int32_t row) const;
  // Set a row's status or height; the row entry must exist (EnsureRow first).
  void SetRowStatus(std::int32_t row, TKvIRowStatus status);
  void SetRowHeight(std::int32_t row, std::int32_t height);
  // Copies row Row into a free-standing row (cells by value).
  void CopyRow(std::int32_t row, TSpreadSheetRow& out) const;
  // Bytes held by the container, for memory checks.
  std::size_t MemoryUsed() const;

  // Rows decoded on demand: the sheet keeps no cells, only where each of its rows
  // comes from (row entry i is rows[i]); a cell that is asked for decodes its row
  // through the source, and the last row decoded is kept. Every row given must hold at
  // least one cell. Replaces what the sheet held; RowCount and ColCount are the
  // caller's. Any change to the rows or cells stores every row first
  // (StoreSourceRows), after which the sheet is an ordinary one.
  void SetRowSource(std::unique_ptr<TKvIRowSource> source, TKvISourceRows rows);
  bool HasRowSource() const { return source_ != nullptr; }
  // Bytes allocated for the texts of stored cells (a replaced cell's old text stays
  // until Clear).
  std::size_t TextBytes() const { return arenaBytes_; }
  // Decodes every row into ordinary storage and drops the source.
  void StoreSourceRows();
  // A reader of this sheet for another thread; null when rows decoded on demand have
  // no source for a second thread. Valid while the sheet lives and does not change.
  std::unique_ptr<TKvICellReader> NewCellReader() const;

 private:
  struct PackedCell;
  struct RowRec;
  RowRec* FindRow(std::int64_t row);
  const RowRec* FindRow(std::int64_t row) const;
  RowRec& MakeRow(std::int64_t row);
  void StoreText(PackedCell& cell, std::string_view text);
  void ViewOf(const PackedCell& cell, TKvICellView& out) const;
  std::int32_t WideFormat(std::int64_t row, std::int32_t column) const;
  // The views of stored row Row, kept in Cache until another row is asked for.
  std::span<const TKvICellView> StoredRowCells(std::int64_t row, TKvISourceRowCache& cache) const;

  std::vector<RowRec> dense_;              // rows 0 .. dense_.size()-1
  std::map<std::int64_t, RowRec> sparse_;  // rows beyond the dense part
  std::int64_t entryCount_ = 0;            // logical length of the row list
  std::vector<PackedCell> cells_;
  std::vector<std::unique_ptr<char[]>> arena_;
  char* arenaCur_ = nullptr;    // the chunk being filled
  std::size_t arenaUsed_ = 0;   // bytes used in the last arena chunk
  std::size_t arenaCap_ = 0;    // size of the last arena chunk
  std::size_t arenaBytes_ = 0;  // all arena bytes allocated
  std::unordered_map<std::uint64_t, std::int32_t> wideFormats_;  // FormatIndex beyond 16 bits

  // Rows decoded on demand.
  std::int32_t SourceColumnCount(std::int64_t row) const;
  std::unique_ptr<TKvIRowSource> source_;
  TKvISourceRows sourceRows_;
  // On a cache line of its own: it changes with every row read here, while a reader on
  // another thread reads the fields before it with every row it reads.
  alignas(64) mutable TKvISourceRowCache rowCache_;
  friend class TKvICellReader;
};

class TSpreadSheet {
 public:
  TSpreadSheet();
  virtual ~TSpreadSheet();
  TSpreadSheet(const TSpreadSheet&) = delete;
  TSpreadSheet& operator=(const TSpreadSheet&) = delete;

  TSpreadSheetCells Cells;
  // The sheet's name. Kept as 8-bit text: names come from 8-bit files and convert to
  // and from 16-bit text one code unit per byte, so comparisons are the same.
  std::string Caption;
  // Column widths by 0-based column; missing entries are 0.
  std::vector<std::int32_t> Columns;
};

class TSpreadSheets {
 public:
  using ItemFactory = std::function<std::unique_ptr<TSpreadSheet>()>;

  TSpreadSheets();
  ~TSpreadSheets();

  // The class of sheet AddSheet creates (TSpreadSheet when unset).
  void SetItemClass(ItemFactory factory) { itemClass_ = std::move(factory); }
  // Appends a sheet named "Sheet<n>" (1-based position); returns its index.
  std::int32_t AddSheet();
  // The sheet at Index; a negative index is 0; missing sheets are created.
  TSpreadSheet& Items(std::int32_t index);
  TSpreadSheet& operator[](std::int32_t index) { return *sheets_.at(std::size_t(index)); }
  const TSpreadSheet& operator[](std::int32_t index) const {
    return *sheets_.at(std::size_t(index));
  }
  std::int32_t Count() const { return std::int32_t(sheets_.size()); }
  // First sheet whose Caption equals Name exactly, or -1.
  std::int32_t IndexOfName(std::string_view name) const;
  void Delete(std::int32_t index);
  void Clear();

 private:
  std::vector<std::unique_ptr<TSpreadSheet>> sheets_;
  ItemFactory itemClass_;
};

// A window on the source: 1-based bounds.
struct TKvRange {
  std::int32_t FirstRow = 1;
  std::int32_t LastRow = 2147483647;
  std::int32_t FirstCol = 1;
  std::int32_t LastCol = 2147483647;
};

// 1 -> A, 26 -> Z, 27 -> AA; 0 or less gives "".
std::string ColumnLetters(std::int64_t n);
// 0-based index of column letters, -1 for invalid text or beyond MaxCount.
std::int32_t ColumnIndexFromLetters(std::string_view text, std::int32_t maxCount);
