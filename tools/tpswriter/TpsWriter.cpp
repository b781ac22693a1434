#include "tpswriter/TpsWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tps/KvTPSOwner.h"

namespace tpsw {

namespace {

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kPageHeaderSize = 13;
constexpr std::size_t kMaxBody = 0xFFFF - kPageHeaderSize;
constexpr std::size_t kMaxRun = 32767;

void Le16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(std::uint8_t(x));
  v.push_back(std::uint8_t(x >> 8));
}
void Be32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(std::uint8_t(x >> 24));
  v.push_back(std::uint8_t(x >> 16));
  v.push_back(std::uint8_t(x >> 8));
  v.push_back(std::uint8_t(x));
}
void Be16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(std::uint8_t(x >> 8));
  v.push_back(std::uint8_t(x));
}
void Text0(std::vector<std::uint8_t>& v, std::string_view s) {
  v.insert(v.end(), s.begin(), s.end());
  v.push_back(0);
}
void PutLe32(std::uint8_t* p, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(x >> (8 * i));
}
void PutLe16(std::uint8_t* p, std::uint16_t x) {
  p[0] = std::uint8_t(x);
  p[1] = std::uint8_t(x >> 8);
}
// Count bytes of a run length: one byte below 0x80, else low 7 bits plus a byte of 128s.
void RunCount(std::vector<std::uint8_t>& out, std::size_t n) {
  if (n < 0x80) {
    out.push_back(std::uint8_t(n));
  } else {
    out.push_back(std::uint8_t(0x80 | (n & 0x7F)));
    out.push_back(std::uint8_t(n >> 7));
  }
}

bool IsStringType(std::uint8_t t) { return t == kString || t == kCString || t == kPString; }

}  // namespace

std::vector<std::uint8_t> DefinitionContent(const Table& t) {
  std::vector<std::uint8_t> c;
  Le16(c, t.word1);
  Le16(c, t.word2 ? t.word2 : t.RecordLength());
  Le16(c, std::uint16_t(t.fields.size()));
  Le16(c, std::uint16_t(t.memos.size()));
  Le16(c, std::uint16_t(t.keys.size()));
  for (std::size_t i = 0; i < t.fields.size(); ++i) {
    const Field& f = t.fields[i];
    c.push_back(f.type);
    Le16(c, f.offset);
    Text0(c, f.name);
    Le16(c, f.elements);
    Le16(c, f.length);
    Le16(c, f.flags);
    Le16(c, std::uint16_t(f.index >= 0 ? f.index : int(i) + 1));
    if (f.type == kDecimal) {
      c.push_back(f.decimals);
      c.push_back(f.secondDecimal);
    }
    if (IsStringType(f.type)) {
      Le16(c, std::uint16_t(f.stringLength >= 0 ? f.stringLength : f.length));
      Text0(c, f.picture);
      if (f.picture.empty()) c.push_back(0);
    }
  }
  for (const Memo& m : t.memos) {
    Text0(c, m.externalFile);
    if (m.externalFile.empty()) c.push_back(1);
    Text0(c, m.name);
    Le16(c, m.length ? m.length : (m.blob ? 0 : 1000));
    Le16(c, std::uint16_t(m.flags >= 0 ? m.flags : (m.blob ? 4 : 0)));
  }
  for (const Key& k : t.keys) {
    Text0(c, k.externalFile);
    if (k.externalFile.empty()) c.push_back(1);
    Text0(c, k.name);
    c.push_back(k.flags);
    Le16(c, std::uint16_t(k.parts.size()));
    for (const KeyPart& p : k.parts) {
      Le16(c, p.field);
      Le16(c, p.flags);
    }
  }
  return c;
}

std::uint16_t Table::RecordLength() const {
  if (recordLength) return recordLength;
  std::size_t end = 0;
  for (const Field& f : fields) end = std::max<std::size_t>(end, std::size_t(f.offset) + f.length);
  return std::uint16_t(end);
}

// ---- Payload ----

