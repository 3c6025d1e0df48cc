#include "engine/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include <toml++/toml.h>

namespace market {
namespace {

// A fault found while reading the tree; caught once at the top and turned into a ScenarioError.
struct Fault {
  int line;
  std::string what;
};

int LineOf(const toml::source_region& where) {
  return std::max(1, static_cast<int>(where.begin.line));
}

[[noreturn]] void Fail(const toml::node& node, std::string what) {
  throw Fault{LineOf(node.source()), std::move(what)};
}

std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string Range(int64_t low, int64_t high) {
  return "an integer from " + std::to_string(low) + " to " + std::to_string(high);
}

// Reads one table's keys, each at most once, and rejects keys it never asked for, so a misspelt
// setting is an error instead of a silent default.
class TableReader {
 public:
  TableReader(const toml::table& table, std::string where)
      : table_(table), where_(std::move(where)) {}

  const toml::node* Find(std::string_view key) {
    known_.insert(std::string(key));
    return table_.get(key);
  }

  const toml::node& Require(std::string_view key) {
    const toml::node* node = Find(key);
    if (node == nullptr) Fail(table_, "missing key " + Quote(key) + " in " + where_);
    return *node;
  }

  int64_t Int(std::string_view key, int64_t low, int64_t high, int64_t fallback) {
    const toml::node* node = Find(key);
    return node == nullptr ? fallback : IntValue(*node, key, low, high);
  }

  int64_t RequireInt(std::string_view key, int64_t low, int64_t high) {
    return IntValue(Require(key), key, low, high);
  }

  std::string RequireName(std::string_view key) { return NameValue(Require(key), key); }

  // A pair [low, high] of integers within [low_bound, high_bound], low <= high.
  std::pair<int64_t, int64_t> Pair(std::string_view key, int64_t low_bound, int64_t high_bound,
                                   std::pair<int64_t, int64_t> fallback) {
    const toml::node* node = Find(key);
    if (node == nullptr) return fallback;
    const std::string fault = std::string(key) + " must be a pair [low, high] of " +
                              Range(low_bound, high_bound) + ", low <= high";
    const toml::array* array = node->as_array();
    if (array == nullptr || array->size() != 2) Fail(*node, fault);
    const auto* low = (*array)[0].as_integer();
    const auto* high = (*array)[1].as_integer();
    if (low == nullptr || high == nullptr) Fail(*node, fault);
    const int64_t l = low->get();
    const int64_t h = high->get();
    if (l < low_bound || h > high_bound || l > h) Fail(*node, fault);
    return {l, h};
  }

  // A non-empty array of names.
  std::vector<std::string> Names(std::string_view key, std::vector<std::string> fallback,
                                 bool allow_empty) {
    const toml::node* node = Find(key);
    if (node == nullptr) return fallback;
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, std::string(key) + " must be an array of names");
    if (array->empty() && !allow_empty) Fail(*node, std::string(key) + " must not be empty");
    std::vector<std::string> names;
    for (const toml::node& item : *array) names.push_back(NameValue(item, key));
    return names;
  }

  void RejectUnknownKeys() const {
    for (auto&& [key, node] : table_) {
      if (known_.count(std::string(key.str())) == 0) {
        throw Fault{LineOf(key.source()), "unknown key " + Quote(key.str()) + " in " + where_};
      }
    }
  }

  const toml::table& table() const { return table_; }

 private:
  int64_t IntValue(const toml::node& node, std::string_view key, int64_t low, int64_t high) {
    const auto* value = node.as_integer();
    if (value == nullptr || value->get() < low || value->get() > high) {
      Fail(node, std::string(key) + " must be " + Range(low, high));
    }
    return value->get();
  }

  std::string NameValue(const toml::node& node, std::string_view key) {
    const auto* value = node.as_string();
    if (value == nullptr || !IsValidName(value->get())) {
      Fail(node, std::string(key) + " must be a string of 1 to " + std::to_string(kMaxNameLength) +
                     " printable characters without spaces");
    }
    return value->get();
  }

