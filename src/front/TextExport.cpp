#include "front/TextExport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "cells/KvConvert.h"
#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvText.h"
#include "front/PathNames.h"
#include "front/RunObject.h"
#include "front/RunOptions.h"

namespace {

const std::string kNone(1, '\0');

// Width of a value of each numeric type in the fixed-width layout; 0 = field size.
std::int32_t TypeWidth(const TExportField& f) {
  switch (f.Type) {
    case 1:
      return 3;
    case 2:
    case 3:
      return 5;
    case 6:
    case 7:
      return 8;
    case 8:
    case 9:
    case 10:
      return 15;
    default:
      return f.Length;
  }
}

// The texts of date and time values under one set of regional settings, kept while
// one table is written (the settings stay the same meanwhile): a table's dates repeat
// a great deal, and their text form is the costly one. A time of day alone (day 0) is
// known by its hours, minutes and seconds when the time form shows no milliseconds,
// since that is all its text can depend on; a table with many of them gets one text
// per second of the day. Other values go through a small table of recent values.
class TDateTextCache {
 public:
  explicit TDateTextCache(const FormatSettings& settings)
      : settings_(settings),
        timeByClock_(settings.LongTimeFormat.find_first_of("zZ") == std::string::npos) {
    // The usual numeric forms are put together from the calendar's parts directly,
    // once they are seen to give the same texts as the settings' own formatting.
    plainTime_ = settings.LongTimeFormat == "hh:nn:ss";
    plainDate_ =
        settings.ShortDateFormat == "yyyy-mm-dd" || settings.ShortDateFormat == "yyyy/mm/dd";
    dateSeparator_ = settings.ShortDateFormat[4] == '/' ? settings.DateSeparator : '-';
    for (double v : {1.0, 43481.0, 2958465.0, -693593.0, 1.0 / 86400, 0.5, 0.9999, 0.9268634,
                     43481.75, -3.25, 12.000001}) {
      std::string fast, want;
      AppendDateTimeText(want, v, settings);
      if (AppendPlain(fast, v) && fast != want) plainTime_ = plainDate_ = false;
    }
  }

  void Append(std::string& out, double value) {
    if ((plainTime_ || plainDate_) && AppendPlain(out, value)) return;
    if (timeByClock_ && value >= 0 && value < 1) {
      int hour, minute, second, ms;
      DecodeTime(value, hour, minute, second, ms);
      if (hour < 24 && minute < 60 && second < 60) {
        const std::uint32_t clock = std::uint32_t(hour * 3600 + minute * 60 + second);
        if (!clockTexts_.empty() || ++clockValues_ > 4096) {
          AppendClock(out, value, clock);
          return;
        }
        AppendRecent(out, value, std::uint64_t(clock), 2);
        return;
      }
    }
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendRecent(out, value, bits, 1);
  }

 private:
  static constexpr std::uint32_t kSecondsPerDay = 86400;

  // The last two decimal digits of a value that is not negative.
  static char* Two(char* at, int v) {
    static constexpr auto kPairs = [] {
      std::array<char, 200> pairs{};
      for (int i = 0; i < 100; ++i) {
        pairs[std::size_t(2 * i)] = char('0' + i / 10);
        pairs[std::size_t(2 * i + 1)] = char('0' + i % 10);
      }
      return pairs;
    }();
    std::memcpy(at, kPairs.data() + 2 * (v % 100), 2);
    return at + 2;
  }