void Payload::Put(std::size_t off, const void* src, std::size_t n) {
  if (off >= bytes_.size()) return;
  n = std::min(n, bytes_.size() - off);
  std::memcpy(bytes_.data() + off, src, n);
}
Payload& Payload::PutByte(std::size_t off, std::uint8_t v) {
  Put(off, &v, 1);
  return *this;
}
Payload& Payload::PutShort(std::size_t off, std::int16_t v) {
  return PutUShort(off, std::uint16_t(v));
}
Payload& Payload::PutUShort(std::size_t off, std::uint16_t v) {
  std::uint8_t b[2];
  PutLe16(b, v);
  Put(off, b, 2);
  return *this;
}
Payload& Payload::PutLong(std::size_t off, std::int32_t v) {
  return PutULong(off, std::uint32_t(v));
}
Payload& Payload::PutULong(std::size_t off, std::uint32_t v) {
  std::uint8_t b[4];
  PutLe32(b, v);
  Put(off, b, 4);
  return *this;
}
Payload& Payload::PutString(std::size_t off, std::size_t len, std::string_view text) {
  std::string s(text.substr(0, std::min(len, text.size())));
  s.resize(len, ' ');
  Put(off, s.data(), s.size());
  return *this;
}
Payload& Payload::PutCString(std::size_t off, std::size_t len, std::string_view text) {
  if (len == 0) return *this;
  std::string s(text.substr(0, std::min(len - 1, text.size())));
  s.push_back('\0');
  Put(off, s.data(), s.size());
  return *this;
}
Payload& Payload::PutPString(std::size_t off, std::size_t len, std::string_view text) {
  if (len == 0) return *this;
  std::size_t n = std::min({len - 1, text.size(), std::size_t(255)});
  PutByte(off, std::uint8_t(n));
  Put(off + 1, text.data(), n);
  return *this;
}
Payload& Payload::PutDate(std::size_t off, int year, int month, int day) {
  return PutULong(off, std::uint32_t(day & 0xFF) | (std::uint32_t(month & 0xFF) << 8) |
                           (std::uint32_t(year & 0xFFFF) << 16));
}
Payload& Payload::PutTime(std::size_t off, int hour, int minute, int second, int hundredths) {
  return PutULong(off, std::uint32_t(hundredths & 0xFF) | (std::uint32_t(second & 0xFF) << 8) |
                           (std::uint32_t(minute & 0xFF) << 16) |
                           (std::uint32_t(hour & 0xFF) << 24));
}
Payload& Payload::PutDecimal(std::size_t off, std::size_t len, int decimals,
                             std::string_view value) {
  auto b = EncodeDecimal(len, decimals, value);
  Put(off, b.data(), b.size());
  return *this;
}
Payload& Payload::PutDouble(std::size_t off, double v) {
  Put(off, &v, 8);
  return *this;
}
Payload& Payload::PutSReal(std::size_t off, float v) {
  Put(off, &v, 4);
  return *this;
}
Payload& Payload::PutReal48(std::size_t off, double v) {
  auto b = EncodeReal48(v);
  Put(off, b.data(), b.size());
  return *this;
}
Payload& Payload::PutBytes(std::size_t off, const std::vector<std::uint8_t>& bytes) {
  Put(off, bytes.data(), bytes.size());
  return *this;
}

std::vector<std::uint8_t> EncodeReal48(double v) {
  std::vector<std::uint8_t> b(6, 0);
  if (v == 0 || !std::isfinite(v)) return b;
  bool neg = v < 0;
  int e = 0;
  double m = std::frexp(std::fabs(v), &e);     // m in [0.5, 1)
  double frac = (2 * m - 1) * 549755813888.0;  // 2^39
  std::uint64_t f = std::uint64_t(std::llround(frac));
  if (f >= (std::uint64_t(1) << 39)) {  // rounded up to the next power of two
    f = 0;
    ++e;
  }
  int biased = e + 128;  // 1.f * 2^(e-1), bias 129
  if (biased < 1) return b;
  if (biased > 255) biased = 255;
  b[0] = std::uint8_t(biased);
  b[1] = std::uint8_t(f);
  b[2] = std::uint8_t(f >> 8);
  b[3] = std::uint8_t(f >> 16);
  b[4] = std::uint8_t(f >> 24);
  b[5] = std::uint8_t(((f >> 32) & 0x7F) | (neg ? 0x80 : 0));
  return b;
}

