#include "engine/scenario.h"

#include <algorithm>
#include <set>
#include <utility>

#include <toml++/toml.h>

#include "engine/rival_table.h"
#include "engine/toml_fields.h"
#include "wire/escape.h"

namespace market {
namespace {

bool IsValidPassword(std::string_view text) {
  return !text.empty() && text.size() <= kMaxPasswordLength &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch > ' ' && ch < 127; });
}

// Names and ids, and passwords: one word of printable characters each.
const TextRule kName{
    IsValidName,
    "a string of 1 to " + std::to_string(kMaxNameLength) + " printable characters without spaces",
    "names"};
const TextRule kPassword{IsValidPassword,
                         "a string of 1 to " + std::to_string(kMaxPasswordLength) +
                             " printable characters without spaces",
                         "passwords"};

Credential ReadCredential(const toml::table& table) {
  TableReader r(table, "[[registry]]");
  Credential c;
  c.login = r.RequireText("login", kName);
  c.password = r.RequireText("password", kPassword);
  r.RejectUnknownKeys();
  return c;
}

// Every strategy a scenario may name, in the order faults list them.
constexpr Strategy kStrategies[] = {
    Strategy::kValue,       Strategy::kCautious,         Strategy::kCareless, Strategy::kTruthful,
    Strategy::kEquilibrium, Strategy::kZeroIntelligence, Strategy::kAdaptive};

// value = { fixed = N } | { uniform = [low, high] } | { mean = M, sd = S, clip = [low, high] }
ValueRule ReadValueRule(const toml::node& node) {
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    Fail(node,
         "value must be a table: { fixed = N }, { uniform = [low, high] } or "
         "{ mean = M, sd = S, clip = [low, high] }");
  }
  TableReader r(*table, "value");
  ValueRule rule;
  const bool fixed = r.Find("fixed") != nullptr;
  const bool uniform = r.Find("uniform") != nullptr;
  const bool normal = r.Find("mean") != nullptr;
  if (fixed + uniform + normal != 1) {
    Fail(node, "value must hold exactly one of fixed, uniform and mean (with sd)");
  }
  if (fixed) {
    rule.kind = ValueRule::Kind::kFixed;
    rule.fixed = r.Int("fixed", 0, kMaxPrice, 0);
  } else if (uniform) {
    rule.kind = ValueRule::Kind::kUniform;
    std::tie(rule.low, rule.high) = r.Pair("uniform", 0, kMaxPrice, {0, 0});
  } else {
    rule.kind = ValueRule::Kind::kNormal;
    rule.mean = r.RequireInt("mean", 0, kMaxPrice);
    rule.sd = r.RequireInt("sd", 0, kMaxPrice);
    std::tie(rule.low, rule.high) = r.Pair("clip", 0, kMaxPrice, {0, kMaxPrice});
  }
  r.RejectUnknownKeys();
  return rule;
}

RivalEntry ReadRival(const toml::table& table, const std::string& where) {
  TableReader r(table, where);
  RivalEntry entry;
  entry.line = LineOf(table.source());
  entry.name = r.RequireText("name", kName);
  const toml::node& strategy = r.Require("strategy");
  const auto* text = strategy.as_string();
  const std::string name = text != nullptr ? text->get() : "";
  const Strategy* found = std::find_if(std::begin(kStrategies), std::end(kStrategies),
                                       [&](Strategy s) { return name == StrategyName(s); });
  if (found == std::end(kStrategies)) {
    std::string names;
    for (Strategy s : kStrategies) {
      names += std::string(names.empty() ? "" : ", ") + "\"" + StrategyName(s) + "\"";
    }
    Fail(strategy, "strategy must be one of " + names);
  }
  entry.strategy = *found;
  if (entry.strategy == Strategy::kCareless) {
    entry.value.low = 90;
    entry.value.high = 140;
  }
  const toml::node* valuation = r.Find("valuation");
  auto [low, high] = r.Pair("valuation", 1, 1000, {entry.value.low, entry.value.high});
  entry.value.low = low;
  entry.value.high = high;
  if (const toml::node* value = r.Find("value"); value != nullptr) {
    if (valuation != nullptr) Fail(*value, "a rival has either valuation or value, not both");
    entry.value = ReadValueRule(*value);
  }
  entry.margin = static_cast<int>(r.Int("margin", 0, 99, entry.margin));
  entry.shade = static_cast<int>(r.Int("shade", 0, 95, entry.shade));
  entry.learning_rate = static_cast<int>(r.Int("learning_rate", 0, 50, entry.learning_rate));
  entry.count = static_cast<int>(r.Int("count", 1, kMaxBuyersPerAuctionLimit, 0));
  if (entry.count > 0 && entry.name.size() + std::to_string(entry.count).size() > kMaxNameLength) {
    Fail(table, "rival names " + entry.name + "1 .. " + entry.name + std::to_string(entry.count) +
                    " would be longer than " + std::to_string(kMaxNameLength) + " characters");
  }
  r.RejectUnknownKeys();
  return entry;
}