  // The text of the value in the plain numeric forms; false when it needs a form that
  // is not plain (nothing is appended then). Put together in a small buffer and
  // appended at once.
  bool AppendPlain(std::string& out, double value) const {
    if (!std::isfinite(value)) return false;
    const double day = std::trunc(value);
    const bool timeOnly = day == 0, dateOnly = value - day == 0 && !timeOnly;
    if ((!timeOnly && !plainDate_) || (!dateOnly && !plainTime_)) return false;
    char text[24];
    char* t = text;
    if (!timeOnly) {
      int year, month, dayOfMonth;
      DecodeDate(value, year, month, dayOfMonth);
      if (year < 1000 || year > 9999) return false;
      t = Two(t, year / 100);
      t = Two(t, year % 100);
      *t++ = dateSeparator_;
      t = Two(t, month);
      *t++ = dateSeparator_;
      t = Two(t, dayOfMonth);
      if (dateOnly) {
        out.append(text, std::size_t(t - text));
        return true;
      }
      *t++ = ' ';
    }
    int hour, minute, second, ms;
    DecodeTime(value, hour, minute, second, ms);
    t = Two(t, hour);
    *t++ = settings_.TimeSeparator;
    t = Two(t, minute);
    *t++ = settings_.TimeSeparator;
    t = Two(t, second);
    out.append(text, std::size_t(t - text));
    return true;
  }
  struct Entry {
    std::uint64_t Key = 0;
    std::uint8_t Kind = 0;  // 0: empty, 1: the value's bits, 2: a time by its clock
    std::uint8_t Length = 0;
    char Text[38];
  };

  void AppendClock(std::string& out, double value, std::uint32_t clock) {
    if (clockTexts_.empty()) clockTexts_.assign(kSecondsPerDay, {0, 0});
    auto& slot = clockTexts_[clock];
    if (slot.second == 0) {
      text_.clear();
      AppendDateTimeText(text_, value, settings_);
      if (text_.empty() || text_.size() > 255) {
        out += text_;
        return;
      }
      slot = {std::uint32_t(clockArena_.size()), std::uint8_t(text_.size())};
      clockArena_ += text_;
    }
    out.append(clockArena_, slot.first, slot.second);
  }

  void AppendRecent(std::string& out, double value, std::uint64_t key, std::uint8_t kind) {
    Entry& e = recent_[(key ^ (key >> 29) ^ (key >> 41)) * 0x9E3779B97F4A7C15ULL >> shift_];
    if (e.Kind != kind || e.Key != key) {
      // Many different values: a larger table, up to 2^14 entries.
      if (++misses_ > 2 * recent_.size() && shift_ > 50) {
        shift_ -= 2;
        recent_.assign(std::size_t(1) << (64 - shift_), Entry{});
        misses_ = 0;
        AppendRecent(out, value, key, kind);
        return;
      }
      text_.clear();
      AppendDateTimeText(text_, value, settings_);
      if (text_.size() > sizeof e.Text) {
        out += text_;
        return;
      }
      e.Key = key;
      e.Kind = kind;
      e.Length = std::uint8_t(text_.size());
      std::memcpy(e.Text, text_.data(), text_.size());
    }
    out.append(e.Text, e.Length);
  }

  const FormatSettings& settings_;
  const bool timeByClock_;
  bool plainTime_ = false, plainDate_ = false;
  char dateSeparator_ = '-';
  int shift_ = 54;  // 64 - log2 of the number of entries
  std::vector<Entry> recent_ = std::vector<Entry>(std::size_t(1) << (64 - 54));
  std::size_t misses_ = 0;
  std::size_t clockValues_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> clockTexts_;  // by second of the day
  std::string clockArena_;
  std::string text_;
};

// The cells of one row as a line reads them: the whole row at once when it is decoded
// on demand, otherwise cell by cell. Cells: the sheet's cells, or a reader of them for
// another thread.
template <class Cells>
class TLineCells {
 public:
  TLineCells(Cells& cells, std::int32_t row) : cells_(cells), row_(row) {
    try {
      whole_ = cells.PeekRow(row, views_);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      whole_ = false;  // each cell then fails on its own
    }
  }
  // The cell at Column, or null for none; may fail as reading the cell fails.
  const TKvICellView* Peek(std::int32_t column, TKvICellView& scratch) {
    if (!whole_) return cells_.PeekCell(column, row_, scratch) ? &scratch : nullptr;
    return CellInRow(views_, column);
  }