std::vector<std::uint8_t> EncodeDecimal(std::size_t len, int decimals, std::string_view value) {
  std::vector<std::uint8_t> b(len, 0);
  if (len == 0) return b;
  bool neg = false;
  std::size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) neg = value[i++] == '-';
  std::string intPart, fracPart;
  bool point = false;
  for (; i < value.size(); ++i) {
    char ch = value[i];
    if (ch == '.') {
      point = true;
    } else if (ch >= '0' && ch <= '9') {
      (point ? fracPart : intPart).push_back(ch);
    }
  }
  fracPart.resize(std::size_t(std::max(decimals, 0)), '0');
  std::string digits = intPart + fracPart;
  std::size_t nibbles = 2 * len - 1;
  if (digits.size() > nibbles) digits = digits.substr(digits.size() - nibbles);
  digits.insert(0, nibbles - digits.size(), '0');
  // Nibble 0 is the low half of byte 0, then two per following byte.
  for (std::size_t k = 0; k < nibbles; ++k) {
    std::uint8_t d = std::uint8_t(digits[k] - '0');
    std::size_t pos = k + 1;  // position counted in half bytes from the sign nibble
    std::size_t byte = pos / 2;
    if (pos % 2 == 0)
      b[byte] |= std::uint8_t(d << 4);
    else
      b[byte] |= d;
  }
  if (neg) b[0] |= 0xF0;
  return b;
}

std::vector<std::uint8_t> EncodeRle(const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out;
  const std::size_t n = body.size();
  std::size_t i = 0;
  bool endsWithRepeat = false;
  while (i < n) {
    // Find the next run of at least 4 equal bytes starting at or after i.
    std::size_t k = i, runLen = 0;
    while (k < n) {
      std::size_t r = 1;
      while (k + r < n && body[k + r] == body[k] && r < kMaxRun + 1) ++r;
      if (r >= 4) {
        runLen = r;
        break;
      }
      k += r;
    }
    std::size_t litEnd = runLen ? k + 1 : n;  // the literal includes the run's first byte
    while (litEnd - i > kMaxRun) {            // a literal too long: pieces with repeat 0
      RunCount(out, kMaxRun);
      out.insert(out.end(), body.begin() + long(i), body.begin() + long(i + kMaxRun));
      i += kMaxRun;
      out.push_back(0);
      endsWithRepeat = true;
    }
    RunCount(out, litEnd - i);
    out.insert(out.end(), body.begin() + long(i), body.begin() + long(litEnd));
    i = litEnd;
    endsWithRepeat = false;
    if (runLen) {
      RunCount(out, runLen - 1);
      i = k + runLen;
      endsWithRepeat = true;
    }
  }
  // The reader stops one byte short of the end: a final repeat count needs a byte after it.
  if (endsWithRepeat) out.push_back(0);
  return out;
}

// ---- Writer ----

struct Writer::Sink {
  std::FILE* file = nullptr;
  std::string path;
  std::vector<std::uint8_t>* vec = nullptr;
  std::unique_ptr<char[]> buffer;
};

Writer::Writer(const std::string& path, Options options) : opt_(std::move(options)) {
  sink_ = std::make_unique<Sink>();
  sink_->path = path;
  sink_->file = std::fopen(path.c_str(), "w+b");
  if (!sink_->file) throw std::runtime_error("cannot create " + path);
  sink_->buffer.reset(new char[1 << 22]);
  std::setvbuf(sink_->file, sink_->buffer.get(), _IOFBF, 1 << 22);
  Init();
}

Writer::Writer(std::vector<std::uint8_t>* out, Options options) : opt_(std::move(options)) {
  sink_ = std::make_unique<Sink>();
  sink_->vec = out;
  out->clear();
  Init();
}

Writer::~Writer() {
  try {
    Finish();
  } catch (...) {
  }
}

void Writer::Init() {
  if (opt_.pageSize < 64) opt_.pageSize = 64;
  if (opt_.memoPieceSize == 0) opt_.memoPieceSize = 256;
  if (opt_.firstBlockEntry < 0 || opt_.firstBlockEntry > 59) opt_.firstBlockEntry = 0;
  nextEntry_ = opt_.firstBlockEntry;
  std::uint8_t zero[kHeaderSize] = {};
  WriteRaw(zero, sizeof zero);
}

