// The tournament database: its schema (versioned by PRAGMA user_version), the tournaments and the
// sessions written so far. Each session is written whole within one transaction, once: a session
// already stored is never written again, so a resumed run neither loses nor repeats one.
//
// A session's row id is made from its place in the tournament's canonical order (FirstId), so the
// file's contents do not depend on the order sessions ended in.
//
// Schema version 4 (version 3, without the running totals, is converted by `tournament upgrade`,
// upgrade.h; older files are refused):
//   tournament(id, hash UNIQUE, name, file, sessions_planned)
//   session(id, tournament, scenario, scenario_hash, seed, lineup, virtual_time, started_us,
//           duration_us, outcome, detail, revenue, goods_total, goods_sold, efficiency,
//           top_value_share, price_over_top, participants, goods, clock),
//           UNIQUE(tournament, scenario, seed, lineup)
//   bid(session, position, auction, good, price, buyer, at_us, response_us, counted)
//   shard(tournament, shard, shards, sessions_planned): which shard a file holds (shard_store.h)
//   entry_total, scenario_total: the leaderboard's running totals, written with each batch
//     (totals.h)
// and two views, which read the session's packed columns one row per element:
//   participant(session, position, name, kind, strategy, purchases, spend, benefit, fines,
//               surplus, sanctions, expulsions, logged_in, bids, faults, left_market, dropped,
//               response_count, response_median_us, response_p99_us, status, exit_code,
//               exit_signal, stderr_tail)
//   good(session, position, auction, id, kind, seller, round, initial, resale, reserve, outcome,
//        buyer, price, collisions, sanctions, buyer_values)
// session.participants is a JSON array holding one array per lineup entry, in lineup order, with
// the participant view's columns from name on, in that order; session.goods one array per good,
// in the order they came under the hammer, with the good view's columns from auction on, the last
// (buyer_values) an object from each buyer present to its value of the good (a rival's private
// value, an agent's resale price). Flags are 0 or 1, missing figures null. A session is one row
// (and, for agents, its bids): a virtual-time session costs the database one B-tree insert rather
// than one per good. efficiency, top_value_share and price_over_top are the market's session
// measures (engine/measures.h), NULL when no good counts for them.

#ifndef TOURNAMENT_STORE_H_
#define TOURNAMENT_STORE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tournament/db/packed_session.h"
#include "tournament/db/sqlite_db.h"
#include "tournament/file/session_record.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

inline constexpr int kSchemaVersion = 4;

// Adds the session table's last column, `clock` ("virtual", "stepped" or "real"): run when a
// file is created and when a version-3 file is upgraded, so both hold one definition.
void AddClockColumn(Db& db);
// The version `tournament upgrade` converts (upgrade.h); run and show refuse it, naming the
// command.
inline constexpr int kUpgradableVersion = 3;

class Store {
 public:
  // Opens the database; with Access::kCreate creates the file and its schema (WAL mode) when
  // missing or empty. The schema is checked before anything is changed: a file that holds anything
  // else is refused (DbError) and left byte for byte as it was. Runners starting together on a new
  // file take turns: one creates the schema, the others wait for its lock (up to 10 s) and use it.
  // A reader (Access::kRead) changes nothing and sets nothing.
  Store(const std::string& path, Access access);
  Store(const std::string& path, bool create)
      : Store(path, create ? Access::kCreate : Access::kWrite) {}

  // The tournament's id, adding it when it is new.
  int64_t AddTournament(const TournamentFile& tournament, int64_t sessions_planned);

  // The sessions of the tournament already stored.
  std::set<SessionKey> StoredSessions(int64_t tournament);

  // Writes the session and everything in it in one transaction. False, writing nothing, when the
  // session is stored already.
  bool Write(int64_t tournament, const SessionRecord& record);
  // Writes several whole sessions, packed (packed_session.h), in one transaction (a transaction's
  // cost is mostly its pages, so a batch of fast sessions costs little more than one), skipping
  // those stored already. Returns how many were written.
  int64_t Write(int64_t tournament, const std::vector<const PackedSession*>& sessions);

  Db& db() { return db_; }

  // The row id of the tournament's first session in its canonical order: a session's id is this
  // plus its position. Tournaments are numbered in the order they were added, each taking as many
  // ids as it plans sessions, so every file holding the same tournaments gives a session the
  // same id.
  int64_t FirstId(int64_t tournament);

 private:
  bool Insert(int64_t tournament, const PackedSession& session);  // inside a transaction

  Db db_;
  // The inserts of Write, prepared once.
  std::unique_ptr<Statement> session_, bid_;
  std::map<int64_t, int64_t> first_ids_;  // FirstId's answers
};

}  // namespace tournament

#endif  // TOURNAMENT_STORE_H_