 private:
  Cells& cells_;
  const std::int32_t row_;
  bool whole_ = false;
  std::span<const TKvICellView> views_;
};

// Appends the text of one cell; "#error#" when the value cannot be read or converted.
template <class Cells>
void AppendCellText(std::string& out, TLineCells<Cells>& cells, std::int32_t column,
                    const FormatSettings& settings, TDateTextCache& dates) {
  const std::size_t mark = out.size();
  try {
    TKvICellView scratch;
    const TKvICellView* view = cells.Peek(column, scratch);
    if (!view) return;
    if (view->Kind == VarKind::Date)
      dates.Append(out, view->Real);
    else
      AppendTextOf(out, *view, settings);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    out.resize(mark);
    out += "#error#";
  }
}

}  // namespace

char TypeLetter(std::uint8_t code) {
  static const char kLetters[] = "UBSUDTLUFDDCVMGBMS";
  return code < 18 ? kLetters[code] : 'U';
}

bool IsGroupLike(std::uint8_t code) { return code == 0 || code == 14 || code == 17; }

bool IsNumericType(std::uint8_t code) {
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
      return true;
    default:
      return false;
  }
}

std::int32_t FieldWidth(const TExportField& field) {
  const std::int32_t nameLength = std::int32_t(field.Name.size());
  const std::int32_t typeWidth = TypeWidth(field);
  return nameLength > typeWidth ? nameLength : typeWidth;
}

void AppendPadLeft(std::string& out, std::string_view text, std::int32_t width) {
  if (std::int64_t(text.size()) < width) out.append(std::size_t(width) - text.size(), ' ');
  out.append(text);
}

void AppendPadRight(std::string& out, std::string_view text, std::int32_t width) {
  out.append(text);
  if (std::int64_t(text.size()) < width) out.append(std::size_t(width) - text.size(), ' ');
}

std::string PadLeft(std::string_view text, std::int32_t width) {
  std::string out;
  AppendPadLeft(out, text, width);
  return out;
}

std::string PadRight(std::string_view text, std::int32_t width) {
  std::string out;
  AppendPadRight(out, text, width);
  return out;
}

void AppendQuoteText(std::string& out, std::string_view text, std::string_view qualifier) {
  out.append(qualifier);
  if (qualifier.size() == 1) {
    // Every qualifier character inside the text is written twice.
    const char q = qualifier[0];
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(q, from)) != std::string_view::npos; from = at + 1) {
      out.append(text.substr(from, at + 1 - from));
      out.push_back(q);
    }
    out.append(text.substr(from));
  } else if (qualifier.empty()) {
    out.append(text);
  } else {
    // A longer qualifier: walk from the last position to the first and insert a second
    // qualifier wherever the text (as changed so far) continues with it.
    std::string s(text);
    for (std::size_t p = s.size(); p-- > 0;)
      if (s.compare(p, qualifier.size(), qualifier) == 0) s.insert(p, qualifier);
    out.append(s);
  }
  out.append(qualifier);
}

std::string QuoteText(std::string_view text, std::string_view qualifier) {
  std::string out;
  AppendQuoteText(out, text, qualifier);
  return out;
}

std::vector<TExportColumn> SelectFields(const std::vector<TExportField>& fields,
                                        const TExportFormat& format) {
  std::vector<TExportColumn> out;
  const std::string list = ";" + format.Fields;
  for (std::size_t j = 0; j < fields.size(); ++j) {
    const TExportField& f = fields[j];
    if (format.SkipGroups && IsGroupLike(f.Type)) continue;
    if (!format.Fields.empty()) {
      std::string key = ";";
      for (char c : f.Name) key.push_back(LowerAscii(c));
      key.push_back(';');
      if (list.find(key) == std::string::npos) continue;
    }
    out.push_back({std::int32_t(j), &f, FieldWidth(f), IsNumericType(f.Type)});
  }
  return out;
}

