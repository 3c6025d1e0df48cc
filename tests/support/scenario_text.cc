#include "tests/support/scenario_text.h"

namespace test_support {

std::string GoodToml(std::string_view id, int64_t initial, int64_t resale, int64_t reserve) {
  return "{ id = \"" + std::string(id) +
         "\", kind = \"k\", seller = \"s\", initial = " + std::to_string(initial) +
         ", resale = " + std::to_string(resale) + ", reserve = " + std::to_string(reserve) + " }";
}

std::string UnwantedGood() { return GoodToml("g1", 300, 200, 200); }
std::string UnwantedGoodSession() {
  return "accept\nopen_auction 1\nbuyers CLogin\ngoods g1 k s 300 200\nopen_round 1\n"
         "good g1 k s 300 200\noffer g1 300\noffer g1 200\nout_of_market g1 200\nend_round 1\n"
         "end_auction 1\nclosed_market\n";
}
std::string WantedGood() { return GoodToml("g1", 1000, 1500, 100); }

std::string AuctionToml(std::initializer_list<std::string> goods) {
  std::string text = "[[auctions]]\ngoods = [";
  const char* separator = "";
  for (const std::string& good : goods) {
    text += separator + good;
    separator = ", ";
  }
  return text + "]\n";
}

std::string ThreeBuyers() {
  return "[[registry]]\nlogin = \"Ann\"\npassword = \"pa\"\n"
         "[[registry]]\nlogin = \"Bob\"\npassword = \"pb\"\n"
         "[[registry]]\nlogin = \"Cy\"\npassword = \"pc\"\n";
}

ScenarioText& ScenarioText::Set(std::string_view key, int64_t value) {
  settings_ += std::string(key) + " = " + std::to_string(value) + "\n";
  return *this;
}

ScenarioText& ScenarioText::Buyer(std::string_view login, std::string_view password) {
  tables_ += "[[registry]]\nlogin = \"" + std::string(login) + "\"\npassword = \"" +
             std::string(password) + "\"\n";
  return *this;
}

ScenarioText& ScenarioText::Tables(std::string_view toml) {
  tables_ += toml;
  return *this;
}

ScenarioText& ScenarioText::Auction(std::initializer_list<std::string> goods) {
  tables_ += AuctionToml(goods);
  return *this;
}

}  // namespace test_support