void Writer::WriteRaw(const void* p, std::size_t n) {
  if (sink_->vec) {
    auto* b = static_cast<const std::uint8_t*>(p);
    sink_->vec->insert(sink_->vec->end(), b, b + n);
  } else if (std::fwrite(p, 1, n, sink_->file) != n) {
    throw std::runtime_error("cannot write " + sink_->path);
  }
  pos_ += n;
}

const Table* Writer::FindTable(std::int32_t number) const {
  for (const Table& t : tables_)
    if (t.number == number) return &t;
  return nullptr;
}

void Writer::AddTable(const Table& table) {
  tables_.push_back(table);
  const std::uint32_t tn = std::uint32_t(table.number);
  if (!table.name.empty()) {
    std::vector<std::uint8_t> d;
    d.push_back(0xFE);
    d.insert(d.end(), table.name.begin(), table.name.end());
    Be32(d, tn);
    AddRecord(d, std::uint16_t(1 + table.name.size()));
  }
  std::vector<std::uint8_t> content = DefinitionContent(table);
  std::size_t pieceSize = opt_.definitionPieceSize ? opt_.definitionPieceSize : content.size();
  if (pieceSize == 0) pieceSize = 1;
  std::vector<std::vector<std::uint8_t>> pieces;
  for (std::size_t at = 0; at < content.size() || pieces.empty(); at += pieceSize) {
    std::vector<std::uint8_t> d;
    Be32(d, tn);
    d.push_back(0xFA);
    Le16(d, std::uint16_t(pieces.size()));
    std::size_t end = std::min(content.size(), at + pieceSize);
    d.insert(d.end(), content.begin() + long(std::min(at, content.size())),
             content.begin() + long(end));
    pieces.push_back(std::move(d));
  }
  std::vector<int> order = opt_.definitionOrder;
  if (order.empty()) {
    for (int b = int(pieces.size()) - 1; b >= 0; --b) order.push_back(b);
  }
  for (int b : order)
    if (b >= 0 && std::size_t(b) < pieces.size()) AddRecord(pieces[std::size_t(b)], 7);
}

void Writer::AddRow(std::int32_t tableNumber, std::int32_t recordNumber, const Payload& payload,
                    const std::vector<MemoText>& memos) {
  std::vector<std::uint8_t> d;
  d.reserve(9 + payload.Bytes().size());
  Be32(d, std::uint32_t(tableNumber));
  d.push_back(0xF3);
  Be32(d, std::uint32_t(recordNumber));
  d.insert(d.end(), payload.Bytes().begin(), payload.Bytes().end());
  AddRecord(d, 9);
  const Table* t = FindTable(tableNumber);
  for (const MemoText& m : memos) {
    bool blob = t && m.memo >= 0 && std::size_t(m.memo) < t->memos.size() &&
                t->memos[std::size_t(m.memo)].blob;
    AddMemo(tableNumber, recordNumber, m.memo, m.text, blob);
  }
}

void Writer::AddMemo(std::int32_t tableNumber, std::int32_t recordNumber, int memo,
                     std::string_view bytes, bool blob) {
  if (bytes.empty()) return;
  std::string text;
  if (blob && opt_.blobLengthPrefix) {
    std::uint8_t len[4];
    PutLe32(len, std::uint32_t(bytes.size()));
    text.assign(reinterpret_cast<const char*>(len), 4);
  }
  text.append(bytes);
  std::vector<std::vector<std::uint8_t>> pieces;
  for (std::size_t at = 0; at < text.size(); at += opt_.memoPieceSize) {
    std::vector<std::uint8_t> d;
    Be32(d, std::uint32_t(tableNumber));
    d.push_back(0xFC);
    Be32(d, std::uint32_t(recordNumber));
    d.push_back(std::uint8_t(memo));
    Be16(d, std::uint16_t(pieces.size()));
    std::size_t end = std::min(text.size(), at + opt_.memoPieceSize);
    d.insert(d.end(), text.begin() + long(at), text.begin() + long(end));
    pieces.push_back(std::move(d));
  }
  if (opt_.memoPiecesReversed) std::reverse(pieces.begin(), pieces.end());
  for (auto& p : pieces) AddRecord(p, 12);
}