namespace {

// Characters a table name may not bring into a file name: path separators and a
// drive's colon everywhere, and on Windows also those its file names cannot hold.
#ifdef _WIN32
constexpr std::string_view kNameBreakers = "/\\:<>\"|?*";
#else
constexpr std::string_view kNameBreakers = "/\\:";
#endif

}  // namespace

std::string SanitizeTableName(std::string_view name) {
  std::string out(name);
  bool onlyDots = !out.empty();
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (kNameBreakers.find(c) != std::string_view::npos || u < 32 || u == 127) c = '_';
    if (c != '.') onlyDots = false;
  }
  if (onlyDots) return "_";
  return out;
}

namespace {

// Position where the file-name part of a path begins (after the platform's last
// separator).
std::size_t FileNameStart(const std::string& path) { return FileNamePartStart(path); }

// Position of the extension's dot in the file-name part, or npos.
std::size_t ExtensionStart(const std::string& path) {
  const std::size_t start = FileNameStart(path);
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos || dot < start ? std::string::npos : dot;
}

}  // namespace

std::string OutputPathFor(const std::string& target, const std::string& tableName) {
  if (tableName.empty() || tableName == "UNNAMED") return target;
  const std::size_t ext = ExtensionStart(target);
  const std::string base = ext == std::string::npos ? target : target.substr(0, ext);
  const std::string extension = ext == std::string::npos ? "" : target.substr(ext);
  return base + "." + SanitizeTableName(tableName) + extension;
}

std::string InsertBeforeExtension(const std::string& path, std::string_view tag) {
  const std::size_t ext = ExtensionStart(path);
  if (ext == std::string::npos) return path + "." + std::string(tag);
  return path.substr(0, ext) + "." + std::string(tag) + path.substr(ext);
}

namespace {

// How the lines of a table are laid out, worked out once per table.
struct TLineLayout {
  TLineLayout(const TExportFormat& f, const std::vector<TExportField>& fields)
      : format(f),
        columns(SelectFields(fields, f)),
        delimit(f.Delimiter != kNone),
        qualify(f.Qualifier != kNone),
        direct(!qualify && !f.Fixed),
        oneCharDelimiter(delimit && f.Delimiter.size() == 1),
        delimiterChar(oneCharDelimiter ? f.Delimiter[0] : '\0') {}
  const TExportFormat& format;
  const std::vector<TExportColumn> columns;
  const bool delimit, qualify;
  const bool direct;            // plain delimited text: values go straight into the line
  const bool oneCharDelimiter;  // the usual case, added as a character
  const char delimiterChar;

  // Appends the delimiter (not before the first field) and the text T of one field.
  void AddField(std::string& line, std::size_t k, std::string_view t) const {
    if (k > 0 && delimit) line += format.Delimiter;
    if (t.empty()) return;
    if (qualify)
      AppendQuoteText(line, t, format.Qualifier);
    else
      line.append(t);
  }
};

// Turns rows into lines; one per thread, each with its own scratch texts and date texts.
class TRowFormatter {
 public:
  TRowFormatter(const TLineLayout& layout, const FormatSettings& settings)
      : layout_(layout), settings_(settings), dates_(settings) {}

  // Appends the fields of Row (no record separator) to Out. False as soon as Out holds
  // more than Limit bytes: one damaged row may ask for more text than memory holds.
  template <class Cells>
  bool AppendRow(std::string& out, Cells& sheet, std::int32_t row, std::uint64_t limit) {
    const TLineLayout& l = layout_;
    TLineCells<Cells> cells(sheet, row);
    for (std::size_t k = 0; k < l.columns.size(); ++k) {
      const TExportColumn& c = l.columns[k];
      if (l.direct) {
        if (k > 0 && l.delimit) {
          if (l.oneCharDelimiter)
            out.push_back(l.delimiterChar);
          else
            out += l.format.Delimiter;
        }
        AppendCellText(out, cells, c.Column, settings_, dates_);
      } else {
        text_.clear();
        AppendCellText(text_, cells, c.Column, settings_, dates_);
        if (l.format.Fixed) {
          padded_.clear();
          if (c.Numeric)
            AppendPadLeft(padded_, text_, c.Width);
          else
            AppendPadRight(padded_, text_, c.Width);
          l.AddField(out, k, padded_);
        } else {
          l.AddField(out, k, text_);
        }
      }
      if (out.size() > limit) return false;
    }
    return true;
  }

