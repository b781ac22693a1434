// Rows of TopSpeed tables decoded on demand: the load keeps only where each data
// record lies (its page and place in the page), and a table's rows are decoded when
// the writer or the row filter asks for them, one row at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cells/KvCells.h"
#include "tps/KvTPSContainer.h"
#include "tps/KvTPSFields.h"
#include "tps/KvTPSMemos.h"
#include "tps/KvTPSValues.h"

// The file of a load, shared by the tables decoded from it.
struct TTPSLazyFile {
  // The view's bytes must stay in place: a copy read from the stream (owned) or the
  // stream's own bytes. releaseBehind: they are a read-only file mapping whose pages may
  // be given back.
  TTPSLazyFile(TTPSFileBytes owned, const TTPSFileView& view,
               std::vector<std::uint64_t> pageOffsets, bool releaseBehind);
  TTPSFileBytes Owned;
  TTPSFileView View;
  std::vector<std::uint64_t> PageOffsets;  // the pages that hold indexed records
  bool ReleaseBehind;                      // as given: for the page caches of other threads
  TTPSPageCache Pages;

  // The data of the record a source row names; false when it cannot be found.
  bool Record(const TKvISourceRow& row, std::span<const std::uint8_t>& data,
              std::uint16_t& headerLength) {
    return Record(row, Pages, data, headerLength);
  }
  // The same through another page cache of these bytes (one per thread).
  bool Record(const TKvISourceRow& row, TTPSPageCache& pages, std::span<const std::uint8_t>& data,
              std::uint16_t& headerLength) const;
};

// One table's rows, decoded from its data records. On cache lines of its own: a copy
// for another thread (CloneForThread) changes with every row it fills.
class alignas(64) TTPSLazyRows : public TKvIRowSource {
 public:
  TTPSLazyRows(std::shared_ptr<TTPSLazyFile> file, const TTPSFields& fields,
               std::uint16_t fieldCount, bool splitArrays, std::string arraySeparator);
  // The table's memo pieces, [first, last) of pieces; memo column j has memo number
  // j - plainFields. Their texts are assembled from the file as rows are filled.
  void SetMemos(std::shared_ptr<const TTPSMemoPieces> pieces, std::size_t first, std::size_t last,
                std::int32_t plainFields);
  void FillRow(const TKvISourceRow& row, std::vector<TKvICellView>& cells) override;
  // A table whose arrays are split (or that has none) gives plain lines straight from
  // its records.
  TKvIPlainRow AppendPlainRow(const TKvISourceRow& row, std::span<const std::int32_t> columns,
                              const TKvIPlainRowText& text, std::string& out,
                              std::uint64_t limit) override;
  // Shares the file's bytes and the memo texts (no more may be added); reads pages
  // through a page cache of its own.
  std::unique_ptr<TKvIRowSource> CloneForThread() const override;

 private:
  // The shared parts only (CloneForThread).
  TTPSLazyRows(const TTPSLazyRows& other);
  // The row's memo texts into memoText_, each noted in copied_ (which it empties first).
  void AssembleMemos(const TKvISourceRow& row, TTPSPageCache& pages);

  std::shared_ptr<TTPSLazyFile> file_;
  std::unique_ptr<TTPSPageCache> ownPages_;  // a clone's; null: the file's
  TTPSFields fields_;
  // How each field's cell is filled, decided once: the fields decoded from the record,
  // the arrays written as one text, the memos.
  std::vector<std::uint32_t> decoded_, arrays_, memoFields_;
  bool splitArrays_;
  std::string separator_;
  struct Copied {
    std::size_t Column, At, Length;
  };
  struct MemoColumn {
    std::size_t Column;
    std::uint8_t Number;
    bool Blob;
  };

  std::shared_ptr<const TTPSMemoPieces> memos_;
  std::size_t memosFrom_ = 0, memosTo_ = 0;
  std::vector<MemoColumn> memoColumns_;
  std::size_t memoCursor_ = 0;
  std::string memoText_;  // the memo texts of the row last filled
  std::string rowText_;   // the texts of the row last filled
  std::vector<Copied> copied_;
  std::vector<TTPSPlainMemo> plainMemos_;  // the memo texts of the line last written
  std::vector<TTPSPlainField> plainFields_;  // made with the first line (of fields_)
  Variant arrayValue_;
};
