#include <gtest/gtest.h>

#include "TestSupport.h"
#include "cells/KvExceptions.h"
#include "cells/KvFileWriter.h"
#include "cells/KvSpreadSheetFile.h"

namespace {

// A reader that reports what its "file" holds through the framework's events.
class FakeReader : public TSpreadSheetFile {
 public:
  int loads = 0;
  std::int64_t startedAt = -1;
  void LoadFromStream(TStream& s) override {
    ++loads;
    startedAt = s.Position();
  }
};

TEST(ReaderFramework, ResetGridInstallsTheBuiltInHandlers) {
  FakeReader r;
  bool mine = false;
  r.OnCellValue = [&](TCustomSpreadSheetFile*, std::int32_t, std::int32_t, std::int32_t,
                      std::int32_t, const Variant&, TAlignment, TKvICellType) { mine = true; };
  r.ResetGrid();
  r.OnCellValue(&r, 0, 1, 2, 0, Variant::Integer(7), taRightJustify, ictInteger);
  EXPECT_FALSE(mine);
  EXPECT_EQ(r.Sheets()[0].Cells.GetValue(2, 1).AsInt(), 7);
  // a handler assigned after ResetGrid stays
  r.OnCellValue = [&](TCustomSpreadSheetFile*, std::int32_t, std::int32_t, std::int32_t,
                      std::int32_t, const Variant&, TAlignment, TKvICellType) { mine = true; };
  r.OnCellValue(&r, 0, 1, 2, 0, Variant::Integer(7), taRightJustify, ictInteger);
  EXPECT_TRUE(mine);
}

TEST(ReaderFramework, GridHandlers) {
  FakeReader r;
  r.ActiveSheet = 2;
  bool skip = false;
  r.GridSheet("First", 0, skip);
  EXPECT_TRUE(skip);
  EXPECT_EQ(r.Sheets().Count(), 1);
  EXPECT_EQ(r.Sheets()[0].Caption, "First");
  r.GridSheetName("Renamed", 0);
  r.GridSheetName("Nowhere", 5);
  EXPECT_EQ(r.Sheets()[0].Caption, "Renamed");

  r.Range.LastRow = 9;
  r.GridCellValue(0, 10, 0, 0, Variant::Integer(1), taLeftJustify, ictInteger);
  r.GridCellValue(0, 9, 0, 0, Variant::Integer(2), taLeftJustify, ictInteger);
  r.GridCellValue(0, -1, 0, 0, Variant::Integer(3), taLeftJustify, ictInteger);  // dropped
  EXPECT_EQ(r.Sheets()[0].Cells.RowCount, 10);
  EXPECT_EQ(r.Sheets()[0].Cells.GetValue(0, 9).AsInt(), 2);

  r.GridColumnWidth(1, 3, 40);
  EXPECT_EQ(r.Sheets().Count(), 2);
  EXPECT_EQ(r.Sheets()[1].Columns, (std::vector<std::int32_t>{0, 0, 0, 40}));
  r.GridRowHeight(1, 4, 15);
  EXPECT_EQ(r.Sheets()[1].Cells.RowHeight(4), 15);
  Variant v;
  r.GridGetCellValue(0, 9, 0, v);
  EXPECT_EQ(v.AsInt(), 2);
}

TEST(ReaderFramework, ProgressAndRecordStatus) {
  FakeReader r;
  std::vector<std::int64_t> seen;
  r.ProgressProc = [&](std::int64_t p, std::int64_t t) { seen.push_back(p * 100 + t); };
  r.OnLoadProgress = [&](TCustomSpreadSheetFile*, std::int64_t p, std::int64_t t) {
    seen.push_back(-(p * 100 + t));
  };
  r.DoProgress(3, 7);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{307, -307}));
  int events = 0;
  r.OnRecordStatusChanged = [&](TCustomSpreadSheetFile*, std::int32_t, std::int32_t row,
                                TKvIRowStatus s) { events += row * 10 + s; };
  r.Sheets().Items(0).Cells.SetCell(0, 2, Variant::Integer(1), taLeftJustify, 0, ictInteger);
  r.SetRecordStatus(0, 2, rsDeleted);
  r.SetRecordStatus(0, 50, rsError);  // no such row: only the event
  EXPECT_EQ(r.Sheets()[0].Cells.RowStatus(2), rsDeleted);
  EXPECT_EQ(events, 21 + 502);
}

TEST(ReaderFramework, ColumnNaming) {
  FakeReader r;
  r.Sheets().Items(0).Cells.SetCell(2, 0, Variant::Integer(1), taLeftJustify, 0, ictInteger);
  TColumnNameList names;
  r.GetColumnNames(names, "");
  EXPECT_EQ(names, (TColumnNameList{{"A", 0}, {"B", 1}, {"C", 2}}));
  r.GetColumnNames(names, "B;ZZ");
  EXPECT_EQ(names, (TColumnNameList{{"B", 1}, {"ZZ", -1}}));
  EXPECT_EQ(r.ColumnIndexByName("c"), 2);
  r.NameKind = nkFieldName;
  EXPECT_EQ(r.ColumnIndexByName("c"), -1);
  r.GetColumnNames(names, "");
  EXPECT_TRUE(names.empty());
}

TEST(ReaderFramework, LoadFromFileChecksTheName) {
  FakeReader r;
  try {
    r.LoadFromFile("  \t ");
    FAIL();
  } catch (const EKvIFileException& e) {
    EXPECT_EQ(e.Message(), "File is not defined.");
  }
  try {
    r.LoadFromFile("/no/such/file.tps");
    FAIL();
  } catch (const EKvIFileException& e) {
    EXPECT_EQ(e.Message(), "File /no/such/file.tps does not exist.");
  }
  EXPECT_EQ(r.FileName, "");
}

