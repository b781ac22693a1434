// The Windows program loads SQLite when a conversion asks for it: sqlite3.dll beside
// the program or on the PATH, else the one Windows 10 and later carry
// (winsqlite3.dll). Both export the same functions with the same calling convention
// on 64-bit Windows.
#include <windows.h>

#include <mutex>
#include <type_traits>

#include "out/SqliteApi.h"

namespace {

// Fills every entry of the table from the library; false when one is missing.
bool Bind(HMODULE library, TSqliteApi& api, std::string& missing) {
  auto get = [&](auto& entry, const char* name) {
    FARPROC f = GetProcAddress(library, name);
    if (!f) missing = name;
    entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(reinterpret_cast<void*>(f));
  };
  get(api.OpenV2, "sqlite3_open_v2");
  get(api.CloseV2, "sqlite3_close_v2");
  get(api.Exec, "sqlite3_exec");
  get(api.Free, "sqlite3_free");
  get(api.ErrMsg, "sqlite3_errmsg");
  get(api.PrepareV2, "sqlite3_prepare_v2");
  get(api.BindInt64, "sqlite3_bind_int64");
  get(api.BindDouble, "sqlite3_bind_double");
  get(api.BindText, "sqlite3_bind_text");
  get(api.BindBlob, "sqlite3_bind_blob");
  get(api.BindNull, "sqlite3_bind_null");
  get(api.Step, "sqlite3_step");
  get(api.Reset, "sqlite3_reset");
  get(api.Finalize, "sqlite3_finalize");
  get(api.ColumnText, "sqlite3_column_text");
  return missing.empty();
}

}  // namespace

const TSqliteApi* SqliteLibrary(std::string& why) {
  static std::once_flag once;
  static TSqliteApi api;
  static bool loaded = false;
  static std::string failure;
  std::call_once(once, [] {
    // The current directory is left out of the search, so that a DLL lying in the
    // folder of the data is never loaded by accident.
    SetDllDirectoryW(L"");
    for (const char* name : {"sqlite3.dll", "winsqlite3.dll"}) {
      HMODULE library = LoadLibraryA(name);
      if (!library) continue;
      std::string missing;
      if (Bind(library, api, missing)) {
        loaded = true;
        return;
      }
      failure += std::string(name) + " lacks " + missing + "; ";
      FreeLibrary(library);
    }
    failure +=
        "neither sqlite3.dll (beside VELTRO.EXE or on the PATH) nor winsqlite3.dll could be "
        "loaded";
  });
  if (!loaded) why = failure;
  return loaded ? &api : nullptr;
}
