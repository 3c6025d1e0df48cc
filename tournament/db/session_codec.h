// The session row's two packed columns (store.h), as bytes: what differs from one session to the
// next, and nothing that the scenario or the lineup already says (the goods' plan is kept once per
// scenario in scenario_good, the entries' names once per lineup in lineup_entry).
//
// Numbers are LEB128 varints, signed ones zigzagged first; a string is its length then its bytes;
// an optional number is 0 for none, else the number's varint plus one (zigzagged when signed).
//
// session.goods:        buyers (count, then each name), goods (count, then each good):
//   outcome code (0 pending, 1 sold, 2 unsold, 3 interrupted), winner (0 none, else buyer index
//   plus one), price (optional), collisions, sanctions, then its values: 2k when the good's k
//   values are those of buyers 0..k-1 in order (each value follows), else 2k + 1 and k pairs of
//   buyer index and value. The buyers are listed in the order they first appear in the goods.
// session.participants: entries (count, then each in lineup order): purchases, spend, benefit,
//   fines, surplus, sanctions, expulsions; then 0 for an entry with nothing of an agent's figures,
//   else 1 and logged_in, bids, faults, left, dropped (string), response_count, the median and p99
//   response times (optional), status (string), exit code and signal (optional), the stderr tail
//   (string) and the late ticks (optional).
//
// SQL reads them through two functions every connection of this library has (Db registers them),
// which the database's views use: session_goods(goods) gives a JSON array with one array per
// good, [outcome, buyer, price, collisions, sanctions, {buyer: value, ...}]; session_entries
// (participants) one array per entry with the figures above in that order, flags as 0 or 1.
#ifndef TOURNAMENT_SESSION_CODEC_H_
#define TOURNAMENT_SESSION_CODEC_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tournament/file/session_record.h"

struct sqlite3;

namespace tournament {

// A packed column that cannot be read (a damaged or hand-made file).
class CodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The goods column, written one good at a time. The memory of the buffers given and taken back
// is reused.
class GoodsEncoder {
 public:
  explicit GoodsEncoder(std::string buffer = {}, std::string scratch = {});

  // outcome: a name OutcomeCode knows; buyer empty for none.
  void Add(std::string_view outcome, std::string_view buyer, std::optional<int64_t> price,
           int collisions, int sanctions);
  // The values of the good added last, in the order given.
  void Value(std::string_view buyer, int64_t value);

  // The column's bytes; `scratch` gets the working buffer back for the next session.
  std::string Take(std::string* scratch = nullptr);

 private:
  void EndGood();
  uint64_t Index(std::string_view buyer);

  std::string out_;                 // the buyers' part, then the whole column
  std::string body_;                // the goods' part
  std::vector<std::string> names_;  // the buyers so far
  int64_t goods_ = 0;
  std::vector<std::pair<uint64_t, int64_t>> values_;  // the current good's
  bool open_ = false;
};

// The participants column of these rows, written into `buffer` (its memory reused).
std::string EncodeEntries(const std::vector<ParticipantRow>& rows, std::string buffer = {});

// The columns as the SQL functions give them. Throw CodecError on bytes they cannot read.
std::string GoodsJson(std::string_view column);
std::string EntriesJson(std::string_view column);

// Registers session_goods and session_entries on the connection.
void RegisterCodecFunctions(sqlite3* db);

}  // namespace tournament

#endif  // TOURNAMENT_SESSION_CODEC_H_
