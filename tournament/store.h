// The tournament database: its schema (versioned by PRAGMA user_version), the tournaments and the
// sessions written so far. Each session is written whole within one transaction, once: a session
// already stored is never written again, so a resumed run neither loses nor repeats one.
//
// Schema version 2 (version 1 plus the shard table of shard_store.h; a version 1 file is brought
// to 2 when opened, which adds the empty table: it held whole tournaments):
//   tournament(id, hash UNIQUE, name, file, sessions_planned)
//   session(id, tournament, scenario, scenario_hash, seed, lineup, virtual_time, started_us,
//           duration_us, outcome, detail, revenue), UNIQUE(tournament, scenario, seed, lineup)
//   participant(session, position, name, kind, strategy, purchases, spend, benefit, fines,
//               surplus, sanctions, expulsions, logged_in, bids, faults, left_market, dropped,
//               response_count, response_median_us, response_p99_us, status, exit_code,
//               exit_signal, stderr_tail)
//   good(session, position, auction, id, kind, seller, round, initial, resale, reserve, outcome,
//        buyer, price, collisions, sanctions)
//   bid(session, position, auction, good, price, buyer, at_us, response_us, counted)
#ifndef TOURNAMENT_STORE_H_
#define TOURNAMENT_STORE_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tournament/session_record.h"
#include "tournament/sqlite_db.h"
#include "tournament/tournament_file.h"

namespace tournament {

inline constexpr int kSchemaVersion = 2;

class Store {
 public:
  // Opens the database, creating it and its schema when `create` is set (WAL mode), bringing a
  // version 1 file to version 2. Throws DbError when it cannot be opened or holds another schema
  // version.
  Store(const std::string& path, bool create);

  // The tournament's id, adding it when it is new.
  int64_t AddTournament(const TournamentFile& tournament, int64_t sessions_planned);

  // The sessions of the tournament already stored.
  std::set<SessionKey> StoredSessions(int64_t tournament);

  // Writes the session and everything in it in one transaction. False, writing nothing, when the
  // session is stored already.
  bool Write(int64_t tournament, const SessionRecord& record);
  // Writes several whole sessions in one transaction (a transaction's cost is mostly its pages,
  // so a batch of fast sessions costs little more than one), skipping those stored already.
  // Returns how many were written.
  int64_t Write(int64_t tournament, const std::vector<const SessionRecord*>& records);

  Db& db() { return db_; }

 private:
  bool Insert(int64_t tournament, const SessionRecord& record);  // inside a transaction

  Db db_;
  // The inserts of Write, prepared once.
  std::unique_ptr<Statement> session_, participant_, good_, bid_;
};

}  // namespace tournament

#endif  // TOURNAMENT_STORE_H_
