#include "tpswriter/TpsDemo.h"

#include <cstdio>

#include "tpswriter/TpsWriter.h"

namespace tpsw {

namespace {

const char* const kFirst[] = {"Anna",  "Bert", "Carla", "Dirk",  "Elena", "Frank",
                              "Greta", "Hans", "Ines",  "Jonas", "Karin", "Lukas",
                              "Maria", "Nils", "Olga",  "Paul",  "Rosa",  "Sven"};
const char* const kLast[] = {"Meyer",  "Schmidt", "Okafor", "Novak",    "Garcia", "Rossi",
                             "Jansen", "Dubois",  "Larsen", "Kowalski", "Silva",  "Moreau"};
const char* const kCity[] = {"Amsterdam", "Berlin", "Chicago", "Dublin", "Lisbon",
                             "Madrid",    "Oslo",   "Prague",  "Vienna", "Zurich"};
const char* const kStreet[] = {"Main Street", "Station Road", "Church Lane",
                               "Mill Way",    "Harbour Quay", "Park Avenue"};

template <std::size_t N>
const char* Pick(Rng& r, const char* const (&a)[N]) {
  return a[r.Below(int(N))];
}

std::string Money(Rng& r, int maxWhole, bool allowNegative) {
  long long cents = (long long)(r.Next() % std::uint64_t(maxWhole * 100LL));
  if (allowNegative && r.Below(5) == 0) cents = -cents;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%lld.%02lld", cents < 0 ? "-" : "",
                (cents < 0 ? -cents : cents) / 100, (cents < 0 ? -cents : cents) % 100);
  return buf;
}

}  // namespace

void WriteDemo(const std::string& path) {
  Table cus;
  cus.number = 1;
  cus.name = "CUSTOMER";
  cus.fields = {
      Field{kLong, "CUS:ID", 0, 4},         Field{kString, "CUS:NAME", 4, 30},
      Field{kString, "CUS:CITY", 34, 20},   Field{kDecimal, "CUS:BALANCE", 54, 7, 1, 2},
      Field{kDate, "CUS:SINCE", 61, 4},     Field{kTime, "CUS:CALLTIME", 65, 4},
      Field{kByte, "CUS:RATING", 69, 1},    Field{kGroup, "CUS:ADDRESS", 70, 40},
      Field{kString, "CUS:STREET", 70, 30}, Field{kString, "CUS:ZIP", 100, 10},
  };
  cus.memos = {Memo{"CUS:NOTES"}};
  cus.keys = {Key{"CUS:KEYID", {KeyPart{1}}}};
  Table ord;
  ord.number = 2;
  ord.name = "ORDERS";
  ord.fields = {
      Field{kLong, "ORD:ID", 0, 4},    Field{kLong, "ORD:CUSTID", 4, 4},
      Field{kDate, "ORD:DATE", 8, 4},  Field{kDecimal, "ORD:AMOUNT", 12, 6, 1, 2},
      Field{kShort, "ORD:QTY", 18, 2}, Field{kDouble, "ORD:PRICE", 20, 8},
  };
  ord.keys = {Key{"ORD:KEYID", {KeyPart{1}}}};

  Writer w(path);
  w.AddTable(cus);
  w.AddTable(ord);
  Rng r(20240501);
  const int customers = 300;
  for (int i = 1; i <= customers; ++i) {
    Payload p(cus.RecordLength());
    std::string name = std::string(Pick(r, kFirst)) + " " + Pick(r, kLast);
    std::string street = std::to_string(1 + r.Below(200)) + " " + Pick(r, kStreet);
    char zip[12];
    std::snprintf(zip, sizeof zip, "%05d", 1000 + r.Below(90000));
    p.PutLong(0, i)
        .PutString(4, 30, name)
        .PutString(34, 20, Pick(r, kCity))
        .PutDecimal(54, 7, 2, Money(r, 20000, true))
        .PutDate(61, 1995 + r.Below(30), 1 + r.Below(12), 1 + r.Below(28))
        .PutTime(65, 8 + r.Below(10), r.Below(60), r.Below(60), 0)
        .PutByte(69, std::uint8_t(1 + r.Below(5)))
        .PutString(70, 30, street)
        .PutString(100, 10, zip);
    std::vector<MemoText> memos;
    if (i % 3 == 0)
      memos.push_back({0, name +
                              " prefers contact by mail. Customer since the early days; "
                              "ask for the " +
                              Pick(r, kCity) + " office."});
    w.AddRow(1, i, p, memos);
  }
  for (int i = 1; i <= 500; ++i) {
    Payload p(ord.RecordLength());
    int qty = 1 + r.Below(20);
    double price = double(50 + r.Below(50000)) / 100.0;
    p.PutLong(0, i)
        .PutLong(4, 1 + r.Below(customers))
        .PutDate(8, 2020 + r.Below(5), 1 + r.Below(12), 1 + r.Below(28))
        .PutDecimal(12, 6, 2, Money(r, 5000, false))
        .PutShort(18, std::int16_t(qty))
        .PutDouble(20, price);
    w.AddRow(2, i, p);
  }
  w.Finish();
}