 private:
  const TLineLayout& layout_;
  const FormatSettings& settings_;
  TDateTextCache dates_;
  std::string text_, padded_;
};

// Writes the line of one row at once: rows written by one thread alone, and the rows
// of a block that did not fit into its text.
template <class Cells>
void WriteLineNow(TBufferedFileWriter& out, TRowFormatter& rows, Cells& cells, std::int32_t row,
                  const TExportFormat& format, std::string& line, std::uint64_t& written) {
  line.clear();
  if (!rows.AppendRow(line, cells, row, format.MaxBytes - written))
    throw Exception(kTextLimitMessage);
  line += format.RecordSeparator;
  if (written + line.size() > format.MaxBytes) throw Exception(kTextLimitMessage);
  out.Write(line);
  written += line.size();
}

// Rows a thread formats at a time when two share the work.
constexpr std::int32_t kBlockRows = 8192;
// The most text a block holds ahead of writing; the rest of its rows are written one by
// one by the thread that writes (rows of a damaged file can take megabytes each).
constexpr std::size_t kBlockBytes = std::size_t(8) << 20;

// The lines of some rows, formatted ahead of writing.
struct TLineBlock {
  std::string Text;
  std::vector<std::size_t> LineEnds;  // offset after each line's record separator
  std::size_t Done = 0;               // rows whose lines Text holds
  bool LimitHit = false;              // the next line passed the text limit
  std::exception_ptr Error;           // the failure that ended the block early

  // Formats the rows rowAt(0) .. rowAt(count - 1), as many as kBlockBytes allows.
  // Text holds whole lines only; formatting stops at the line that makes it longer
  // than maxBytes, or at a failure.
  template <class Cells, class RowAt>
  void Format(TRowFormatter& rows, Cells& cells, std::size_t count, RowAt rowAt,
              std::uint64_t maxBytes, std::string_view separator) {
    Text.clear();
    LineEnds.clear();
    Done = 0;
    LimitHit = false;
    Error = nullptr;
    try {
      for (; Done < count && !LimitHit && Text.size() < kBlockBytes; ++Done) {
        if (rows.AppendRow(Text, cells, rowAt(Done), maxBytes)) Text += separator;
        if (Text.size() > maxBytes)
          LimitHit = true;
        else
          LineEnds.push_back(Text.size());
      }
    } catch (...) {
      Error = std::current_exception();
    }
    Text.resize(LineEnds.empty() ? 0 : LineEnds.back());
  }

  // Writes the block's lines while the text stays within maxBytes, then reports what
  // ended the block: the same lines and the same failure as writing row by row.
  void WriteTo(TBufferedFileWriter& out, std::uint64_t& written, std::uint64_t maxBytes) const {
    std::size_t fit = Text.size();
    bool limit = LimitHit;
    if (written + fit > maxBytes) {
      const auto past = std::upper_bound(LineEnds.begin(), LineEnds.end(), maxBytes - written);
      fit = past == LineEnds.begin() ? 0 : *(past - 1);
      limit = true;
    }
    out.Write(std::string_view(Text.data(), fit));
    written += fit;
    if (limit) throw Exception(kTextLimitMessage);
    if (Error) std::rethrow_exception(Error);
  }

