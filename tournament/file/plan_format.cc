#include "tournament/file/plan_format.h"

#include <nlohmann/json.hpp>

#include "engine/text_table.h"
#include "tournament/file/shard.h"
#include "tournament/file/terminal_text.h"

namespace tournament {
namespace {

std::string Describe(const SessionKey& key) {
  return TerminalText(key.scenario) + " seed " + std::to_string(key.seed) + " " +
         TerminalText(key.lineup);
}

// A string as JSON writes it (bytes that are not UTF-8 replaced).
std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string PlanTable(const TournamentFile& t, int64_t shards) {
  const SessionPlan plan(t);
  const int64_t total = plan.size();
  std::string out = "Tournament " + TerminalText(t.name) + " (" + t.hash +
                    "): " + std::to_string(total) + " sessions in " + std::to_string(shards) +
                    " shards; session i (scenarios, then seeds, then lineups, as listed) goes "
                    "to shard i mod " +
                    std::to_string(shards) + "\n";
  market::TextTable table({"shard", "sessions", "first", "last"}, {true, true, false, false});
  for (int64_t k = 0; k < shards; ++k) {
    const int64_t size = ShardSize(total, {k, shards});
    // Shard k holds positions k, k + shards, ...: its last is k + (size - 1) * shards.
    table.Add({std::to_string(k), std::to_string(size), size == 0 ? "-" : Describe(plan.At(k).key),
               size == 0 ? "-" : Describe(plan.At(k + (size - 1) * shards).key)});
  }
  return out + table.Render("  ");
}

// The layout of nlohmann::json's dump(2) of the document {hash, name, rule, sessions, shards: [{
// count, sessions: [{lineup, scenario, seed}], shard}]}, written one session at a time.
void WritePlanJson(std::ostream& out, const TournamentFile& t, int64_t shards) {
  const SessionPlan plan(t);
  const int64_t total = plan.size();
  out << "{\n  \"hash\": " << JsonString(t.hash) << ",\n  \"name\": " << JsonString(t.name)
      << ",\n  \"rule\": "
      << JsonString("session i in the order scenarios, seeds, lineups goes to shard i mod shards")
      << ",\n  \"sessions\": " << total << ",\n  \"shards\": [";
  for (int64_t k = 0; k < shards; ++k) {
    const int64_t size = ShardSize(total, {k, shards});
    out << (k == 0 ? "\n" : ",\n") << "    {\n      \"count\": " << size
        << ",\n      \"sessions\": [";
    for (int64_t i = 0; i < size; ++i) {
      const SessionKey key = plan.At(k + i * shards).key;
      out << (i == 0 ? "\n" : ",\n")
          << "        {\n          \"lineup\": " << JsonString(key.lineup)
          << ",\n          \"scenario\": " << JsonString(key.scenario)
          << ",\n          \"seed\": " << key.seed << "\n        }";
    }
    out << (size == 0 ? "]" : "\n      ]") << ",\n      \"shard\": " << k << "\n    }";
  }
  out << (shards == 0 ? "]" : "\n  ]") << "\n}\n";
}

}  // namespace tournament
