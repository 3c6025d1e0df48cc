// The tournament database: its schema (versioned by PRAGMA user_version), the tournaments and the
// sessions written so far. Each session is written whole within one transaction, once: a session
// already stored is never written again, so a resumed run neither loses nor repeats one.
//
// A session's row id is made from its place in the tournament's canonical order (FirstId), so the
// file's contents do not depend on the order sessions ended in.
//
// Schema version 5 (versions 3 and 4 are converted by `tournament upgrade`, upgrade.h; older
// files are refused):
//   tournament(id, hash UNIQUE, name, file, sessions_planned)
//   session(id, tournament, scenario, scenario_hash, seed, lineup, virtual_time, started_us,
//           duration_us, outcome, detail, revenue, goods_total, goods_sold, efficiency,
//           top_value_share, price_over_top, participants, goods, clock),
//           UNIQUE(tournament, scenario, seed, lineup)
//   lineup_entry(tournament, lineup, position, name, kind, strategy): each lineup's entries once
//   scenario_good(tournament, scenario_hash, position, auction, id, kind, seller, round, initial,
//                 resale, reserve): each scenario's goods once, in the order its sessions list
//                 them
//   bid(session, position, auction, good, price, buyer, at_us, response_us)
//   shard(tournament, shard, shards, sessions_planned): which shard a file holds (shard_store.h)
//   entry_total, scenario_total: the leaderboard's running totals, written with each batch
//     (totals.h)
// session.participants and session.goods hold only what differs from session to session, packed
// as bytes (session_codec.h): each entry's figures, and each good's outcome, winner (an index into
// the session's buyers), price, collisions, sanctions and every buyer's value of it (a rival's
// private value, an agent's resale price). Two views read them one row per element, with the
// lineup's and the scenario's part joined in:
//   participant(session, position, name, kind, strategy, purchases, spend, benefit, fines,
//               surplus, sanctions, expulsions, logged_in, bids, faults, left_market, dropped,
//               response_count, response_median_us, response_p99_us, status, exit_code,
//               exit_signal, stderr_tail, late_ticks)
//   good(session, position, auction, id, kind, seller, round, initial, resale, reserve, outcome,
//        buyer, price, collisions, sanctions, buyer_values)
// buyer_values is a JSON object from each buyer present to its value of the good. Flags are 0 or
// 1, missing figures null. The views need this library's SQL functions (session_codec.h): they
// answer on any connection Db opens. A virtual-time session is one row (with the default scenario
// and four bidders, under 700 bytes of file a session): one B-tree insert. efficiency,
// top_value_share and price_over_top are the market's session measures (engine/measures.h), NULL
// when no good counts for them.

#ifndef TOURNAMENT_STORE_H_
#define TOURNAMENT_STORE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tournament/db/packed_session.h"
#include "tournament/db/sqlite_db.h"
#include "tournament/file/session_record.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

inline constexpr int kSchemaVersion = 5;

// The oldest version `tournament upgrade` converts (upgrade.h); run and show refuse it and every
// later one before the current, naming the command.
inline constexpr int kOldestUpgradable = 3;

// Creates every table and view of the current schema in an empty file and sets its version: for a
// new file, and for the upgrade, so that both hold the same definitions in the same order.
void CreateSchema(Db& db);

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
  // The session's lineup entries and goods' plan, written the first time they are seen. A session
  // whose goods differ from what its scenario's other sessions hold is refused (DbError).
  void KeepEntries(int64_t tournament, const PackedSession& packed);
  void KeepPlan(int64_t tournament, const PackedSession& packed);

  Db db_;
  // The inserts of Write, prepared once.
  std::unique_ptr<Statement> session_, bid_, entry_, good_;
  std::set<std::pair<int64_t, std::string>> known_entries_;  // (tournament, lineup) written
  // (tournament, scenario hash) to the goods' plan stored
  std::map<std::pair<int64_t, std::string>, std::vector<GoodPlan>> known_goods_;
  std::map<int64_t, int64_t> first_ids_;  // FirstId's answers
};

}  // namespace tournament

#endif  // TOURNAMENT_STORE_H_