void Writer::AddRecord(const std::vector<std::uint8_t>& data, std::uint16_t headerLength) {
  if (finished_) throw std::logic_error("tpsw::Writer: record added after Finish");
  if (data.size() > kMaxBody - 5) throw std::length_error("tpsw::Writer: record too long");
  if (firstPage_ && opt_.leadingEmptyRecord && pageCount_ == 0) {
    AppendRecord({}, 0);
  }
  AppendRecord(data, headerLength);
}

void Writer::AppendRecord(const std::vector<std::uint8_t>& data, std::uint16_t headerLength) {
  const std::size_t capacity = opt_.pageSize - kPageHeaderSize;
  const std::uint16_t recLen = std::uint16_t(data.size());
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::size_t shared = 0;
    std::uint8_t flags = 0xC0;
    if (pageCount_ > 0) {
      if (opt_.sharePrefixes) {
        std::size_t limit = std::min({prevData_.size(), data.size(), std::size_t(0x3F)});
        while (shared < limit && prevData_[shared] == data[shared]) ++shared;
      }
      flags = std::uint8_t(shared);
      if (recLen != prevRecLen_) flags |= 0x80;
      if (headerLength != prevHdrLen_) flags |= 0x40;
    }
    std::size_t need =
        1 + ((flags & 0x80) ? 2 : 0) + ((flags & 0x40) ? 2 : 0) + data.size() - shared;
    if (pageCount_ > 0 && (page_.size() + need > capacity || pageCount_ == 0xFFFF)) {
      FlushPage();
      continue;  // first record of a fresh page
    }
    page_.push_back(flags);
    if (flags & 0x80) Le16(page_, recLen);
    if (flags & 0x40) Le16(page_, headerLength);
    page_.insert(page_.end(), data.begin() + long(shared), data.end());
    ++pageCount_;
    prevData_ = data;
    prevRecLen_ = recLen;
    prevHdrLen_ = headerLength;
    break;
  }
}

void Writer::StartBlockIfNeeded() {
  if (block_ >= 0) return;
  if (nextEntry_ < 60) {
    block_ = nextEntry_++;
    starts_[block_] = std::uint32_t((pos_ - kHeaderSize) / 256);
  } else {
    block_ = 59;  // out of entries: the last block grows over what follows
  }
  pagesInBlock_ = 0;
}

void Writer::WritePage(const std::vector<std::uint8_t>& body, std::uint16_t count,
                       std::uint8_t level, bool inBlock) {
  if (inBlock) StartBlockIfNeeded();
  std::vector<std::uint8_t> stored;
  bool rle = false;
  if (opt_.compress) {
    stored = EncodeRle(body);
    rle = stored.size() < body.size();
  }
  const std::vector<std::uint8_t>& out = rle ? stored : body;
  std::uint8_t h[kPageHeaderSize];
  PutLe32(h, std::uint32_t(pos_));
  PutLe16(h + 4, std::uint16_t(kPageHeaderSize + out.size()));
  PutLe16(h + 6, std::uint16_t(kPageHeaderSize + body.size()));
  PutLe16(h + 8, std::uint16_t(kPageHeaderSize + body.size()));
  PutLe16(h + 10, count);
  h[12] = level;
  WriteRaw(h, sizeof h);
  WriteRaw(out.data(), out.size());
  std::size_t pad = (256 - pos_ % 256) % 256;
  static const std::uint8_t zeros[256] = {};
  WriteRaw(zeros, pad);
  if (inBlock) {
    ends_[block_] = std::uint32_t((pos_ - kHeaderSize) / 256);
    ++pagesInBlock_;
    if (opt_.pagesPerBlock > 0 && pagesInBlock_ >= opt_.pagesPerBlock && nextEntry_ < 60)
      block_ = -1;
  }
}

void Writer::FlushPage() {
  if (pageCount_ == 0) return;
  WritePage(page_, pageCount_, 0, true);
  page_.clear();
  prevData_.clear();
  pageCount_ = 0;
  firstPage_ = false;
}

void Writer::NewBlock() {
  FlushPage();
  if (nextEntry_ < 60) block_ = -1;
}