BenchResult WriteBench(const std::string& path, double megabytes, const std::string& owner,
                       bool memoHeavy) {
  Table t;
  t.number = 1;
  t.name = "SALES";
  t.fields = {
      Field{kLong, "SAL:ID", 0, 4},       Field{kString, "SAL:CUSTOMER", 4, 40},
      Field{kString, "SAL:CITY", 44, 25}, Field{kDecimal, "SAL:AMOUNT", 69, 7, 1, 2},
      Field{kShort, "SAL:QTY", 76, 2},    Field{kDate, "SAL:DATE", 78, 4},
      Field{kTime, "SAL:TIME", 82, 4},    Field{kDouble, "SAL:PRICE", 86, 8},
      Field{kString, "SAL:CODE", 94, 10}, Field{kULong, "SAL:REF", 104, 4},
  };
  t.memos = {Memo{"SAL:NOTE"}};
  if (memoHeavy) t.memos.push_back(Memo{"SAL:PICTURE", true});
  t.keys = {Key{"SAL:KEYID", {KeyPart{1}}}};
  const std::uint64_t target = std::uint64_t(megabytes * 1024 * 1024);
  Options options;
  options.owner = owner;
  Writer w(path, options);
  w.AddTable(t);
  Rng r(77);
  std::int32_t rec = 1;
  Payload p(t.RecordLength());
  std::uint64_t memoBytes = 0;
  while (w.BytesWritten() < target) {
    std::string name = std::string(Pick(r, kFirst)) + " " + Pick(r, kLast);
    char code[16];
    std::snprintf(code, sizeof code, "C%06d", r.Below(1000000));
    p.PutLong(0, rec)
        .PutString(4, 40, name)
        .PutString(44, 25, Pick(r, kCity))
        .PutDecimal(69, 7, 2, Money(r, 100000, true))
        .PutShort(76, std::int16_t(1 + r.Below(100)))
        .PutDate(78, 2000 + r.Below(25), 1 + r.Below(12), 1 + r.Below(28))
        .PutTime(82, r.Below(24), r.Below(60), r.Below(60), r.Below(100))
        .PutDouble(86, double(r.Below(1000000)) / 100.0)
        .PutString(94, 10, code)
        .PutULong(104, std::uint32_t(r.Next()));
    std::vector<MemoText> memos;
    if (memoHeavy) {
      // A note of 200 to 500 bytes on 7 rows of 10, a picture of 1 to 4 KiB of
      // random bytes on every other row.
      if (r.Below(10) < 7) {
        std::string note = "Order " + std::to_string(rec) + " for " + name + ".";
        const std::size_t length = 200 + r.Below(301u);
        while (note.size() < length)
          note += std::string(" Deliver to the ") + Pick(r, kCity) + " depot; call " +
                  Pick(r, kFirst) + " first.";
        note.resize(length);
        memos.push_back({0, std::move(note)});
      }
      if (r.Below(2) == 0) {
        std::string picture(1024 + r.Below(3073u), '\0');
        for (std::size_t i = 0; i < picture.size(); i += 8) {
          const std::uint64_t v = r.Next();
          for (std::size_t k = 0; k < 8 && i + k < picture.size(); ++k)
            picture[i + k] = char(v >> (8 * k));
        }
        memos.push_back({1, std::move(picture)});
      }
    } else if (rec % 10 == 0) {
      memos.push_back({0, "Order " + std::to_string(rec) + " for " + name + ": deliver to the " +
                              Pick(r, kCity) + " depot before noon."});
    }
    for (const MemoText& m : memos) memoBytes += m.text.size();
    w.AddRow(1, rec, p, memos);
    ++rec;
  }
  w.Finish();
  return BenchResult{rec - 1, w.BytesWritten(), memoBytes};
}

}  // namespace tpsw
