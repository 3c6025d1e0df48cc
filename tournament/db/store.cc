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
  participants BLOB NOT NULL,
  goods BLOB NOT NULL,
  clock TEXT NOT NULL,
  UNIQUE(tournament, scenario, seed, lineup));
CREATE TABLE lineup_entry(
  tournament INTEGER NOT NULL REFERENCES tournament(id),
  lineup TEXT NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  kind TEXT NOT NULL,
  strategy TEXT NOT NULL,
  PRIMARY KEY(tournament, lineup, position)) WITHOUT ROWID;
CREATE TABLE scenario_good(
  tournament INTEGER NOT NULL REFERENCES tournament(id),
  scenario_hash TEXT NOT NULL,
  position INTEGER NOT NULL,
  auction INTEGER NOT NULL,
  id TEXT NOT NULL,
  kind TEXT NOT NULL,
  seller TEXT NOT NULL,
  round INTEGER NOT NULL,
  initial INTEGER NOT NULL,
  resale INTEGER NOT NULL,
  reserve INTEGER NOT NULL,
  PRIMARY KEY(tournament, scenario_hash, position)) WITHOUT ROWID;
CREATE VIEW participant AS SELECT
  s.id AS session,
  p.key AS position,
  e.name AS name,
  e.kind AS kind,
  e.strategy AS strategy,
  json_extract(p.value, '$[0]') AS purchases,
  json_extract(p.value, '$[1]') AS spend,
  json_extract(p.value, '$[2]') AS benefit,
  json_extract(p.value, '$[3]') AS fines,
  json_extract(p.value, '$[4]') AS surplus,
  json_extract(p.value, '$[5]') AS sanctions,
  json_extract(p.value, '$[6]') AS expulsions,
  json_extract(p.value, '$[7]') AS logged_in,
  json_extract(p.value, '$[8]') AS bids,
  json_extract(p.value, '$[9]') AS faults,
  json_extract(p.value, '$[10]') AS left_market,
  json_extract(p.value, '$[11]') AS dropped,
  json_extract(p.value, '$[12]') AS response_count,
  json_extract(p.value, '$[13]') AS response_median_us,
  json_extract(p.value, '$[14]') AS response_p99_us,
  json_extract(p.value, '$[15]') AS status,
  json_extract(p.value, '$[16]') AS exit_code,
  json_extract(p.value, '$[17]') AS exit_signal,
  json_extract(p.value, '$[18]') AS stderr_tail,
  json_extract(p.value, '$[19]') AS late_ticks
  FROM session s, json_each(session_entries(s.participants)) p
  JOIN lineup_entry e ON e.tournament = s.tournament AND e.lineup = s.lineup AND e.position = p.key;
CREATE VIEW good AS SELECT
  s.id AS session,
  g.key AS position,
  c.auction AS auction,
  c.id AS id,
  c.kind AS kind,
  c.seller AS seller,
  c.round AS round,
  c.initial AS initial,
  c.resale AS resale,
  c.reserve AS reserve,
  json_extract(g.value, '$[0]') AS outcome,
  json_extract(g.value, '$[1]') AS buyer,
  json_extract(g.value, '$[2]') AS price,
  json_extract(g.value, '$[3]') AS collisions,
  json_extract(g.value, '$[4]') AS sanctions,
  json_extract(g.value, '$[5]') AS buyer_values
  FROM session s, json_each(session_goods(s.goods)) g
  JOIN scenario_good c ON c.tournament = s.tournament AND c.scenario_hash = s.scenario_hash
    AND c.position = g.key;
CREATE TABLE bid(
  session INTEGER NOT NULL REFERENCES session(id),
  position INTEGER NOT NULL,
  auction INTEGER NOT NULL,
  good TEXT NOT NULL,
  price INTEGER NOT NULL,
  buyer TEXT NOT NULL,
  at_us INTEGER NOT NULL,
  response_us INTEGER NOT NULL,
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
  if (version >= kOldestUpgradable && version < kSchemaVersion) {
    throw DbError(path + " holds schema version " + std::to_string(version) +
                  "; convert it with: tournament upgrade --db " + path);
  }
  throw DbError(path + " holds schema version " + std::to_string(version) +
                "; this program reads version " + std::to_string(kSchemaVersion));
}

}  // namespace