TEST(ReaderFramework, PrefixedStreams) {
  FakeReader r;
  std::vector<std::uint8_t> prefixed = {'B', 'D', 'O', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
  TMemoryStream a(prefixed);
  r.LoadFromPrefixedStream(a);
  EXPECT_EQ(r.startedAt, 12);
  prefixed[0] = 'X';
  TMemoryStream b(prefixed);
  r.LoadFromPrefixedStream(b);
  EXPECT_EQ(r.startedAt, 0);
  TMemoryStream shortStream(std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_THROW(r.LoadFromPrefixedStream(shortStream), EReadError);
}

TEST(FileStreams, ReadAndMapAFile) {
  TempDir dir;
  const std::string path = dir.File("in.bin");
  {
    TBufferedFileWriter w(path);
    w.Write("0123456789");
    w.Close();
  }
  TFileStream in(path);
  EXPECT_EQ(in.Size(), 10);
  EXPECT_FALSE(in.ViewIsFileMapping());  // nothing mapped before View
  const auto view = in.View();
  EXPECT_EQ(std::string(view.begin(), view.end()), "0123456789");
  EXPECT_TRUE(in.ViewIsFileMapping());
  char buf[4] = {};
  in.Seek(7);
  EXPECT_EQ(in.Read(buf, 4), 3u);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(in.Read(buf, 4), 0u);
  TMemoryStream memory(std::vector<std::uint8_t>{1, 2});
  EXPECT_EQ(memory.View().size(), 2u);
  EXPECT_FALSE(memory.ViewIsFileMapping());
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_THROW(TFileStream(dir.Path()), EFOpenError);
  EXPECT_THROW(TFileStream(dir.File("missing.bin")), EFOpenError);
}

TEST(BufferedWriter, WritesEverythingAndReportsFailures) {
  TempDir dir;
  {
    TBufferedFileWriter w(dir.File("out.txt"), 8);
    w.Write("hello ");
    w.Write("a longer line than the buffer\r\n");
    w.Write("x");
    w.Close();
  }
  EXPECT_EQ(ReadFileText(dir.File("out.txt")), "hello a longer line than the buffer\r\nx");
  EXPECT_THROW(TBufferedFileWriter(dir.File("missing/out.txt")), EFCreateError);
  if (PathExists("/dev/full")) {
    TBufferedFileWriter full("/dev/full");
    full.Write("data");
    try {
      full.Close();
      FAIL();
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message(), "Cannot write file /dev/full");
    }
  }
}

// Full buffers, and texts handed over whole, go to a second thread while the next one
// fills: the file holds every byte in order however the writes fall on the buffer
// bounds, Flush leaves everything so far in the file, and a failed write is reported
// and ends the writing.
TEST(BufferedWriter, BuffersWrittenAlongsideInOrder) {
  TempDir dir;
  std::string want;
  {
    TBufferedFileWriter w(dir.File("many.txt"), 64);
    for (int i = 0; i < 3000; ++i) {
      // Lengths 0 to 140: within the buffer, filling it exactly, and longer than it.
      std::string piece(std::size_t(i * 37 % 141), char('a' + i % 26));
      if (!piece.empty()) piece.back() = '\n';
      want += piece;
      if (i % 3 == 0) {
        // Handed over whole when at least a buffer long, copied when shorter.
        w.WriteTakingOver(piece);
        EXPECT_TRUE(piece.empty());
      } else {
        w.Write(piece);
      }
      if (i == 1500) {
        w.Flush();
#ifndef _WIN32  // the file is not shared while it is written there
        EXPECT_EQ(ReadFileText(dir.File("many.txt")), want);
#endif
      }
    }
    // Texts longer than one system call writes, copied and handed over.
    for (const std::size_t size : {std::size_t(128) << 10, (std::size_t(300) << 10) + 7}) {
      std::string big(size, ' ');
      for (std::size_t k = 0; k < size; ++k) big[k] = char('0' + k % 43);
      want += big + big;
      w.Write(big);
      w.WriteTakingOver(big);
    }
    w.Close();
  }
  EXPECT_EQ(ReadFileText(dir.File("many.txt")), want);
  {
    // Left to the destructor (as when the run ends with an exception).
    TBufferedFileWriter w(dir.File("unclosed.txt"), 16);
    for (int i = 0; i < 100; ++i) w.Write("line " + std::to_string(i) + "\n");
  }
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(ReadFileText(dir.File("unclosed.txt")), lines);
  if (PathExists("/dev/full")) {
    // Lines shorter than the buffer: the failure happens in the second thread and is
    // reported by a later Write.
    TBufferedFileWriter full("/dev/full", 64);
    std::string message;
    try {
      for (int i = 0; i < 1000; ++i) full.Write("some text\n");
      full.Close();
    } catch (const EWriteError& e) {
      message = e.Message();
    }
    EXPECT_EQ(message, "Cannot write file /dev/full");
    EXPECT_THROW(full.Write(std::string(100, 'x')), EWriteError);  // nothing after it
    EXPECT_THROW(full.Close(), EWriteError);
    TBufferedFileWriter handedOver("/dev/full", 64);
    std::string big(1000, 'x');
    handedOver.WriteTakingOver(big);  // fails on the second thread
    EXPECT_THROW(handedOver.Close(), EWriteError);
  }
}

}  // namespace