void Writer::AddStalePage(const std::vector<std::vector<std::uint8_t>>& records,
                          std::uint16_t headerLength) {
  FlushPage();
  std::vector<std::uint8_t> body;
  const std::vector<std::uint8_t>* prev = nullptr;
  for (const auto& r : records) {
    std::size_t shared = 0;
    if (prev && opt_.sharePrefixes) {
      std::size_t limit = std::min({prev->size(), r.size(), std::size_t(0x3F)});
      while (shared < limit && (*prev)[shared] == r[shared]) ++shared;
    }
    body.push_back(std::uint8_t(0xC0 | (prev ? shared : 0)));
    Le16(body, std::uint16_t(r.size()));
    Le16(body, headerLength);
    body.insert(body.end(), r.begin() + long(prev ? shared : 0), r.end());
    prev = &r;
  }
  int openBlock = block_;
  block_ = -1;  // the stale page lies between blocks
  WritePage(body, std::uint16_t(records.size()), 0, false);
  if (openBlock >= 0 && nextEntry_ >= 60) block_ = openBlock;
  firstPage_ = false;
}

void Writer::AddIndexPage(const std::vector<std::uint8_t>& body) {
  FlushPage();
  WritePage(body, 1, 1, true);
}

void Writer::Finish() {
  if (finished_) return;
  FlushPage();
  finished_ = true;
  std::uint8_t h[kHeaderSize] = {};
  PutLe16(h + 4, 0x0200);
  // The file's length, twice, as the driver writes it.
  PutLe32(h + 6, std::uint32_t(pos_));
  PutLe32(h + 10, std::uint32_t(pos_));
  std::memcpy(h + 14, "tOpS", 4);
  for (int i = 0; i < 60; ++i) {
    PutLe32(h + 32 + 4 * i, starts_[i]);
    PutLe32(h + 272 + 4 * i, ends_[i]);
  }
  if (sink_->vec) {
    std::memcpy(sink_->vec->data(), h, kHeaderSize);
    if (!opt_.owner.empty()) EncryptTpsImage(MakeOwnerKey(opt_.owner), *sink_->vec);
    return;
  }
  bool ok = std::fflush(sink_->file) == 0 && std::fseek(sink_->file, 0, SEEK_SET) == 0 &&
            std::fwrite(h, 1, kHeaderSize, sink_->file) == kHeaderSize;
  if (ok && !opt_.owner.empty()) ok = EncryptFile(h);
  ok = (std::fclose(sink_->file) == 0) && ok;
  sink_->file = nullptr;
  if (!ok) throw std::runtime_error("cannot write " + sink_->path);
}

// Encrypts the block ranges of the finished file in place, a few megabytes at a time,
// then the header.
bool Writer::EncryptFile(const std::uint8_t* header) {
  TTPSOwnerKey key = MakeOwnerKey(opt_.owner);
  std::array<TTPSByteRange, 60> ranges;
  std::size_t n = TpsBlockRanges(std::span<const std::uint8_t>(header, kHeaderSize), pos_, ranges);
  std::vector<std::uint8_t> chunk(std::size_t(1) << 22);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::uint64_t at = ranges[i].start; at < ranges[i].end;) {
      std::size_t len = std::size_t(std::min<std::uint64_t>(chunk.size(), ranges[i].end - at));
      if (std::fseek(sink_->file, long(at), SEEK_SET) != 0 ||
          std::fread(chunk.data(), 1, len, sink_->file) != len)
        return false;
      EncryptOwnerBytes(key, std::span<std::uint8_t>(chunk.data(), len));
      if (std::fseek(sink_->file, long(at), SEEK_SET) != 0 ||
          std::fwrite(chunk.data(), 1, len, sink_->file) != len)
        return false;
      at += len;
    }
  }
  std::uint8_t h[kHeaderSize];
  std::memcpy(h, header, kHeaderSize);
  EncryptOwnerBytes(key, h);
  return std::fseek(sink_->file, 0, SEEK_SET) == 0 &&
         std::fwrite(h, 1, kHeaderSize, sink_->file) == kHeaderSize &&
         std::fflush(sink_->file) == 0;
}

// ---- Text values ----