void CreateSchema(Db& db) {
  db.Exec(kSchema);
  CreateShardTable(db);
  CreateTotalsTables(db);
  db.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
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
      CreateSchema(db_);
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
  bid_ = std::make_unique<Statement>(db_.Prepare("INSERT INTO bid VALUES(?,?,?,?,?,?,?,?)"));
  entry_ = std::make_unique<Statement>(
      db_.Prepare("INSERT OR IGNORE INTO lineup_entry VALUES(?,?,?,?,?,?)"));
  good_ = std::make_unique<Statement>(
      db_.Prepare("INSERT OR IGNORE INTO scenario_good VALUES(?,?,?,?,?,?,?,?,?,?,?)"));
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
  for (Statement* statement : {session_.get(), bid_.get(), entry_.get(), good_.get()}) {
    statement->Reset();
  }
  // What a failed transaction added is unknown: read again from the file.
  known_entries_.clear();
  known_goods_.clear();
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
  session.BindBlob(17, packed.participants).BindBlob(18, packed.goods);
  session.Bind(19, r.clock);
  session.Bind(
      20, r.position ? std::optional<int64_t>(FirstId(tournament) + *r.position) : std::nullopt);
  session.Step();
  session.Reset();
  if (db_.Changes() == 0) return false;  // stored before
  const int64_t id = db_.LastInsertId();
  KeepEntries(tournament, packed);
  KeepPlan(tournament, packed);

  Statement& b = *bid_;
  int64_t position = 0;
  for (const BidRow& x : r.bids) {
    b.Bind(1, id).Bind(2, position++).Bind(3, int64_t{x.auction}).Bind(4, x.good);
    b.Bind(5, x.price).Bind(6, x.buyer).Bind(7, x.at_us).Bind(8, x.response_us);
    b.Step();
    b.Reset();
  }
  return true;
}

void Store::KeepEntries(int64_t tournament, const PackedSession& packed) {
  const std::string& lineup = packed.record.key.lineup;
  if (!known_entries_.insert({tournament, lineup}).second) return;
  Statement& e = *entry_;
  for (size_t i = 0; i < packed.entries.size(); ++i) {
    const EntryFigures& f = packed.entries[i];
    e.Bind(1, tournament).Bind(2, lineup).Bind(3, static_cast<int64_t>(i));
    e.Bind(4, f.name).Bind(5, f.kind).Bind(6, f.strategy);
    e.Step();
    e.Reset();
  }
}

void Store::KeepPlan(int64_t tournament, const PackedSession& packed) {
  const std::string& hash = packed.record.scenario_hash;
  auto [at, added] = known_goods_.try_emplace({tournament, hash});
  std::vector<GoodPlan>& known = at->second;
  if (added) {
    Statement q = db_.Prepare(
        "SELECT auction, id, kind, seller, round, initial, resale, reserve FROM scenario_good "
        "WHERE tournament = ? AND scenario_hash = ? ORDER BY position");
    q.Bind(1, tournament).Bind(2, hash);
    while (q.Step()) {
      known.push_back({static_cast<int>(q.Int(0)), q.Text(1), q.Text(2), q.Text(3),
                       static_cast<int>(q.Int(4)), q.Int(5), q.Int(6), q.Int(7)});
    }
  }
  // The scenario plans the same goods in the same order for every session; a session that ended
  // early holds the first of them.
  for (size_t i = 0; i < packed.plan.size() && i < known.size(); ++i) {
    if (!(packed.plan[i] == known[i])) {
      throw DbError("database: session " + std::to_string(packed.record.key.seed) + " of " +
                    packed.record.key.scenario + " holds good " + packed.plan[i].id +
                    " where its scenario's other sessions hold " + known[i].id);
    }
  }
  Statement& g = *good_;
  for (size_t i = known.size(); i < packed.plan.size(); ++i) {
    const GoodPlan& x = packed.plan[i];
    g.Bind(1, tournament).Bind(2, hash).Bind(3, static_cast<int64_t>(i));
    g.Bind(4, int64_t{x.auction}).Bind(5, x.id).Bind(6, x.kind).Bind(7, x.seller);
    g.Bind(8, int64_t{x.round}).Bind(9, x.initial).Bind(10, x.resale).Bind(11, x.reserve);
    g.Step();
    g.Reset();
    known.push_back(x);
  }
}

}  // namespace tournament