GeneratorEntry ReadGenerator(const toml::table& table) {
  TableReader r(table, "[generator]");
  GeneratorEntry g;
  g.kinds = r.Texts("kinds", g.kinds, false, kName);
  g.sellers = r.Texts("sellers", g.sellers, false, kName);
  std::tie(g.initial_low, g.initial_high) =
      r.Pair("initial", 1, kMaxPrice, {g.initial_low, g.initial_high});
  auto resale = r.Pair("resale_percent", 1, 1000, {g.resale_low, g.resale_high});
  g.resale_low = static_cast<int>(resale.first);
  g.resale_high = static_cast<int>(resale.second);
  auto reserve = r.Pair("reserve_percent", 0, 100, {g.reserve_low, g.reserve_high});
  g.reserve_low = static_cast<int>(reserve.first);
  g.reserve_high = static_cast<int>(reserve.second);
  r.RejectUnknownKeys();
  return g;
}

GoodEntry ReadGood(const toml::node& node, int rounds) {
  const toml::table* table = node.as_table();
  if (table == nullptr) Fail(node, "each of goods must be a table {id = ..., kind = ..., ...}");
  TableReader r(*table, "a good");
  GoodEntry g;
  g.id = r.RequireText("id", kName);
  g.kind = r.RequireText("kind", kName);
  g.seller = r.RequireText("seller", kName);
  g.initial = r.RequireInt("initial", 1, kMaxPrice);
  g.resale = r.RequireInt("resale", 0, kMaxPrice);
  g.reserve = r.RequireInt("reserve", 0, g.initial);
  g.round = static_cast<int>(r.Int("round", 1, rounds, 0));
  r.RejectUnknownKeys();
  return g;
}

// A good's clock is kept whole in the results: refuses a price range too many steps long.
void CheckOffers(const toml::node& where, const std::string& what, int64_t most) {
  if (most <= kMaxOffersPerGood) return;
  Fail(where, what + " up to " + std::to_string(most) +
                  " prices ((initial - reserve + max_collisions * collision_increment) / "
                  "price_step + 1; at most " +
                  std::to_string(kMaxOffersPerGood) + "): raise price_step or the reserve");
}

// The widest price range a generated good can have: the highest initial price and the lowest
// reserve percentage (the reserve is rounded down, as the generator does).
int64_t MostGeneratedOffers(const Scenario& s, int64_t price_step) {
  const int64_t initial = s.generator.initial_high;
  return MostOffers(initial, initial * s.generator.reserve_low / 100, price_step, s);
}