namespace {
std::vector<int> Numbers(std::string_view s) {
  std::vector<int> out;
  int cur = 0;
  bool any = false;
  for (char ch : s) {
    if (ch >= '0' && ch <= '9') {
      cur = cur * 10 + (ch - '0');
      any = true;
    } else {
      if (any) out.push_back(cur);
      cur = 0;
      any = false;
    }
  }
  if (any) out.push_back(cur);
  return out;
}
}  // namespace

void PutValue(Payload& p, const Field& f, std::string_view text) {
  if (f.elements > 1) {
    std::size_t w = f.length / f.elements;
    Field e = f;
    e.elements = 1;
    e.length = std::uint16_t(w);
    std::size_t k = 0, start = 0;
    while (k < f.elements && start <= text.size()) {
      std::size_t bar = text.find('|', start);
      if (bar == std::string_view::npos) bar = text.size();
      e.offset = std::uint16_t(f.offset + k * w);
      PutValue(p, e, text.substr(start, bar - start));
      start = bar + 1;
      ++k;
    }
    return;
  }
  if (text.empty()) return;
  const std::string s(text);
  switch (f.type) {
    case kByte:
      p.PutByte(f.offset, std::uint8_t(std::strtol(s.c_str(), nullptr, 10)));
      break;
    case kShort:
    case kUShort:
      p.PutUShort(f.offset, std::uint16_t(std::strtol(s.c_str(), nullptr, 10)));
      break;
    case kLong:
    case kULong:
      p.PutULong(f.offset, std::uint32_t(std::strtoll(s.c_str(), nullptr, 10)));
      break;
    case kDate: {
      auto n = Numbers(s);
      n.resize(3, 0);
      p.PutDate(f.offset, n[0], n[1], n[2]);
      break;
    }
    case kTime: {
      auto n = Numbers(s);
      n.resize(4, 0);
      p.PutTime(f.offset, n[0], n[1], n[2], n[3]);
      break;
    }
    case kDecimal:
      p.PutDecimal(f.offset, f.length, f.decimals, s);
      break;
    case kFloat:
      if (f.length == 4)
        p.PutSReal(f.offset, std::strtof(s.c_str(), nullptr));
      else
        p.PutReal48(f.offset, std::strtod(s.c_str(), nullptr));
      break;
    case kDouble:
      p.PutDouble(f.offset, std::strtod(s.c_str(), nullptr));
      break;
    case kString:
      p.PutString(f.offset, f.length, s);
      break;
    case kCString:
      p.PutCString(f.offset, f.length, s);
      break;
    case kPString:
      p.PutPString(f.offset, f.length, s);
      break;
    default:
      break;
  }
}

void AddTextRows(Writer& w, const Table& table, const std::vector<std::vector<std::string>>& rows,
                 std::int32_t first) {
  std::int32_t rec = first;
  for (const auto& row : rows) {
    Payload p(table.RecordLength());
    for (std::size_t i = 0; i < table.fields.size() && i < row.size(); ++i)
      if (table.fields[i].type == kString && table.fields[i].elements <= 1 && row[i].empty())
        p.PutString(table.fields[i].offset, table.fields[i].length, "");
      else
        PutValue(p, table.fields[i], row[i]);
    std::vector<MemoText> memos;
    for (std::size_t m = 0; m < table.memos.size(); ++m) {
      std::size_t col = table.fields.size() + m;
      if (col < row.size() && !row[col].empty()) memos.push_back({int(m), row[col]});
    }
    w.AddRow(table.number, rec++, p, memos);
  }
}

namespace {
void WriteRows(Writer& w, const Table& table, const std::vector<std::vector<std::string>>& rows,
               std::int32_t first) {
  w.AddTable(table);
  AddTextRows(w, table, rows, first);
  w.Finish();
}
}  // namespace

std::vector<std::uint8_t> Fixture(const Table& table,
                                  const std::vector<std::vector<std::string>>& rows,
                                  Options options, std::int32_t firstRecordNumber) {
  std::vector<std::uint8_t> out;
  Writer w(&out, std::move(options));
  WriteRows(w, table, rows, firstRecordNumber);
  return out;
}

void WriteFixture(const std::string& path, const Table& table,
                  const std::vector<std::vector<std::string>>& rows, Options options,
                  std::int32_t firstRecordNumber) {
  Writer w(path, std::move(options));
  WriteRows(w, table, rows, firstRecordNumber);
}

}  // namespace tpsw
