#include "tournament/db/store.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "tournament/db/shard_store.h"
#include "tournament/db/totals.h"

namespace tournament {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE tournament(
  id INTEGER PRIMARY KEY,
  hash TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  file TEXT NOT NULL,
  sessions_planned INTEGER NOT NULL);
CREATE TABLE session(
  id INTEGER PRIMARY KEY,
  tournament INTEGER NOT NULL REFERENCES tournament(id),
  scenario TEXT NOT NULL,
  scenario_hash TEXT NOT NULL,
  seed INTEGER NOT NULL,
  lineup TEXT NOT NULL,
  virtual_time INTEGER NOT NULL,
  started_us INTEGER,
  duration_us INTEGER NOT NULL,
  outcome TEXT NOT NULL,
  detail TEXT NOT NULL,
  revenue INTEGER NOT NULL,
  goods_total INTEGER NOT NULL,
  goods_sold INTEGER NOT NULL,
  efficiency REAL,
  top_value_share REAL,
  price_over_top REAL,
  participants TEXT NOT NULL,
  goods TEXT NOT NULL,
  UNIQUE(tournament, scenario, seed, lineup));
CREATE VIEW participant AS SELECT
  s.id AS session,
  p.key AS position,
  json_extract(p.value, '$[0]') AS name,
  json_extract(p.value, '$[1]') AS kind,
  json_extract(p.value, '$[2]') AS strategy,
  json_extract(p.value, '$[3]') AS purchases,
  json_extract(p.value, '$[4]') AS spend,
  json_extract(p.value, '$[5]') AS benefit,
  json_extract(p.value, '$[6]') AS fines,
  json_extract(p.value, '$[7]') AS surplus,
  json_extract(p.value, '$[8]') AS sanctions,
  json_extract(p.value, '$[9]') AS expulsions,
  json_extract(p.value, '$[10]') AS logged_in,
  json_extract(p.value, '$[11]') AS bids,
  json_extract(p.value, '$[12]') AS faults,
  json_extract(p.value, '$[13]') AS left_market,
  json_extract(p.value, '$[14]') AS dropped,
  json_extract(p.value, '$[15]') AS response_count,
  json_extract(p.value, '$[16]') AS response_median_us,
  json_extract(p.value, '$[17]') AS response_p99_us,
  json_extract(p.value, '$[18]') AS status,
  json_extract(p.value, '$[19]') AS exit_code,
  json_extract(p.value, '$[20]') AS exit_signal,
  json_extract(p.value, '$[21]') AS stderr_tail
  FROM session s, json_each(s.participants) p;
CREATE VIEW good AS SELECT
  s.id AS session,
  g.key AS position,
  json_extract(g.value, '$[0]') AS auction,
  json_extract(g.value, '$[1]') AS id,
  json_extract(g.value, '$[2]') AS kind,
  json_extract(g.value, '$[3]') AS seller,
  json_extract(g.value, '$[4]') AS round,
  json_extract(g.value, '$[5]') AS initial,
  json_extract(g.value, '$[6]') AS resale,
  json_extract(g.value, '$[7]') AS reserve,
  json_extract(g.value, '$[8]') AS outcome,
  json_extract(g.value, '$[9]') AS buyer,
  json_extract(g.value, '$[10]') AS price,
  json_extract(g.value, '$[11]') AS collisions,
  json_extract(g.value, '$[12]') AS sanctions,
  json_extract(g.value, '$[13]') AS buyer_values
  FROM session s, json_each(s.goods) g;
CREATE TABLE bid(
  session INTEGER NOT NULL REFERENCES session(id),
  position INTEGER NOT NULL,
  auction INTEGER NOT NULL,
  good TEXT NOT NULL,
  price INTEGER NOT NULL,
  buyer TEXT NOT NULL,
  at_us INTEGER NOT NULL,
  response_us INTEGER NOT NULL,
  counted INTEGER NOT NULL,
  PRIMARY KEY(session, position)) WITHOUT ROWID;
)sql";

int64_t Flag(bool value) { return value ? 1 : 0; }

int64_t One(Db& db, const char* sql) {
  Statement q = db.Prepare(sql);
  q.Step();
  return q.Int(0);
}

