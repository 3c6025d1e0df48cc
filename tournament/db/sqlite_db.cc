#include "tournament/db/sqlite_db.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "tournament/db/session_codec.h"

namespace tournament {
namespace {

[[noreturn]] void Throw(sqlite3* db, const std::string& what) {
  throw DbError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether no writer can change the file: it lies on a read-only mount, or in a folder nobody may
// write (SQLite cannot write a database without a journal or log file beside it) with no log of
// writes pending beside it.
bool CannotChange(const std::string& path) {
  struct statvfs fs {};
  if (statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return true;
  struct stat folder {};
  if (stat(Folder(path).c_str(), &folder) != 0 || (folder.st_mode & 0222) != 0) return false;
  return access((path + "-wal").c_str(), F_OK) != 0;
}

// The path as an SQLite URI, read only: every byte outside a few safe ones percent-encoded.
std::string ReadOnlyUri(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '/' ||
        c == '.' || c == '_' || c == '-') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[b >> 4];
      encoded += kHex[b & 15];
    }
  }
  // "file:///abs" for an absolute path, "file:rel" for a relative one.
  const std::string uri = (path.rfind('/', 0) == 0 ? "file://" : "file:") + encoded + "?mode=ro";
  return CannotChange(path) ? uri + "&immutable=1" : uri;
}

}  // namespace

Db::Db(const std::string& path, Access access) {
  int flags = SQLITE_OPEN_NOMUTEX;
  std::string name = path;
  if (access == Access::kRead) {
    flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = ReadOnlyUri(path);
  } else {
    flags |= SQLITE_OPEN_READWRITE | (access == Access::kCreate ? SQLITE_OPEN_CREATE : 0);
  }
  if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open database " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, 10'000);
  RegisterCodecFunctions(db_);  // the packed columns' readers, which the views use
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

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  if (sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_STATIC) != SQLITE_OK) {
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

std::string Statement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(stmt_, column);
  if (bytes == nullptr) return {};
  return {static_cast<const char*>(bytes),
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
