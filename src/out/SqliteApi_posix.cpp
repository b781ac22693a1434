// The Linux program links the SQLite library: the table holds its functions.
#include <sqlite3.h>

#include "out/SqliteApi.h"

const TSqliteApi* SqliteLibrary(std::string& /*why*/) {
  static const TSqliteApi api = [] {
    TSqliteApi a;
    a.OpenV2 = &sqlite3_open_v2;
    a.CloseV2 = &sqlite3_close_v2;
    a.Exec = &sqlite3_exec;
    a.Free = &sqlite3_free;
    a.ErrMsg = &sqlite3_errmsg;
    a.PrepareV2 = &sqlite3_prepare_v2;
    a.BindInt64 = &sqlite3_bind_int64;
    a.BindDouble = &sqlite3_bind_double;
    a.BindText = &sqlite3_bind_text;
    a.BindBlob = &sqlite3_bind_blob;
    a.BindNull = &sqlite3_bind_null;
    a.Step = &sqlite3_step;
    a.Reset = &sqlite3_reset;
    a.Finalize = &sqlite3_finalize;
    a.ColumnText = &sqlite3_column_text;
    return a;
  }();
  return &api;
}
