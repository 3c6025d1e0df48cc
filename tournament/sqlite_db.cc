#include "tournament/sqlite_db.h"

#include <sqlite3.h>

namespace tournament {
namespace {

[[noreturn]] void Throw(sqlite3* db, const std::string& what) {
  throw DbError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

Db::Db(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open database " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, 10'000);
}

Db::~Db() { sqlite3_close(db_); }

void Db::Exec(std::string_view sql) {
  const std::string text(sql);
  char* message = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string what = message ? message : "unknown error";
    sqlite3_free(message);
    throw DbError("database: " + what);
  }
}

Statement Db::Prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    Throw(db_, "database: cannot prepare statement");
  }
  return Statement(db_, stmt);
}

int64_t Db::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int64_t Db::Changes() const { return sqlite3_changes64(db_); }

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

Statement& Statement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Throw(db_, "database: bind");
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) Throw(db_, "database: bind");
  return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
  if (sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    Throw(db_, "database: bind");
  }
  return *this;
}

Statement& Statement::BindUncopied(int index, std::string_view value) {
  if (sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8) !=
      SQLITE_OK) {
    Throw(db_, "database: bind");
  }
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) Throw(db_, "database: bind");
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Throw(db_, "database");
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int Statement::Columns() const { return sqlite3_column_count(stmt_); }
bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}
int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double Statement::Real(int column) const { return sqlite3_column_double(stmt_, column); }
std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text),
          static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

Transaction::Transaction(Db& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.Exec("ROLLBACK");
    } catch (const DbError&) {
      // Nothing to undo: SQLite already rolled back.
    }
  }
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace tournament
