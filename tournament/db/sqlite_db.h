// A thin owner of an SQLite connection and its prepared statements: every handle is closed by its
// destructor, every failure is thrown as a DbError with SQLite's message.
#ifndef TOURNAMENT_SQLITE_DB_H_
#define TOURNAMENT_SQLITE_DB_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tournament {

struct DbError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Statement;

// How a database file is opened.
enum class Access {
  kRead,    // read only: nothing in or beside the file is changed (see Db)
  kWrite,   // read and write an existing file
  kCreate,  // read and write, creating the file when it is missing
};

class Db {
 public:
  // Opens the database file. A writer busy waits up to 10 s for another writer. A reader opens
  // it read only, and works where nothing can be written: on a read-only mount, or in a folder
  // nobody may write, where no writer can change the file either, it is read as immutable (SQLite
  // then needs no shared-memory file beside it).
  Db(const std::string& path, Access access);
  Db(const std::string& path, bool create) : Db(path, create ? Access::kCreate : Access::kWrite) {}
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // Runs one or more statements without results.
  void Exec(std::string_view sql);
  Statement Prepare(std::string_view sql);
  int64_t LastInsertId() const;
  // Rows changed by the last statement.
  int64_t Changes() const;

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement. Bind parameters by 1-based index, Step until it returns false.
class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, std::string_view value);
  Statement& Bind(int index, const char* value) { return Bind(index, std::string_view(value)); }
  // Binds the text without copying it: it must stay unchanged until the statement is Reset.
  Statement& BindUncopied(int index, std::string_view value);
  // Binds the bytes as a BLOB, without copying them (as BindUncopied).
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& BindNull(int index);
  template <typename T>
  Statement& Bind(int index, const std::optional<T>& value) {
    return value ? Bind(index, *value) : BindNull(index);
  }

  // Advances: true while a row is ready, false when done.
  bool Step();
  // Clears the bindings and makes the statement ready to run again.
  void Reset();

  int Columns() const;
  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;
  std::string Blob(int column) const;  // a BLOB's bytes (a text's too); empty for NULL

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless committed.
class Transaction {
 public:
  explicit Transaction(Db& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Db& db_;
  bool done_ = false;
};

}  // namespace tournament

#endif  // TOURNAMENT_SQLITE_DB_H_
