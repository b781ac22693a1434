// The few functions of the SQLite library that VELTRO uses, as one table of function
// pointers. The Linux program links the library; the Windows program loads it when a
// conversion asks for it, so that it starts without it. The code above this table is
// the same on both.
#pragma once

#include <string>

// The library's opaque handles (declared the same way by the library's own header).
struct sqlite3;
struct sqlite3_stmt;

struct TSqliteApi {
  using TDestructor = void (*)(void*);
  int (*OpenV2)(const char* path, sqlite3** db, int flags, const char* vfs) = nullptr;
  int (*CloseV2)(sqlite3* db) = nullptr;
  int (*Exec)(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**),
              void* argument, char** error) = nullptr;
  void (*Free)(void* memory) = nullptr;
  const char* (*ErrMsg)(sqlite3* db) = nullptr;
  int (*PrepareV2)(sqlite3* db, const char* sql, int bytes, sqlite3_stmt** statement,
                   const char** tail) = nullptr;
  int (*BindInt64)(sqlite3_stmt* statement, int index, long long value) = nullptr;
  int (*BindDouble)(sqlite3_stmt* statement, int index, double value) = nullptr;
  int (*BindText)(sqlite3_stmt* statement, int index, const char* text, int bytes,
                  TDestructor destructor) = nullptr;
  int (*BindBlob)(sqlite3_stmt* statement, int index, const void* data, int bytes,
                  TDestructor destructor) = nullptr;
  int (*BindNull)(sqlite3_stmt* statement, int index) = nullptr;
  int (*Step)(sqlite3_stmt* statement) = nullptr;
  int (*Reset)(sqlite3_stmt* statement) = nullptr;
  int (*Finalize)(sqlite3_stmt* statement) = nullptr;
  const unsigned char* (*ColumnText)(sqlite3_stmt* statement, int column) = nullptr;
};

// The library's result codes and flags used here (fixed by its interface).
inline constexpr int kSqliteOk = 0;
inline constexpr int kSqliteRow = 100;
inline constexpr int kSqliteDone = 101;
inline constexpr int kSqliteOpenReadWrite = 0x00000002;
inline constexpr int kSqliteOpenCreate = 0x00000004;
inline constexpr int kSqliteOpenNoMutex = 0x00008000;

// The library's functions, found once per process; null when no library can be
// loaded, with Why saying what was tried.
const TSqliteApi* SqliteLibrary(std::string& why);