// Into WAL mode. SQLite asks the busy handler for the lock this needs only in some states, so a
// refusal while another connection holds the file is waited out here too.
void SetWal(Db& db) {
  for (int tries = 0;; ++tries) {
    try {
      db.Exec("PRAGMA journal_mode=WAL");
      return;
    } catch (const DbError&) {
      if ((sqlite3_errcode(db.handle()) & 0xff) != SQLITE_BUSY || tries >= 1000) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

[[noreturn]] void Refuse(const std::string& path, int64_t version) {
  if (version == 0) throw DbError(path + " is not a tournament database");
  if (version == kUpgradableVersion) {
    throw DbError(path + " holds schema version " + std::to_string(version) +
                  "; convert it with: tournament upgrade --db " + path);
  }
  throw DbError(path + " holds schema version " + std::to_string(version) +
                "; this program reads version " + std::to_string(kSchemaVersion));
}

}  // namespace

void AddClockColumn(Db& db) {
  // Added, not declared in the table: an upgraded file and a new one then hold the same
  // definition. Every session row binds its clock; the default is never stored.
  db.Exec("ALTER TABLE session ADD COLUMN clock TEXT NOT NULL DEFAULT 'real'");
}

Store::Store(const std::string& path, Access access) : db_(path, access) {
  if (access == Access::kRead) {
    const int64_t version = One(db_, "PRAGMA user_version");
    if (version != kSchemaVersion) Refuse(path, version);
    return;  // a reader prepares no writes
  }
  // Takes effect only on a file still empty; and the schema is read under the write lock, so a
  // runner that finds another creating it waits and then finds it made.
  db_.Exec("PRAGMA page_size=16384");
  {
    Transaction t(db_);
    const int64_t version = One(db_, "PRAGMA user_version");
    if (version == 0 && access == Access::kCreate &&
        One(db_, "SELECT count(*) FROM sqlite_master") == 0) {
      db_.Exec(kSchema);
      AddClockColumn(db_);
      CreateShardTable(db_);
      CreateTotalsTables(db_);
      db_.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    } else if (version != kSchemaVersion) {
      Refuse(path, version);  // rolled back: nothing was written
    }
    t.Commit();
  }
  // Only now, the file known to be a tournament database: WAL (kept in the file) and this
  // connection's settings.
  bool wal = false;
  {
    Statement mode = db_.Prepare("PRAGMA journal_mode");
    wal = mode.Step() && mode.Text(0) == "wal";
  }
  if (!wal) SetWal(db_);
  db_.Exec(
      "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; PRAGMA wal_autocheckpoint=2048; PRAGMA "
      "cache_size=-2048;");
  // A session stored already (by its key) is skipped; an id taken by another session is an error.
  session_ = std::make_unique<Statement>(db_.Prepare(
      "INSERT INTO session(tournament, scenario, scenario_hash, seed, lineup, "
      "virtual_time, started_us, duration_us, outcome, detail, revenue, goods_total, goods_sold, "
      "efficiency, top_value_share, price_over_top, participants, goods, clock, id) "
      "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) "
      "ON CONFLICT(tournament, scenario, seed, lineup) DO NOTHING"));
  bid_ = std::make_unique<Statement>(db_.Prepare("INSERT INTO bid VALUES(?,?,?,?,?,?,?,?,?)"));
}

int64_t Store::AddTournament(const TournamentFile& tournament, int64_t sessions_planned) {
  Statement insert = db_.Prepare(
      "INSERT OR IGNORE INTO tournament(hash, name, file, sessions_planned) VALUES(?,?,?,?)");
  insert.Bind(1, tournament.hash).Bind(2, tournament.name).Bind(3, tournament.path);
  insert.Bind(4, sessions_planned);
  insert.Step();
  Statement find = db_.Prepare("SELECT id FROM tournament WHERE hash = ?");
  find.Bind(1, tournament.hash);
  if (!find.Step()) throw DbError("database: the tournament row vanished");
  return find.Int(0);
}

static int64_t FirstSessionId(Db& db, int64_t tournament) {
  Statement q =
      db.Prepare("SELECT 1 + coalesce(sum(sessions_planned), 0) FROM tournament WHERE id < ?");
  q.Bind(1, tournament);
  q.Step();
  return q.Int(0);
}

int64_t Store::FirstId(int64_t tournament) {
  auto [at, added] = first_ids_.try_emplace(tournament, 0);
  if (added) at->second = FirstSessionId(db_, tournament);
  return at->second;
}

std::set<SessionKey> Store::StoredSessions(int64_t tournament) {
  std::set<SessionKey> keys;
  Statement q = db_.Prepare("SELECT scenario, seed, lineup FROM session WHERE tournament = ?");
  q.Bind(1, tournament);
  while (q.Step()) keys.insert({q.Text(0), static_cast<uint64_t>(q.Int(1)), q.Text(2)});
  return keys;
}

bool Store::Write(int64_t tournament, const SessionRecord& record) {
  const PackedSession packed = Pack(record);
  return Write(tournament, std::vector<const PackedSession*>{&packed}) == 1;
}

int64_t Store::Write(int64_t tournament, const std::vector<const PackedSession*>& sessions) {
  // Ready whatever a failed write before left behind.
  for (Statement* statement : {session_.get(), bid_.get()}) statement->Reset();
  Transaction t(db_);
  std::vector<const PackedSession*> written;
  written.reserve(sessions.size());
  for (const PackedSession* session : sessions) {
    if (Insert(tournament, *session)) written.push_back(session);
  }
  AddToTotals(db_, tournament, written);
  t.Commit();
  return static_cast<int64_t>(written.size());
}

bool Store::Insert(int64_t tournament, const PackedSession& packed) {
  const SessionRecord& r = packed.record;
  Statement& session = *session_;
  session.Bind(1, tournament).Bind(2, r.key.scenario).Bind(3, r.scenario_hash);
  session.Bind(4, static_cast<int64_t>(r.key.seed)).Bind(5, r.key.lineup);
  session.Bind(6, Flag(r.virtual_time)).Bind(7, r.started_us).Bind(8, r.duration_us);
  session.Bind(9, r.outcome).Bind(10, r.detail).Bind(11, r.revenue);
  session.Bind(12, packed.goods_total).Bind(13, packed.goods_sold);
  session.Bind(14, r.efficiency).Bind(15, r.top_value_share).Bind(16, r.price_over_top);
  session.BindUncopied(17, packed.participants).BindUncopied(18, packed.goods);
  session.Bind(19, r.clock);
  session.Bind(
      20, r.position ? std::optional<int64_t>(FirstId(tournament) + *r.position) : std::nullopt);
  session.Step();
  session.Reset();
  if (db_.Changes() == 0) return false;  // stored before
  const int64_t id = db_.LastInsertId();

  Statement& b = *bid_;
  int64_t position = 0;
  for (const BidRow& x : r.bids) {
    b.Bind(1, id).Bind(2, position++).Bind(3, int64_t{x.auction}).Bind(4, x.good);
    b.Bind(5, x.price).Bind(6, x.buyer).Bind(7, x.at_us).Bind(8, x.response_us);
    b.Bind(9, Flag(x.counted));
    b.Step();
    b.Reset();
  }
  return true;
}

}  // namespace tournament
