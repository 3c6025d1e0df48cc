#include "tournament/store.h"

#include "tournament/shard_store.h"

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
  UNIQUE(tournament, scenario, seed, lineup));
CREATE TABLE participant(
  session INTEGER NOT NULL REFERENCES session(id),
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  kind TEXT NOT NULL,
  strategy TEXT NOT NULL,
  purchases INTEGER NOT NULL,
  spend INTEGER NOT NULL,
  benefit INTEGER NOT NULL,
  fines INTEGER NOT NULL,
  surplus INTEGER NOT NULL,
  sanctions INTEGER NOT NULL,
  expulsions INTEGER NOT NULL,
  logged_in INTEGER NOT NULL,
  bids INTEGER NOT NULL,
  faults INTEGER NOT NULL,
  left_market INTEGER NOT NULL,
  dropped TEXT NOT NULL,
  response_count INTEGER NOT NULL,
  response_median_us INTEGER,
  response_p99_us INTEGER,
  status TEXT NOT NULL,
  exit_code INTEGER,
  exit_signal INTEGER,
  stderr_tail TEXT NOT NULL,
  PRIMARY KEY(session, position)) WITHOUT ROWID;
CREATE TABLE good(
  session INTEGER NOT NULL REFERENCES session(id),
  position INTEGER NOT NULL,
  auction INTEGER NOT NULL,
  id TEXT NOT NULL,
  kind TEXT NOT NULL,
  seller TEXT NOT NULL,
  round INTEGER NOT NULL,
  initial INTEGER NOT NULL,
  resale INTEGER NOT NULL,
  reserve INTEGER NOT NULL,
  outcome TEXT NOT NULL,
  buyer TEXT,
  price INTEGER,
  collisions INTEGER NOT NULL,
  sanctions INTEGER NOT NULL,
  PRIMARY KEY(session, position)) WITHOUT ROWID;
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

}  // namespace

Store::Store(const std::string& path, bool create) : db_(path, create) {
  db_.Exec(
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
      "PRAGMA wal_autocheckpoint=8192; PRAGMA cache_size=-16384;");
  Statement version = db_.Prepare("PRAGMA user_version");
  version.Step();
  const int64_t found = version.Int(0);
  if (found == 0 && create) {
    Statement tables = db_.Prepare("SELECT count(*) FROM sqlite_master");
    tables.Step();
    if (tables.Int(0) != 0) throw DbError(path + " is not a tournament database");
    Transaction t(db_);
    db_.Exec(kSchema);
    CreateShardTable(db_);
    db_.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    t.Commit();
  } else if (found == 1) {
    Transaction t(db_);
    Statement again = db_.Prepare("PRAGMA user_version");  // another process may have done it
    again.Step();
    if (again.Int(0) == 1) {
      CreateShardTable(db_);
      db_.Exec("PRAGMA user_version=2");
    }
    t.Commit();
  } else if (found != kSchemaVersion) {
    throw DbError(path + " holds schema version " + std::to_string(found) +
                  "; this program reads version " + std::to_string(kSchemaVersion));
  }
  session_ = std::make_unique<Statement>(db_.Prepare(
      "INSERT OR IGNORE INTO session(tournament, scenario, scenario_hash, seed, lineup, "
      "virtual_time, started_us, duration_us, outcome, detail, revenue) "
      "VALUES(?,?,?,?,?,?,?,?,?,?,?)"));
  participant_ = std::make_unique<Statement>(db_.Prepare(
      "INSERT INTO participant VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
  good_ = std::make_unique<Statement>(
      db_.Prepare("INSERT INTO good VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
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

std::set<SessionKey> Store::StoredSessions(int64_t tournament) {
  std::set<SessionKey> keys;
  Statement q = db_.Prepare("SELECT scenario, seed, lineup FROM session WHERE tournament = ?");
  q.Bind(1, tournament);
  while (q.Step()) keys.insert({q.Text(0), static_cast<uint64_t>(q.Int(1)), q.Text(2)});
  return keys;
}

bool Store::Write(int64_t tournament, const SessionRecord& record) {
  return Write(tournament, std::vector<const SessionRecord*>{&record}) == 1;
}

int64_t Store::Write(int64_t tournament, const std::vector<const SessionRecord*>& records) {
  // Ready whatever a failed write before left behind.
  for (Statement* statement : {session_.get(), participant_.get(), good_.get(), bid_.get()}) {
    statement->Reset();
  }
  Transaction t(db_);
  int64_t written = 0;
  for (const SessionRecord* record : records) written += Insert(tournament, *record) ? 1 : 0;
  t.Commit();
  return written;
}

bool Store::Insert(int64_t tournament, const SessionRecord& r) {
  Statement& session = *session_;
  session.Bind(1, tournament).Bind(2, r.key.scenario).Bind(3, r.scenario_hash);
  session.Bind(4, static_cast<int64_t>(r.key.seed)).Bind(5, r.key.lineup);
  session.Bind(6, Flag(r.virtual_time)).Bind(7, r.started_us).Bind(8, r.duration_us);
  session.Bind(9, r.outcome).Bind(10, r.detail).Bind(11, r.revenue);
  session.Step();
  session.Reset();
  if (db_.Changes() == 0) return false;  // stored before
  const int64_t id = db_.LastInsertId();

  Statement& p = *participant_;
  int64_t position = 0;
  for (const ParticipantRow& x : r.participants) {
    p.Bind(1, id).Bind(2, position++).Bind(3, x.name).Bind(4, x.kind).Bind(5, x.strategy);
    p.Bind(6, int64_t{x.purchases}).Bind(7, x.spend).Bind(8, x.benefit).Bind(9, x.fines);
    p.Bind(10, x.surplus).Bind(11, int64_t{x.sanctions}).Bind(12, int64_t{x.expulsions});
    p.Bind(13, Flag(x.logged_in)).Bind(14, x.bids).Bind(15, x.faults).Bind(16, Flag(x.left));
    p.Bind(17, x.dropped).Bind(18, x.response_count).Bind(19, x.response_median_us);
    p.Bind(20, x.response_p99_us).Bind(21, x.status);
    p.Bind(22, x.exit_code ? std::optional<int64_t>(*x.exit_code) : std::nullopt);
    p.Bind(23, x.exit_signal ? std::optional<int64_t>(*x.exit_signal) : std::nullopt);
    p.Bind(24, x.stderr_tail);
    p.Step();
    p.Reset();
  }
  Statement& g = *good_;
  position = 0;
  for (const GoodRow& x : r.goods) {
    g.Bind(1, id).Bind(2, position++).Bind(3, int64_t{x.auction}).Bind(4, x.id).Bind(5, x.kind);
    g.Bind(6, x.seller).Bind(7, int64_t{x.round}).Bind(8, x.initial).Bind(9, x.resale);
    g.Bind(10, x.reserve).Bind(11, x.outcome).Bind(12, x.buyer).Bind(13, x.price);
    g.Bind(14, int64_t{x.collisions}).Bind(15, int64_t{x.sanctions});
    g.Step();
    g.Reset();
  }
  Statement& b = *bid_;
  position = 0;
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
