// A market scenario: the session's settings, the registry of buyers allowed in, the simulated
// rivals and the auctions with their goods, as read from a TOML file. Loading checks everything a
// session relies on (limits, name rules, unique ids), so a loaded scenario always runs to its end.
#ifndef ENGINE_SCENARIO_H_
#define ENGINE_SCENARIO_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/good.h"
#include "engine/values.h"

namespace market {

// Limits of the buyer agents that use the market: auctions per session, goods and buyers per
// auction, and the length of a name or id.
inline constexpr int kMaxAuctions = 21;
inline constexpr int kMaxGoodsPerAuction = 200;
inline constexpr int kMaxBuyersPerAuction = 100;

// A market whose clients keep larger tables may raise the buyers one auction holds
// (`buyers_per_auction`) up to this bound. An agent whose tables hold kMaxBuyersPerAuction still
// reads a longer buyers list whole; it stores the first kMaxBuyersPerAuction entries.
inline constexpr int kMaxBuyersPerAuctionLimit = 1000;
inline constexpr size_t kMaxNameLength = 15;

// Longest password a registry entry may hold. A password travels as one word of the admission
// line, so it is kept to printable characters without spaces, and short.
inline constexpr size_t kMaxPasswordLength = 64;

// Most prices one good's clock may run through, counted as MostOffers does. The results keep
// every price announced, so this bounds their size: 21 auctions of 200 goods, each offered at
// 1000 prices, make 4.2 million clock steps of 24 bytes. `/usr/bin/time -v market-sim FILE
// --results OUT` on such a scenario (nobody bids) peaked at 105 MB without --results and 1.55 GB
// with it (the JSON document is built whole; 109 MB of text). A range of 1000 steps is ample for
// a descending clock (the shipped scenarios and tests ask for 507 at most); only a step far too
// fine for its prices asks for more.
inline constexpr int64_t kMaxOffersPerGood = 1000;

// Every buyer's credit at the start of each auction.
inline constexpr int64_t kInitialCredit = 50000;

// Largest price a scenario may set; together with the other bounds it keeps every price the
// market announces, raised by collisions, inside a signed 32-bit number.
inline constexpr int64_t kMaxPrice = 100'000'000;

// A rival's bidding rule (engine/strategies/ holds one class for each).
enum class Strategy {
  kValue,        // bids as soon as the price is at or below its valuation and within its credit
  kCautious,     // bids only well below its valuation, and never more than half its credit
  kCareless,     // bids at its valuation, whatever its credit: overspends and draws sanctions
  kTruthful,     // as kValue, under the name the literature gives it
  kEquilibrium,  // risk-neutral equilibrium bid for uniform values, n buyers, the reserve
  kZeroIntelligence,  // a limit drawn uniformly between the reserve and its value, per good
  kAdaptive,          // value less a shading it learns from its own wins and losses
};

// The strategy's name as a scenario spells it.
const char* StrategyName(Strategy strategy);

struct Credential {
  std::string login;
  std::string password;
};

struct RivalEntry {
  std::string name;  // the rival's name, or the prefix of a numbered group
  Strategy strategy = Strategy::kValue;
  // Its value for each good: by default a percentage of the good's resale price in
  // [low, high] ("valuation"); or fixed, uniform or clipped normal ("value").
  ValueRule value;
  int margin = 20;        // kCautious: bids at valuation minus this percent
  int shade = 10;         // kAdaptive: the shading it starts with, percent of its value
  int learning_rate = 2;  // kAdaptive: points of shading learnt per good
  int count = 0;          // 0: one rival called `name`; n: rivals name1 .. nameN
  int line = 0;           // where it is defined, for error messages
};

// A good listed in an auction entry; its round is 1..rounds, or 0: spread over the rounds with the
// other such goods when the plan is built.
using GoodEntry = Good;

// How goods are made up for an auction's generated_goods count. Prices are drawn from the seed.
struct GeneratorEntry {
  std::vector<std::string> kinds = {"wine", "oil", "cheese", "honey", "spice"};
  std::vector<std::string> sellers = {"Ana", "Ben", "Cruz", "Dora"};
  int64_t initial_low = 1200;
  int64_t initial_high = 3200;
  int resale_low = 60;  // percent of the initial price
  int resale_high = 110;
  int reserve_low = 30;  // percent of the initial price
  int reserve_high = 70;
};

struct AuctionEntry {
  int rounds = 1;
  std::optional<int64_t> price_step;               // overrides the session's step
  std::optional<std::vector<std::string>> rivals;  // rival names (groups by prefix); none: all
  std::vector<GoodEntry> goods;                    // explicit goods, offered first
  int generated_goods = 0;                         // goods made up after the explicit ones
  int line = 0;
};

struct Scenario {
  uint64_t seed = 1;
  int64_t tick_ms = 10;  // how long each price stays in force
  int64_t price_step = 100;
  int64_t collision_increment = 200;
  int max_collisions = 3;  // collisions announced on one good before a tie-break decides
  int sanctions_before_expulsion = 2;
  int64_t fine_base = 500;  // a sanction's fine: fine_base + fine_percent of the price
  int fine_percent = 10;
  // Admission over the network (the embedded gateway serves one buyer and starts at once): the
  // window opens when the server starts listening; the session starts once it has passed and at
  // least min_buyers are admitted, or as soon as the market is full.
  int64_t admission_window_ms = 5000;
  int min_buyers = 1;
  int max_buyers = 0;  // buyers admitted at most; 0: as many as the registry holds
  // Buyers one auction holds at most, registry and rivals together (see kMaxBuyersPerAuction).
  int buyers_per_auction = kMaxBuyersPerAuction;
  std::vector<Credential> registry;
  std::vector<RivalEntry> rivals;
  GeneratorEntry generator;
  std::vector<AuctionEntry> auctions;
};

struct ScenarioError {
  std::string file;  // the name the text was loaded under
  int line = 0;      // 1-based
  std::string fault;

  // "FILE:LINE: FAULT", one line.
  std::string ToString() const;
};

struct ScenarioLoad {
  std::optional<Scenario> scenario;  // set on success
  ScenarioError error;               // set when scenario is empty
};

// Parses scenario text; source_name names it in errors.
ScenarioLoad ParseScenario(std::string_view text, const std::string& source_name);

// Reads and parses a scenario file. A file that cannot be read is an error on line 0.
ScenarioLoad LoadScenarioFile(const std::string& path);

// The built-in default scenario (the text of scenarios/default.toml, compiled in).
std::string_view DefaultScenarioText();
inline constexpr const char* kDefaultScenarioName = "(built-in default scenario)";

// How many buyers can be admitted at once: max_buyers, or the registry's size when that is
// smaller or max_buyers is 0.
int BuyerCapacity(const Scenario& scenario);

// The id a generated good gets: auction number and its place among the generated goods, both
// 1-based ("a3g17").
std::string GeneratedGoodId(int auction_number, int index);

// The names of the rivals a [[rivals]] entry stands for, in order.
std::vector<std::string> RivalNames(const RivalEntry& entry);

// The most prices a good's clock can offer with this step: the run down from the initial price to
// the reserve and back down after each collision's rise, (initial - reserve + max_collisions *
// collision_increment) / price_step + 1. A voided sale adds one more offer at the same price.
int64_t MostOffers(int64_t initial, int64_t reserve, int64_t price_step, const Scenario& scenario);

// Whether a text is a valid name, id, kind or seller: 1..15 printable characters, no whitespace.
bool IsValidName(std::string_view text);

}  // namespace market

#endif  // ENGINE_SCENARIO_H_
