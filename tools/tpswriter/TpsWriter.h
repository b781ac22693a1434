// tpsw: a small writer of TopSpeed (.tps) files, used to build test fixtures, the
// demo file and benchmark files.
//
// A file is written front to back while rows are added: only the page being
// filled is held in memory, so files of several gigabytes can be written. The
// header (with the block table) is written last.
//
// Quick start (aggregate forms work too:
//   tpsw::Table{1, "CUSTOMER", {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4}}, {{"CUS:NOTES"}}}):
//
//   tpsw::Table t;
//   t.number = 1;
//   t.name = "CUSTOMER";
//   t.fields = {tpsw::Field{tpsw::kLong, "CUS:ID", 0, 4},
//               tpsw::Field{tpsw::kString, "CUS:NAME", 4, 20}};
//   t.memos = {tpsw::Memo{"CUS:NOTES"}};
//   tpsw::Writer w(path);                  // or: std::vector<uint8_t> bytes; Writer w(&bytes);
//   w.AddTable(t);
//   tpsw::Payload p(t.RecordLength());
//   p.PutLong(0, 7).PutString(4, 20, "Smith");
//   w.AddRow(1, /*recordNumber=*/1, p, {{0, "a note"}});
//   w.Finish();
//
// Or, for one table from text values (see Fixture below):
//
//   auto bytes = tpsw::Fixture(t, {{"7", "Smith", "a note"}});
//
// What is written:
//  - a 512-byte header: 0 at offset 0, "tOpS" at offset 14, the 60-entry block
//    start and end tables at 32 and 272 (page addresses in 256-byte units counted
//    from the end of the header);
//  - pages on 256-byte boundaries, each with a 13-byte header (own file offset,
//    page size, expanded size, expanded size again, record count, level 0) and a
//    body that is run-length encoded (or plain, Options::compress = false, or when
//    encoding does not make it smaller);
//  - records with shared key prefixes (Options::sharePrefixes), optionally the
//    zero-length record that driver-written files hold at the start of their first
//    page (Options::leadingEmptyRecord);
//  - for every table: a name record (kind 0xFE), the definition (kind 0xFA, split in
//    pieces of Options::definitionPieceSize bytes, stored in reverse or a given order),
//    then data records (0xF3) and memo records (0xFC, pieces of
//    Options::memoPieceSize bytes).
//
// Numbers in the file are little-endian, except table, record and memo sequence
// numbers inside record data, which are big-endian.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tpsw {

// A small deterministic generator (xorshift64*) for fixtures and generated files.
struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint64_t seed) : s(seed ? seed : 1) {}
  std::uint64_t Next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ULL;
  }
  // A number in [0, n).
  template <class T>
  T Below(T n) {
    return T(Next() % std::uint64_t(n));
  }
};

// Type bytes of field entries as stored in the file.
enum FieldType : std::uint8_t {
  kByte = 0x01,
  kShort = 0x02,
  kUShort = 0x03,
  kDate = 0x04,
  kTime = 0x05,
  kLong = 0x06,
  kULong = 0x07,
  kFloat = 0x08,  // SREAL (length 4) or 48-bit REAL (length 6)
  kDouble = 0x09,
  kDecimal = 0x0A,
  kString = 0x12,   // fixed length, space padded ("Char" in the reader)
  kCString = 0x13,  // zero terminated ("VarChar")
  kPString = 0x14,  // length byte first ("MaskString")
  kGroup = 0x16,
};

// One field of the record payload. Constructor order: type, name, offset, length,
// elements, decimals, picture; the rest is rarely needed and set afterwards.
struct Field {
  Field() = default;
  Field(std::uint8_t type_, std::string name_, std::uint16_t offset_, std::uint16_t length_,
        std::uint16_t elements_ = 1, std::uint8_t decimals_ = 0, std::string picture_ = "")
      : type(type_),
        name(std::move(name_)),
        offset(offset_),
        length(length_),
        elements(elements_),
        decimals(decimals_),
        picture(std::move(picture_)) {}
  std::uint8_t type = kString;
  std::string name;
  std::uint16_t offset = 0;
  std::uint16_t length = 0;  // all elements together
  std::uint16_t elements = 1;
  std::uint8_t decimals = 0;
  std::string picture;
  std::uint16_t flags = 0;
  int index = -1;  // field number stored in the entry; -1: position in the table + 1
  std::uint8_t secondDecimal = 0;
  int stringLength = -1;  // strings only; -1: the length
};