AuctionEntry ReadAuction(const toml::table& table, int number, const Scenario& s) {
  const std::vector<RivalEntry>& rivals = s.rivals;
  const size_t registry_size = s.registry.size();
  const int buyers_per_auction = s.buyers_per_auction;
  TableReader r(table, "auction " + std::to_string(number));
  AuctionEntry a;
  a.line = LineOf(table.source());
  a.rounds = static_cast<int>(r.Int("rounds", 1, 100, 1));
  if (r.Find("price_step") != nullptr) a.price_step = r.Int("price_step", 1, 1'000'000, 0);
  const int64_t step = a.price_step.value_or(s.price_step);

  size_t rival_count = 0;
  if (const toml::node* node = r.Find("rivals"); node != nullptr) {
    a.rivals = r.Texts("rivals", {}, true, kName);
    std::set<std::string> seen;
    for (const std::string& name : *a.rivals) {
      auto entry = std::find_if(rivals.begin(), rivals.end(),
                                [&](const RivalEntry& e) { return e.name == name; });
      if (entry == rivals.end())
        Fail(*node, "auction rivals: no [[rivals]] entry is named " + name);
      if (!seen.insert(name).second) Fail(*node, "auction rivals: " + name + " is named twice");
      rival_count += RivalNames(*entry).size();
    }
  } else {
    for (const RivalEntry& e : rivals) rival_count += RivalNames(e).size();
  }
  if (registry_size + rival_count > static_cast<size_t>(buyers_per_auction)) {
    Fail(table, "auction " + std::to_string(number) + " would have " +
                    std::to_string(registry_size + rival_count) + " buyers (registry and rivals; " +
                    "at most " + std::to_string(buyers_per_auction) + ")");
  }

  std::set<std::string> ids;
  if (const toml::node* node = r.Find("goods"); node != nullptr) {
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, "goods must be an array of tables");
    for (const toml::node& item : *array) {
      a.goods.push_back(ReadGood(item, a.rounds));
      const Good& good = a.goods.back();
      if (!ids.insert(good.id).second) {
        Fail(item, "good id " + good.id + " is used twice in auction " + std::to_string(number));
      }
      CheckOffers(item, "good " + good.id + " may be offered at",
                  MostOffers(good.initial, good.reserve, step, s));
    }
  }
  a.generated_goods = static_cast<int>(r.Int("generated_goods", 0, kMaxGoodsPerAuction, 0));
  if (a.generated_goods > 0) {
    CheckOffers(
        *r.Find("generated_goods"),
        "a good drawn by [generator] for auction " + std::to_string(number) + " may be offered at",
        MostGeneratedOffers(s, step));
  }
  for (int i = 1; i <= a.generated_goods; ++i) {
    if (ids.count(GeneratedGoodId(number, i)) != 0) {
      Fail(table, "good id " + GeneratedGoodId(number, i) + " is used twice in auction " +
                      std::to_string(number) + " (it is also a generated good's id)");
    }
  }
  const size_t goods = a.goods.size() + static_cast<size_t>(a.generated_goods);
  if (goods > static_cast<size_t>(kMaxGoodsPerAuction)) {
    Fail(table, "auction " + std::to_string(number) + " has " + std::to_string(goods) +
                    " goods (at most " + std::to_string(kMaxGoodsPerAuction) + ")");
  }
  r.RejectUnknownKeys();
  return a;
}