  const toml::table& table_;
  std::string where_;
  std::set<std::string> known_;
};

// The tables of an array of tables (absent: none).
std::vector<const toml::table*> Tables(TableReader& parent, std::string_view key) {
  std::vector<const toml::table*> tables;
  const toml::node* node = parent.Find(key);
  if (node == nullptr) return tables;
  const toml::array* array = node->as_array();
  if (array == nullptr) Fail(*node, "[[" + std::string(key) + "]] must be an array of tables");
  for (const toml::node& item : *array) {
    const toml::table* table = item.as_table();
    if (table == nullptr) Fail(item, "[[" + std::string(key) + "]] must be an array of tables");
    tables.push_back(table);
  }
  return tables;
}

Credential ReadCredential(const toml::table& table) {
  TableReader r(table, "[[registry]]");
  Credential c;
  c.login = r.RequireName("login");
  const toml::node& password = r.Require("password");
  const auto* text = password.as_string();
  // Passwords travel as one word of a command line.
  if (text == nullptr || text->get().empty() || text->get().size() > 64 ||
      !std::all_of(text->get().begin(), text->get().end(),
                   [](char ch) { return ch > ' ' && ch < 127; })) {
    Fail(password, "password must be a string of 1 to 64 printable characters without spaces");
  }
  c.password = text->get();
  r.RejectUnknownKeys();
  return c;
}

RivalSpec ReadRival(const toml::table& table) {
  TableReader r(table, "[[rivals]]");
  RivalSpec s;
  s.line = LineOf(table.source());
  s.name = r.RequireName("name");
  const toml::node& strategy = r.Require("strategy");
  const auto* text = strategy.as_string();
  const std::string value = text != nullptr ? text->get() : "";
  if (value == "value") {
    s.strategy = Strategy::kValue;
  } else if (value == "cautious") {
    s.strategy = Strategy::kCautious;
  } else if (value == "careless") {
    s.strategy = Strategy::kCareless;
    s.valuation_low = 90;
    s.valuation_high = 140;
  } else {
    Fail(strategy, "strategy must be \"value\", \"cautious\" or \"careless\"");
  }
  auto [low, high] = r.Pair("valuation", 1, 1000, {s.valuation_low, s.valuation_high});
  s.valuation_low = static_cast<int>(low);
  s.valuation_high = static_cast<int>(high);
  s.margin = static_cast<int>(r.Int("margin", 0, 99, s.margin));
  s.count = static_cast<int>(r.Int("count", 1, kMaxBuyersPerAuction, 0));
  if (s.count > 0 && s.name.size() + std::to_string(s.count).size() > kMaxNameLength) {
    Fail(table, "rival names " + s.name + "1 .. " + s.name + std::to_string(s.count) +
                    " would be longer than " + std::to_string(kMaxNameLength) + " characters");
  }
  r.RejectUnknownKeys();
  return s;
}

GeneratorSpec ReadGenerator(const toml::table& table) {
  TableReader r(table, "[generator]");
  GeneratorSpec g;
  g.kinds = r.Names("kinds", g.kinds, false);
  g.sellers = r.Names("sellers", g.sellers, false);
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

GoodSpec ReadGood(const toml::node& node, int rounds) {
  const toml::table* table = node.as_table();
  if (table == nullptr) Fail(node, "each of goods must be a table {id = ..., kind = ..., ...}");
  TableReader r(*table, "a good");
  GoodSpec g;
  g.id = r.RequireName("id");
  g.kind = r.RequireName("kind");
  g.seller = r.RequireName("seller");
  g.initial = r.RequireInt("initial", 1, kMaxPrice);
  g.resale = r.RequireInt("resale", 0, kMaxPrice);
  g.reserve = r.RequireInt("reserve", 0, g.initial);
  g.round = static_cast<int>(r.Int("round", 1, rounds, 0));
  r.RejectUnknownKeys();
  return g;
}

AuctionSpec ReadAuction(const toml::table& table, int number, const std::vector<RivalSpec>& rivals,
                        size_t registry_size) {
  TableReader r(table, "auction " + std::to_string(number));
  AuctionSpec a;
  a.line = LineOf(table.source());
  a.rounds = static_cast<int>(r.Int("rounds", 1, 100, 1));
  if (r.Find("price_step") != nullptr) a.price_step = r.Int("price_step", 1, 1'000'000, 0);

  size_t rival_count = 0;
  if (const toml::node* node = r.Find("rivals"); node != nullptr) {
    a.rivals = r.Names("rivals", {}, true);
    std::set<std::string> seen;
    for (const std::string& name : *a.rivals) {
      auto entry = std::find_if(rivals.begin(), rivals.end(),
                                [&](const RivalSpec& s) { return s.name == name; });
      if (entry == rivals.end())
        Fail(*node, "auction rivals: no [[rivals]] entry is named " + name);
      if (!seen.insert(name).second) Fail(*node, "auction rivals: " + name + " is named twice");
      rival_count += RivalNames(*entry).size();
    }
  } else {
    for (const RivalSpec& s : rivals) rival_count += RivalNames(s).size();
  }
  if (registry_size + rival_count > static_cast<size_t>(kMaxBuyersPerAuction)) {
    Fail(table, "auction " + std::to_string(number) + " would have " +
                    std::to_string(registry_size + rival_count) + " buyers (registry and rivals; " +
                    "at most " + std::to_string(kMaxBuyersPerAuction) + ")");
  }

  std::set<std::string> ids;
  if (const toml::node* node = r.Find("goods"); node != nullptr) {
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, "goods must be an array of tables");
    for (const toml::node& item : *array) {
      a.goods.push_back(ReadGood(item, a.rounds));
      if (!ids.insert(a.goods.back().id).second) {
        Fail(item, "good id " + a.goods.back().id + " is used twice in auction " +
                       std::to_string(number));
      }
    }
  }
  a.generated_goods = static_cast<int>(r.Int("generated_goods", 0, kMaxGoodsPerAuction, 0));
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
  s.min_buyers = static_cast<int>(r.Int("min_buyers", 1, kMaxBuyersPerAuction, s.min_buyers));
  s.max_buyers = static_cast<int>(r.Int("max_buyers", 0, kMaxBuyersPerAuction, s.max_buyers));

  std::set<std::string> names;  // logins and rival names share one namespace: the buyers list
  for (const toml::table* table : Tables(r, "registry")) {
    s.registry.push_back(ReadCredential(*table));
    if (!names.insert(s.registry.back().login).second) {
      Fail(*table, "login " + s.registry.back().login + " is registered twice");
    }
  }
  if (s.registry.empty()) {
    throw Fault{1, "the scenario has no [[registry]] entry: no buyer could log in"};
  }
  // A session that could never gather its buyers would wait for ever.
  const int capacity = BuyerCapacity(s);
  if (s.min_buyers > capacity) {
    const toml::node* node = root.get("min_buyers");
    throw Fault{node != nullptr ? LineOf(node->source()) : 1,
                "min_buyers is " + std::to_string(s.min_buyers) + " but at most " +
                    std::to_string(capacity) + " buyers can be admitted"};
  }
  for (const toml::table* table : Tables(r, "rivals")) {
    RivalSpec entry = ReadRival(*table);
    for (const std::string& name : RivalNames(entry)) {
      if (!names.insert(name).second) Fail(*table, "buyer name " + name + " is used twice");
    }
    // An auction names rival groups by their entry name, which must not be ambiguous either.
    for (const RivalSpec& other : s.rivals) {
      if (other.name == entry.name) Fail(*table, "rival name " + entry.name + " is used twice");
    }
    s.rivals.push_back(std::move(entry));
  }
  if (const toml::node* node = r.Find("generator"); node != nullptr) {
    if (node->as_table() == nullptr) Fail(*node, "[generator] must be a table");
    s.generator = ReadGenerator(*node->as_table());
  }
  const std::vector<const toml::table*> auctions = Tables(r, "auctions");
  if (auctions.empty() || auctions.size() > static_cast<size_t>(kMaxAuctions)) {
    const toml::node* node = root.get("auctions");
    throw Fault{node != nullptr ? LineOf(node->source()) : 1,
                "the scenario must have 1 to " + std::to_string(kMaxAuctions) +
                    " [[auctions]], not " + std::to_string(auctions.size())};
  }
  for (const toml::table* table : auctions) {
    const int number = static_cast<int>(s.auctions.size()) + 1;
    s.auctions.push_back(ReadAuction(*table, number, s.rivals, s.registry.size()));
  }
  r.RejectUnknownKeys();
  return s;
}

}  // namespace

namespace {

// The text with every control character written as an escape, so that a fault quoting what it
// found (a newline, say) still makes one line.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

std::string ScenarioError::ToString() const {
  return OneLine(file) + ":" + std::to_string(line) + ": " + OneLine(fault);
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
  } catch (const Fault& f) {
    load.error.line = f.line;
    load.error.fault = f.what;
  }
  return load;
}

ScenarioLoad LoadScenarioFile(const std::string& path) {
  ScenarioLoad load;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    load.error = {path, 0, "is a folder, not a scenario file"};
    return load;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    load.error = {path, 0, "cannot open the file: " + std::string(std::strerror(errno))};
    return load;
  }
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) {
    load.error = {path, 0, "cannot read the file"};
    return load;
  }
  return ParseScenario(text, path);
}

int BuyerCapacity(const Scenario& scenario) {
  const int registered = static_cast<int>(scenario.registry.size());
  return scenario.max_buyers > 0 ? std::min(scenario.max_buyers, registered) : registered;
}

std::string GeneratedGoodId(int auction_number, int index) {
  return "a" + std::to_string(auction_number) + "g" + std::to_string(index);
}

std::vector<std::string> RivalNames(const RivalSpec& entry) {
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