// A MEMO (text) or BLOB (binary) field. BLOB texts are stored with a 4-byte
// little-endian length in front, as the driver does.
struct Memo {
  Memo() = default;
  Memo(std::string name_, bool blob_ = false) : name(std::move(name_)), blob(blob_) {}
  std::string name;
  bool blob = false;
  std::uint16_t length = 0;  // declared size; 0: 1000 for MEMO, 0 for BLOB
  int flags = -1;            // -1: 0 for MEMO, 4 for BLOB (bit value 4 marks a BLOB)
  std::string externalFile;
};

struct KeyPart {
  KeyPart() = default;
  KeyPart(std::uint16_t field_, std::uint16_t flags_ = 0) : field(field_), flags(flags_) {}
  std::uint16_t field = 1;  // field number
  std::uint16_t flags = 0;
};

struct Key {
  Key() = default;
  Key(std::string name_, std::vector<KeyPart> parts_)
      : name(std::move(name_)), parts(std::move(parts_)) {}
  std::string name;
  std::vector<KeyPart> parts;
  std::uint8_t flags = 0;
  std::string externalFile;
};

struct Table {
  std::int32_t number = 1;
  std::string name{};  // empty: no name record is written
  std::vector<Field> fields{};
  std::vector<Memo> memos{};
  std::vector<Key> keys{};
  std::uint16_t recordLength = 0;  // 0: the end of the last field
  std::uint16_t word1 = 1;         // definition words 1 and 2 (word 2: 0 = record length)
  std::uint16_t word2 = 0;

  std::uint16_t RecordLength() const;
};

// The payload (field bytes) of one data record. Every Put writes at a field offset
// and never outside the payload (bytes beyond the end are dropped). Values are
// written as given, without checks, so impossible dates and other odd values can
// be stored on purpose.
class Payload {
 public:
  explicit Payload(std::size_t length, std::uint8_t fill = 0) : bytes_(length, fill) {}
  Payload& PutByte(std::size_t off, std::uint8_t v);
  Payload& PutShort(std::size_t off, std::int16_t v);
  Payload& PutUShort(std::size_t off, std::uint16_t v);
  Payload& PutLong(std::size_t off, std::int32_t v);
  Payload& PutULong(std::size_t off, std::uint32_t v);
  // Text padded with spaces (or cut) to len bytes.
  Payload& PutString(std::size_t off, std::size_t len, std::string_view text);
  // Text followed by a zero byte, within len bytes.
  Payload& PutCString(std::size_t off, std::size_t len, std::string_view text);
  // A length byte, then the text, within len bytes.
  Payload& PutPString(std::size_t off, std::size_t len, std::string_view text);
  // day | month << 8 | year << 16.
  Payload& PutDate(std::size_t off, int year, int month, int day);
  // hundredths | second << 8 | minute << 16 | hour << 24.
  Payload& PutTime(std::size_t off, int hour, int minute, int second, int hundredths = 0);
  // Packed decimal of len bytes: the high nibble of the first byte is the sign
  // (0 or 0xF), then 2 * len - 1 digits; the value text ("-123.45") is scaled to
  // `decimals` digits after the point.
  Payload& PutDecimal(std::size_t off, std::size_t len, int decimals, std::string_view value);
  Payload& PutDouble(std::size_t off, double v);
  Payload& PutSReal(std::size_t off, float v);
  Payload& PutReal48(std::size_t off, double v);
  Payload& PutBytes(std::size_t off, const std::vector<std::uint8_t>& bytes);

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  void Put(std::size_t off, const void* src, std::size_t n);
  std::vector<std::uint8_t> bytes_;
};

// Encodings used by Payload, exposed for tests.
std::vector<std::uint8_t> EncodeReal48(double v);
std::vector<std::uint8_t> EncodeDecimal(std::size_t len, int decimals, std::string_view value);
// Run-length encoding of a page body as the reader expands it (literal runs each
// followed by a repeat of their last byte).
std::vector<std::uint8_t> EncodeRle(const std::vector<std::uint8_t>& body);
// The definition content of a table (before it is cut into pieces).
std::vector<std::uint8_t> DefinitionContent(const Table& table);

// A memo or BLOB value of one row: memo number (position among the table's memos)
// and its bytes (for a BLOB without the length prefix, which the writer adds).
struct MemoText {
  int memo = 0;
  std::string text{};
};

struct Options {
  bool compress = true;             // run-length encode page bodies
  std::uint16_t pageSize = 0x1000;  // largest expanded page (header included)
  bool sharePrefixes = true;        // share leading bytes with the previous record
  bool leadingEmptyRecord = true;   // a zero-length record first in the first page
  // Definition pieces: 0 = one record; otherwise at most this many content bytes
  // each, stored in reverse block order unless definitionOrder lists block numbers.
  std::size_t definitionPieceSize = 0;
  std::vector<int> definitionOrder;
  std::size_t memoPieceSize = 256;  // bytes per memo record
  bool memoPiecesReversed = false;  // store the pieces of each memo last one first
  bool blobLengthPrefix = true;     // BLOB texts start with their 4-byte length
  // Blocks: a new block (block table entry) every pagesPerBlock pages (0: one block),
  // entries from firstBlockEntry on; when entries run out the last block grows.
  int pagesPerBlock = 0;
  int firstBlockEntry = 0;
  // Not empty: the file is encrypted with this owner password when finished (the
  // header and every block range of the block table).
  std::string owner;
};