Scenario ReadScenario(const toml::table& root) {
  TableReader r(root, "the top level");
  Scenario s;
  s.seed = static_cast<uint64_t>(r.Int("seed", 0, INT64_MAX, 1));
  s.tick_ms = r.Int("tick_ms", 1, 60'000, s.tick_ms);
  s.price_step = r.Int("price_step", 1, 1'000'000, s.price_step);
  s.collision_increment = r.Int("collision_increment", 0, 1'000'000, s.collision_increment);
  s.max_collisions = static_cast<int>(r.Int("max_collisions", 0, 100, s.max_collisions));
  s.sanctions_before_expulsion =
      static_cast<int>(r.Int("sanctions_before_expulsion", 1, 100, s.sanctions_before_expulsion));
  s.fine_base = r.Int("fine_base", 0, kMaxPrice, s.fine_base);
  s.fine_percent = static_cast<int>(r.Int("fine_percent", 0, 100, s.fine_percent));
  s.admission_window_ms = r.Int("admission_window_ms", 0, 3'600'000, s.admission_window_ms);
  s.buyers_per_auction = static_cast<int>(
      r.Int("buyers_per_auction", 1, kMaxBuyersPerAuctionLimit, s.buyers_per_auction));
  s.min_buyers = static_cast<int>(r.Int("min_buyers", 1, s.buyers_per_auction, s.min_buyers));
  s.max_buyers = static_cast<int>(r.Int("max_buyers", 0, s.buyers_per_auction, s.max_buyers));

  std::set<std::string> names;  // logins and rival names share one namespace: the buyers list
  for (const toml::table* table : r.Tables("registry")) {
    s.registry.push_back(ReadCredential(*table));
    if (!names.insert(s.registry.back().login).second) {
      Fail(*table, "login " + s.registry.back().login + " is registered twice");
    }
  }
  if (s.registry.empty()) {
    throw FieldFault{1, "the scenario has no [[registry]] entry: no buyer could log in"};
  }
  // A session that could never gather its buyers would wait for ever.
  const int capacity = BuyerCapacity(s);
  if (s.min_buyers > capacity) {
    const toml::node* node = root.get("min_buyers");
    throw FieldFault{node != nullptr ? LineOf(node->source()) : 1,
                     "min_buyers is " + std::to_string(s.min_buyers) + " but at most " +
                         std::to_string(capacity) + " buyers can be admitted"};
  }
  for (const toml::table* table : r.Tables("rivals")) {
    RivalEntry entry = ReadRival(*table, "[[rivals]]");
    for (const std::string& name : RivalNames(entry)) {
      if (!names.insert(name).second) Fail(*table, "buyer name " + name + " is used twice");
    }
    // An auction names rival groups by their entry name, which must not be ambiguous either.
    for (const RivalEntry& other : s.rivals) {
      if (other.name == entry.name) Fail(*table, "rival name " + entry.name + " is used twice");
    }
    s.rivals.push_back(std::move(entry));
  }
  if (const toml::node* node = r.Find("generator"); node != nullptr) {
    if (node->as_table() == nullptr) Fail(*node, "[generator] must be a table");
    s.generator = ReadGenerator(*node->as_table());
  }
  const std::vector<const toml::table*> auctions = r.Tables("auctions");
  if (auctions.empty() || auctions.size() > static_cast<size_t>(kMaxAuctions)) {
    const toml::node* node = root.get("auctions");
    throw FieldFault{node != nullptr ? LineOf(node->source()) : 1,
                     "the scenario must have 1 to " + std::to_string(kMaxAuctions) +
                         " [[auctions]], not " + std::to_string(auctions.size())};
  }
  for (const toml::table* table : auctions) {
    const int number = static_cast<int>(s.auctions.size()) + 1;
    s.auctions.push_back(ReadAuction(*table, number, s));
  }
  r.RejectUnknownKeys();
  return s;
}

}  // namespace

RivalEntry ReadRivalTable(const toml::table& table, const std::string& where) {
  return ReadRival(table, where);
}

const char* StrategyName(Strategy strategy) {
  switch (strategy) {
    case Strategy::kValue:
      return "value";
    case Strategy::kCautious:
      return "cautious";
    case Strategy::kCareless:
      return "careless";
    case Strategy::kTruthful:
      return "truthful";
    case Strategy::kEquilibrium:
      return "equilibrium";
    case Strategy::kZeroIntelligence:
      return "zero_intelligence";
    case Strategy::kAdaptive:
      return "adaptive";
  }
  return "value";
}

std::string ScenarioError::ToString() const {
  return wire::Printable(file) + ":" + std::to_string(line) + ": " + wire::Printable(fault);
}

ScenarioLoad ParseScenario(std::string_view text, const std::string& source_name) {
  ScenarioLoad load;
  load.error.file = source_name;
  try {
    toml::table root = toml::parse(text, source_name);
    load.scenario = ReadScenario(root);
  } catch (const toml::parse_error& e) {
    load.error.line = LineOf(e.source());
    load.error.fault = std::string(e.description());
  } catch (const FieldFault& f) {
    load.error.line = f.line;
    load.error.fault = f.what;
  }
  return load;
}

int BuyerCapacity(const Scenario& scenario) {
  const int registered = static_cast<int>(scenario.registry.size());
  return scenario.max_buyers > 0 ? std::min(scenario.max_buyers, registered) : registered;
}

int64_t MostOffers(int64_t initial, int64_t reserve, int64_t price_step, const Scenario& scenario) {
  const int64_t rises = scenario.max_collisions * scenario.collision_increment;
  return (initial - reserve + rises) / price_step + 1;
}

std::string GeneratedGoodId(int auction_number, int index) {
  return "a" + std::to_string(auction_number) + "g" + std::to_string(index);
}

std::vector<std::string> RivalNames(const RivalEntry& entry) {
  if (entry.count == 0) return {entry.name};
  std::vector<std::string> names;
  for (int i = 1; i <= entry.count; ++i) names.push_back(entry.name + std::to_string(i));
  return names;
}

bool IsValidName(std::string_view text) {
  return !text.empty() && text.size() <= kMaxNameLength &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch > ' ' && ch < 127; });
}

}  // namespace market
