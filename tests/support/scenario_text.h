// Scenario files for tests, written from their parts: settings, registered buyers, rivals and
// auctions of goods. Every good has kind "k" and seller "s", so a test names only the figures it
// is about.
#ifndef TESTS_SUPPORT_SCENARIO_TEXT_H_
#define TESTS_SUPPORT_SCENARIO_TEXT_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace test_support {

// One good as an inline table: `{ id = "g1", kind = "k", seller = "s", initial = 1000, ... }`.
std::string GoodToml(std::string_view id, int64_t initial, int64_t resale, int64_t reserve);

// A good nobody wants: resale below every price, so after two offers it leaves the market.
std::string UnwantedGood();
// What an agent logged in as CLogin receives, from "accept" to "closed_market", in a session of
// one auction of UnwantedGood() with no other buyer.
std::string UnwantedGoodSession();
// A good the agent buys at its first price: resale well above it, reserve far below.
std::string WantedGood();

// One auction of the given goods (each as GoodToml() writes it): `[[auctions]]` and its goods list.
std::string AuctionToml(std::initializer_list<std::string> goods);

// The registry entries of three buyers, Ann, Bob and Cy, with passwords pa, pb and pc.
std::string ThreeBuyers();

// A whole scenario: settings first, then buyers, rivals and auctions in the order added.
//   ScenarioText().Set("tick_ms", 100).Buyer("Ann", "pa").Auction({GoodToml("g1", 1000, 900, 700)})
class ScenarioText {
 public:
  ScenarioText& Set(std::string_view key, int64_t value);
  ScenarioText& Buyer(std::string_view login, std::string_view password);
  // Any further tables, as TOML text (rivals, auctions with settings of their own).
  ScenarioText& Tables(std::string_view toml);
  ScenarioText& Auction(std::initializer_list<std::string> goods);
  std::string Build() const { return settings_ + tables_; }

 private:
  std::string settings_;
  std::string tables_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_SCENARIO_TEXT_H_