class Writer {
 public:
  // Writes to a file (created or truncated); throws std::runtime_error on failure.
  explicit Writer(const std::string& path, Options options = {});
  // Writes into a byte vector (cleared first).
  explicit Writer(std::vector<std::uint8_t>* out, Options options = {});
  ~Writer();  // finishes if Finish was not called (errors ignored)
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Writes the table's name record and its definition.
  void AddTable(const Table& table);
  // A data record and the memo records of its memo values. The payload is taken as
  // it is (shorter or longer than the record length is allowed).
  void AddRow(std::int32_t tableNumber, std::int32_t recordNumber, const Payload& payload,
              const std::vector<MemoText>& memos = {});
  // One memo value alone (for memo records without their data record and the like).
  void AddMemo(std::int32_t tableNumber, std::int32_t recordNumber, int memo,
               std::string_view bytes, bool blob);
  // Any record: its full data (header included) and its header length.
  void AddRecord(const std::vector<std::uint8_t>& data, std::uint16_t headerLength);
  // Closes the page being filled; the next record starts a page.
  void FlushPage();
  // Closes the current block; later pages go into a new block.
  void NewBlock();
  // A page outside every block (stale), holding these records; readers must not see it.
  void AddStalePage(const std::vector<std::vector<std::uint8_t>>& records,
                    std::uint16_t headerLength);
  // An index page (level 1) holding these bytes; readers pass over it.
  void AddIndexPage(const std::vector<std::uint8_t>& body);
  // Writes the last page and the header. Further calls do nothing.
  void Finish();

  std::uint64_t BytesWritten() const { return pos_; }

  const Table* FindTable(std::int32_t number) const;

 private:
  bool EncryptFile(const std::uint8_t* header);
  struct Sink;
  void Init();
  void AppendRecord(const std::vector<std::uint8_t>& data, std::uint16_t headerLength);
  void WritePage(const std::vector<std::uint8_t>& body, std::uint16_t count, std::uint8_t level,
                 bool inBlock);
  void WriteRaw(const void* p, std::size_t n);
  void StartBlockIfNeeded();

  Options opt_;
  std::unique_ptr<Sink> sink_;
  std::vector<Table> tables_;
  std::vector<std::uint8_t> page_;      // expanded body being filled
  std::vector<std::uint8_t> prevData_;  // data of the previous record of the page
  std::uint16_t prevRecLen_ = 0, prevHdrLen_ = 0;
  std::uint16_t pageCount_ = 0;  // records in page_
  std::uint64_t pos_ = 0;        // file offset of the next byte
  bool finished_ = false;
  bool firstPage_ = true;
  // Block table being built.
  std::uint32_t starts_[60] = {};
  std::uint32_t ends_[60] = {};
  int block_ = -1;  // entry of the open block, -1: none open
  int pagesInBlock_ = 0;
  int nextEntry_ = 0;
};

// Encodes one value given as text into the payload for a field:
//  Byte/Short/UShort/Long/ULong: decimal integer; Date: yyyy-mm-dd; Time:
//  hh:mm:ss[.cc] (hundredths); Decimal: "-123.45"; Float: SREAL when the length is 4,
//  48-bit real otherwise; Double; String: space padded; CString, PString; Group:
//  nothing. An empty text leaves the bytes as they are (zero). Array fields take
//  their element values separated by "|".
void PutValue(Payload& payload, const Field& field, std::string_view text);

// Rows of text values (one per field, then one per memo; empty: no memo) as data
// records of a table already added, record numbers from firstRecordNumber on. An
// empty text of a String field is written as blanks.
void AddTextRows(Writer& w, const Table& table, const std::vector<std::vector<std::string>>& rows,
                 std::int32_t firstRecordNumber = 1);

// One file with one table: rows of text values, one per field, then one per memo
// (empty: no memo). Record numbers start at firstRecordNumber.
std::vector<std::uint8_t> Fixture(const Table& table,
                                  const std::vector<std::vector<std::string>>& rows,
                                  Options options = {}, std::int32_t firstRecordNumber = 1);
// The same, written to a file.
void WriteFixture(const std::string& path, const Table& table,
                  const std::vector<std::vector<std::string>>& rows, Options options = {},
                  std::int32_t firstRecordNumber = 1);

}  // namespace tpsw