  // WriteTo, then the lines of the rows that did not fit into the text, formatted and
  // written one by one by this thread through rows and cells.
  template <class Cells, class RowAt>
  void WriteAllTo(TBufferedFileWriter& out, std::uint64_t& written, const TExportFormat& format,
                  TRowFormatter& rows, Cells& cells, std::size_t count, RowAt rowAt,
                  std::string& line) const {
    WriteTo(out, written, format.MaxBytes);
    for (std::size_t i = Done; i < count; ++i)
      WriteLineNow(out, rows, cells, rowAt(i), format, line, written);
  }
};

// The second thread of a table's writing, with what both threads wait on. It is told
// to stop and is joined when the writing ends, a failure included.
class TSecondThread {
 public:
  TSecondThread() = default;
  TSecondThread(const TSecondThread&) = delete;
  TSecondThread& operator=(const TSecondThread&) = delete;
  ~TSecondThread() {
    if (!thread_.joinable()) return;
    Change([&] { stopping_ = true; });
    thread_.join();
  }
  // Starts Work; without a thread to be had, Running() stays false and the caller does
  // the work itself.
  template <class Work>
  void Start(Work work) {
    try {
      thread_ = std::thread(std::move(work));
    } catch (const std::system_error&) {
    }
  }
  bool Running() const { return thread_.joinable(); }
  // Waits until Ready() holds; false when the writing stops first.
  template <class Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready() || stopping_; });
    return !stopping_;
  }
  // Makes a change the other thread waits for.
  template <class Update>
  void Change(Update update) {
    {
      std::lock_guard lock(mutex_);
      update();
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::thread thread_;
};

// Rows [first, last) of block K.
std::pair<std::int32_t, std::int32_t> BlockRows(std::int32_t k, std::int32_t rowCount) {
  const std::int32_t first = k * kBlockRows;
  return {first, std::min(rowCount, first + kBlockRows)};
}

std::int32_t BlockCount(std::int32_t rowCount) { return (rowCount - 1) / kBlockRows + 1; }

// Writes every row with two threads: this one formats and writes the even blocks of
// rows, a second one formats the odd blocks through its own reader of the cells, and
// the blocks are written in order. Output and failures are those of writing row by
// row.
void WriteRowsOnTwoThreads(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                           TKvICellReader& reader, const TLineLayout& layout,
                           const FormatSettings& settings, std::uint64_t& written) {
  const TExportFormat& format = layout.format;
  const std::int32_t rowCount = cells.RowCount;
  const std::int32_t blocks = BlockCount(rowCount);
  TRowFormatter mine(layout, settings), theirs(layout, settings);
  TLineBlock own;
  TLineBlock shared[2];  // odd block k goes to shared[(k / 2) % 2]
  bool ready[2] = {false, false};
  std::string line;
  auto formatBlock = [&](TLineBlock& block, TRowFormatter& rows, auto& source, std::int32_t k) {
    const auto [first, last] = BlockRows(k, rowCount);
    block.Format(
        rows, source, std::size_t(last - first),
        [first = first](std::size_t i) { return first + std::int32_t(i); }, format.MaxBytes,
        format.RecordSeparator);
  };
  auto writeBlock = [&](const TLineBlock& block, std::int32_t k) {
    const auto [first, last] = BlockRows(k, rowCount);
    block.WriteAllTo(
        out, written, format, mine, cells, std::size_t(last - first),
        [first = first](std::size_t i) { return first + std::int32_t(i); }, line);
  };

  TSecondThread second;
  second.Start([&] {
    for (std::int32_t k = 1; k < blocks; k += 2) {
      const int s = (k / 2) % 2;
      if (!second.WaitFor([&] { return !ready[s]; })) return;
      formatBlock(shared[s], theirs, reader, k);
      second.Change([&] { ready[s] = true; });
    }
  });
  for (std::int32_t k = 0; k < blocks; ++k) {
    if (k % 2 == 0 || !second.Running()) {  // without a second thread, every block here
      formatBlock(own, mine, cells, k);
      writeBlock(own, k);
      continue;
    }
    const int s = (k / 2) % 2;
    second.WaitFor([&] { return ready[s]; });
    writeBlock(shared[s], k);
    second.Change([&] { ready[s] = false; });
  }
}

// Writes the rows that pass the row test with two threads: this one tests every row in
// order (the test's own order of evaluation is kept) and writes the lines; a second
// one formats the rows that passed, a block behind, through its own reader of the
// cells. A failing test ends the rows at that row, after the lines of the rows before
// it, as when writing row by row.
void WriteTestedRowsOnTwoThreads(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                                 TKvICellReader& reader, const TLineLayout& layout,
                                 const FormatSettings& settings, const TRowTest& rowTest,
                                 std::uint64_t& written) {
  const TExportFormat& format = layout.format;
  const std::int32_t rowCount = cells.RowCount;
  const std::int32_t blocks = BlockCount(rowCount);
  TRowFormatter mine(layout, settings), theirs(layout, settings);
  std::string line;
  enum class State { Free, Tested, Formatted };
  struct Job {
    std::vector<std::int32_t> Rows;  // the rows of the block that passed
    std::exception_ptr TestError;    // the failure of the test that ended the block
    State Now = State::Free;
    TLineBlock Lines;
  };
  Job jobs[2];  // block k is jobs[k % 2]
  auto formatJob = [&](Job& j) {
    j.Lines.Format(
        theirs, reader, j.Rows.size(), [&j](std::size_t i) { return j.Rows[i]; }, format.MaxBytes,
        format.RecordSeparator);
  };

  TSecondThread second;
  second.Start([&] {
    for (std::int32_t k = 0;; ++k) {
      Job& j = jobs[k % 2];
      if (!second.WaitFor([&] { return j.Now == State::Tested; })) return;
      formatJob(j);
      second.Change([&] { j.Now = State::Formatted; });
    }
  });
  auto writeJob = [&](std::int32_t k) {
    Job& j = jobs[k % 2];
    if (second.Running())
      second.WaitFor([&] { return j.Now == State::Formatted; });
    else
      formatJob(j);
    j.Lines.WriteAllTo(
        out, written, format, mine, cells, j.Rows.size(), [&j](std::size_t i) { return j.Rows[i]; },
        line);
    if (j.TestError) std::rethrow_exception(j.TestError);
    second.Change([&] { j.Now = State::Free; });
  };

  std::int32_t end = blocks;
  for (std::int32_t k = 0; k < blocks; ++k) {
    if (k >= 2) writeJob(k - 2);  // frees the job of block k
    Job& j = jobs[k % 2];
    j.Rows.clear();
    j.TestError = nullptr;
    const auto [first, last] = BlockRows(k, rowCount);
    try {
      for (std::int32_t row = first; row < last; ++row)
        if (rowTest(row)) j.Rows.push_back(row);
    } catch (...) {
      j.TestError = std::current_exception();
    }
    second.Change([&] { j.Now = State::Tested; });
    if (j.TestError) {
      end = k + 1;
      break;
    }
  }
  for (std::int32_t k = std::max(0, end - 2); k < end; ++k) writeJob(k);
}

}  // namespace

