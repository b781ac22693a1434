#include "out/SqliteDb.h"

#include <climits>

#include "cells/KvExceptions.h"

namespace {

// The library copies nothing when given this "destructor": the caller keeps the bytes
// until the statement is stepped.
const TSqliteApi::TDestructor kStatic = nullptr;

int SizeOf(std::string_view bytes) {
  if (bytes.size() > std::size_t(INT_MAX))
    throw Exception("A value of " + std::to_string(bytes.size()) +
                    " bytes is too large for an SQLite column");
  return int(bytes.size());
}

}  // namespace

TSqliteDatabase::TSqliteDatabase(const std::string& path) {
  std::string why;
  api_ = SqliteLibrary(why);
  if (!api_) throw Exception("SQLite is not available: " + why);
  // One thread uses the connection at a time: the library need not lock it on every call.
  const int rc = api_->OpenV2(path.c_str(), &db_,
                              kSqliteOpenReadWrite | kSqliteOpenCreate | kSqliteOpenNoMutex, nullptr);
  if (rc != kSqliteOk) {
    const std::string message = db_ ? api_->ErrMsg(db_) : "out of memory";
    if (db_) api_->CloseV2(db_);
    db_ = nullptr;
    throw EKvIFileException("Cannot open the database " + path + ": " + message);
  }
}

TSqliteDatabase::~TSqliteDatabase() {
  if (db_) api_->CloseV2(db_);
}

void TSqliteDatabase::Fail(std::string_view what) const {
  throw Exception(std::string(what) + ": " + api_->ErrMsg(db_));
}

void TSqliteDatabase::Exec(const std::string& sql) {
  char* error = nullptr;
  if (api_->Exec(db_, sql.c_str(), nullptr, nullptr, &error) == kSqliteOk) return;
  const std::string message = error ? error : api_->ErrMsg(db_);
  api_->Free(error);
  throw Exception("SQLite: " + message);
}

std::vector<std::string> TSqliteDatabase::QueryTexts(const std::string& sql) {
  TSqliteStatement query(*this, sql);
  std::vector<std::string> texts;
  while (query.Next()) texts.push_back(query.ColumnText(0));
  return texts;
}

TSqliteStatement::TSqliteStatement(TSqliteDatabase& db, const std::string& sql) : db_(db) {
  if (db.Api().PrepareV2(db.Handle(), sql.c_str(), SizeOf(sql), &stmt_, nullptr) != kSqliteOk)
    db.Fail("SQLite");
}

TSqliteStatement::~TSqliteStatement() { db_.Api().Finalize(stmt_); }

void TSqliteStatement::Check(int rc, std::string_view what) const {
  if (rc != kSqliteOk) db_.Fail(what);
}

void TSqliteStatement::BindNull(int index) { Check(db_.Api().BindNull(stmt_, index), "SQLite"); }

void TSqliteStatement::BindInteger(int index, std::int64_t value) {
  Check(db_.Api().BindInt64(stmt_, index, value), "SQLite");
}

void TSqliteStatement::BindReal(int index, double value) {
  Check(db_.Api().BindDouble(stmt_, index, value), "SQLite");
}

void TSqliteStatement::BindText(int index, std::string_view text) {
  // A pointer that is never null, so that an empty text is a text and not NULL.
  Check(db_.Api().BindText(stmt_, index, text.empty() ? "" : text.data(), SizeOf(text), kStatic),
        "SQLite");
}

void TSqliteStatement::BindBlob(int index, std::string_view bytes) {
  Check(db_.Api().BindBlob(stmt_, index, bytes.empty() ? "" : bytes.data(), SizeOf(bytes), kStatic),
        "SQLite");
}

void TSqliteStatement::Run() {
  const int rc = db_.Api().Step(stmt_);
  if (rc != kSqliteDone && rc != kSqliteRow) {
    db_.Api().Reset(stmt_);
    db_.Fail("SQLite");
  }
  db_.Api().Reset(stmt_);
}

bool TSqliteStatement::Next() {
  const int rc = db_.Api().Step(stmt_);
  if (rc == kSqliteRow) return true;
  if (rc != kSqliteDone) db_.Fail("SQLite");
  return false;
}

std::string TSqliteStatement::ColumnText(int column) const {
  const unsigned char* text = db_.Api().ColumnText(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string QuoteSqlName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  out.push_back('"');
  return out;
}
