// A SQLite database and its prepared statements over the library's function table;
// every failure becomes an exception carrying the library's message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "out/SqliteApi.h"

class TSqliteStatement;

class TSqliteDatabase {
 public:
  // Opens the database file, creating it when missing. Fails when no SQLite library
  // can be loaded or the file cannot be opened as a database.
  explicit TSqliteDatabase(const std::string& path);
  ~TSqliteDatabase();
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  // Runs one or more statements that return no rows.
  void Exec(const std::string& sql);
  // The first column of every row of a query, as texts (NULL as "").
  std::vector<std::string> QueryTexts(const std::string& sql);

  const TSqliteApi& Api() const { return *api_; }
  sqlite3* Handle() const { return db_; }
  // Throws the library's current message, prefixed with What.
  [[noreturn]] void Fail(std::string_view what) const;

 private:
  const TSqliteApi* api_ = nullptr;
  sqlite3* db_ = nullptr;
};

// A prepared statement; bound texts and blobs are not copied and must stay unchanged
// until the next Step.
class TSqliteStatement {
 public:
  TSqliteStatement(TSqliteDatabase& db, const std::string& sql);
  ~TSqliteStatement();
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  // Parameters count from 1.
  void BindNull(int index);
  void BindInteger(int index, std::int64_t value);
  void BindReal(int index, double value);
  void BindText(int index, std::string_view text);
  void BindBlob(int index, std::string_view bytes);
  // Runs a statement that returns no rows, then makes it ready to run again.
  void Run();
  // Steps once: true when a row is there to read.
  bool Next();
  std::string ColumnText(int column) const;

 private:
  void Check(int rc, std::string_view what) const;
  TSqliteDatabase& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// An SQL identifier in double quotes, doubling the quotes inside.
std::string QuoteSqlName(std::string_view name);