std::uint64_t WriteTableText(TBufferedFileWriter& out, const TSpreadSheetCells& cells,
                             const std::vector<TExportField>& fields, const TExportFormat& format,
                             const FormatSettings& settings, const TRowTest& rowTest) {
  const TLineLayout layout(format, fields);
  const std::vector<TExportColumn>& columns = layout.columns;
  std::string line;
  std::uint64_t written = 0;
  auto endLine = [&] {
    line += format.RecordSeparator;
    if (written + line.size() > format.MaxBytes) throw Exception(kTextLimitMessage);
    out.Write(line);
    written += line.size();
    line.clear();
  };

  if (format.Header) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const TExportColumn& c = columns[k];
      if (format.Fixed)
        layout.AddField(line, k, PadRight(c.Field->Name, c.Width));
      else
        layout.AddField(line, k, c.Field->Name);
    }
    endLine();
  }
  if (format.TypeLine) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const TExportColumn& c = columns[k];
      const std::string letter(1, TypeLetter(c.Field->Type));
      layout.AddField(line, k, format.Fixed ? PadRight(letter, c.Width) : letter);
    }
    endLine();
  }

  // With enough rows, a second thread formats half of the rows, or with a row test
  // the rows that passed it.
  const unsigned threads =
      format.Threads != 0 ? format.Threads : std::max(1u, std::thread::hardware_concurrency());
  if (threads > 1 && cells.RowCount > kBlockRows) {
    if (const std::unique_ptr<TKvICellReader> reader = cells.NewCellReader()) {
      if (rowTest)
        WriteTestedRowsOnTwoThreads(out, cells, *reader, layout, settings, rowTest, written);
      else
        WriteRowsOnTwoThreads(out, cells, *reader, layout, settings, written);
      return written;
    }
  }
  TRowFormatter rows(layout, settings);
  for (std::int32_t row = 0; row < cells.RowCount; ++row)
    if (!rowTest || rowTest(row)) WriteLineNow(out, rows, cells, row, format, line, written);
  return written;
}

