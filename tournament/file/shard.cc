#include "tournament/file/shard.h"

#include <charconv>

namespace tournament {
namespace {

std::optional<int64_t> Number(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text[0] == '-' ||
      text[0] == '+') {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ShardParse ParseShard(const std::string& text) {
  ShardParse r;
  const size_t slash = text.find('/');
  const std::optional<int64_t> index =
      slash == std::string::npos ? std::nullopt : Number(text.substr(0, slash));
  const std::optional<int64_t> count =
      slash == std::string::npos ? std::nullopt : Number(text.substr(slash + 1));
  if (!index || !count) {
    r.error = "--shard " + text + ": expected K/N, such as 0/8";
  } else if (*count < 1 || *count > kMaxShards) {
    r.error = "--shard " + text + ": N must be 1 to " + std::to_string(kMaxShards);
  } else if (*index >= *count) {
    r.error = "--shard " + text + ": K must be below N (shards count from 0)";
  } else {
    r.shard = Shard{*index, *count};
  }
  return r;
}

// Loading bounds the product (kMaxSeeds seeds, kMaxPairs pairs), far inside 64 bits.
SessionPlan::SessionPlan(const TournamentFile& t)
    : t_(t), size_(static_cast<int64_t>(t.scenarios.size() * t.seeds.size() * t.lineups.size())) {}

PlannedSession SessionPlan::At(int64_t position) const {
  // Scenarios, then seeds, then lineups: the lineup turns fastest.
  const auto p = static_cast<size_t>(position);
  const size_t lineups = t_.lineups.size();
  const size_t lineup = p % lineups;
  const size_t seed = p / lineups % t_.seeds.size();
  const size_t scenario = p / lineups / t_.seeds.size();
  return {{t_.scenario_names[scenario], t_.seeds[seed], t_.lineups[lineup].name}, scenario, lineup};
}

int64_t ShardSize(int64_t total, const Shard& shard) {
  return total / shard.count + (shard.index < total % shard.count ? 1 : 0);
}

}  // namespace tournament