// ---- The run object's export of one table ----

namespace {

// The table's fields as the writer sees them: the definition's field count of them.
std::vector<TExportField> FieldsOf(const TTPSClarionTable& table) {
  std::vector<TExportField> out;
  const std::size_t count = std::min<std::size_t>(table.FieldCount, table.Fields.size());
  out.reserve(count);
  for (std::size_t j = 0; j < count; ++j) {
    const TTPSField& f = table.Fields[j];
    out.push_back({f.Type, f.Name, f.Length});
  }
  return out;
}

}  // namespace

void TA::ExportTable(std::int32_t sheetIndex, const std::string& target,
                     const std::string& delimiter, const std::string& qualifier,
                     const std::string& recordSeparator, bool fixed, bool header, bool typeLine,
                     bool skipGroups, const std::string& fields) {
  TSpreadSheet& sheet = Reader->Sheets().Items(sheetIndex);
  const auto* table = dynamic_cast<const TTPSClarionTable*>(&sheet);
  const std::vector<TExportField> exportFields =
      table != nullptr ? FieldsOf(*table) : std::vector<TExportField>{};
  const std::int32_t tableNumber = table != nullptr ? table->TableNumber : sheetIndex;

  std::unique_ptr<TBufferedFileWriter> file;
  if (target == kStandardOutputTarget) {
    std::fflush(stdout);  // messages printed before come first
    file = std::make_unique<TBufferedFileWriter>(TBufferedFileWriter::TStandardOutput{});
  } else {
    const std::string path = UniqueOutputPath(OutputPathFor(target, sheet.Caption), tableNumber);
    file = std::make_unique<TBufferedFileWriter>(path);
    Remember(path);
  }
  TBufferedFileWriter& out = *file;

  TExportFormat format;
  format.Delimiter = delimiter;
  format.Qualifier = qualifier;
  format.RecordSeparator = recordSeparator;
  format.Fixed = fixed;
  format.Header = header;
  format.TypeLine = typeLine;
  format.SkipGroups = skipGroups;
  format.Fields = fields;
  format.MaxBytes = textBudget_;
  TRowTest rowTest;
  if (!Filter.empty())
    rowTest = [this, sheetIndex](std::int32_t row) { return RowPasses(sheetIndex, row); };

  try {
    textBudget_ -=
        WriteTableText(out, sheet.Cells, exportFields, format, CurrentSettings(), rowTest);
  } catch (...) {
    // The lines written so far stay in the file; the first failure is the one reported.
    try {
      out.Close();
    } catch (...) {
    }
    throw;
  }
  out.Close();
}
