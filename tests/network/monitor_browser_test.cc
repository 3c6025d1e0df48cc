// The live monitor's page in a real browser during a real session: marketd with --http, the page
// opened before the buyers come, two scripted network bidders, and after the session the page's
// own counters checked against the market's transcript. Screenshots go to the build tree's
// artefacts/ folder. Needs Chromium (skipped without it, failed without it when $CI is set).
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/network/net_support.h"
#include "tests/support/browser.h"

namespace nettest {
namespace {

using nlohmann::json;

const std::string kScenario =
    "tick_ms = 40\nprice_step = 100\ncollision_increment = 150\nmax_collisions = 2\n"
    "admission_window_ms = 60000\nmin_buyers = 2\n"
    "[[registry]]\nlogin = \"Pia\"\npassword = \"pia-secret-pw\"\n"
    "[[registry]]\nlogin = \"Quin\"\npassword = \"quin-secret-pw\"\n"
    "[[rivals]]\nname = \"Vera\"\nstrategy = \"value\"\nvaluation = [80, 100]\n"
    "[[auctions]]\ngoods = [\n"
    "  { id = \"wine1\", kind = \"wine\", seller = \"Ana\", initial = 2600, resale = 2300, "
    "reserve = 1000 },\n"
    "  { id = \"oil1\", kind = \"oil\", seller = \"Ben\", initial = 2400, resale = 1900, "
    "reserve = 1000 },\n"
    "  { id = \"tea1\", kind = \"tea\", seller = \"Cruz\", initial = 2200, resale = 2400, "
    "reserve = 1000 },\n"
    "  { id = \"salt1\", kind = \"salt\", seller = \"Dora\", initial = 2000, resale = 800, "
    "reserve = 1500 }]\n";

// Polls a JavaScript condition until it holds (at most `seconds`).
bool Until(test_support::Browser& browser, const std::string& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (browser.Eval(condition) == json(true)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(MonitorBrowser, ThePageFollowsTheWholeSession) {
  std::string error;
  std::unique_ptr<test_support::Browser> browser = test_support::Browser::Start(&error);
  if (!browser) {
    if (test_support::BrowserRequired()) FAIL() << "no browser: " << error;
    GTEST_SKIP() << "no browser: " << error;
  }
  std::filesystem::create_directories(ARTEFACTS_DIR);
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/s.toml", kScenario);
  Server server =
      StartServer(dir + "/s.toml", dir, {"--http", "0", "--http-port-file", dir + "/http-port"});
  ASSERT_NE(server.port, 0);
  std::string http_port;
  for (int i = 0; i < 1000 && http_port.empty(); ++i) {
    http_port = ReadFile(dir + "/http-port");
    if (http_port.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(http_port.empty());
  const std::string url = "http://127.0.0.1:" + std::to_string(std::stoi(http_port)) + "/";

  ASSERT_TRUE(browser->Open(url)) << browser->error();
  ASSERT_TRUE(Until(*browser, "document.body.dataset.stream === 'live'", 20));

  std::vector<Process> bidders;
  for (const auto& [login, password, threshold] :
       {std::tuple{"Pia", "pia-secret-pw", "1900"}, std::tuple{"Quin", "quin-secret-pw", "1900"}}) {
    bidders.push_back(
        Spawn({PEER_PATH, "--connect", server.address(), "--login", login, "--password", password,
               "--bid-at-or-below", threshold, "--timeout", "120"},
              SanitizerEnv(), dir, std::string("peer-") + login));
  }
  // A picture mid-session for the record: a sale made, a good's price a few steps down.
  if (Until(*browser,
            "Number(document.body.dataset.priceUpdates) >= 10 && "
            "document.getElementById('trace').getAttribute('points').split(' ').length >= 4",
            60)) {
    EXPECT_TRUE(browser->Screenshot(std::string(ARTEFACTS_DIR) + "/monitor-live.png", 1200))
        << browser->error();
  }
  for (Process& bidder : bidders) EXPECT_EQ(Wait(bidder, 120), 0);
  EXPECT_EQ(Wait(server.process, 60), 0) << ReadFile(server.process.err_path);
  ASSERT_TRUE(Until(*browser, "document.body.dataset.stream === 'ended'", 20));

  // Every price the market announced reached the page.
  int prices = 0;
  for (const std::string& line : Lines(ReadFile(dir + "/transcript.txt"))) {
    if (line.find("> * offer ") != std::string::npos ||
        line.find("> * collision ") != std::string::npos) {
      ++prices;
    }
  }
  ASSERT_GT(prices, 0);
  EXPECT_EQ(browser->Eval("Number(document.body.dataset.priceUpdates)"), prices);
  // The buyers table lists every buyer, the rival included, and the sales add up.
  EXPECT_EQ(browser->Eval("[...document.querySelectorAll('#buyers tr')].map(r => "
                          "r.cells[0].textContent).sort()"),
            json::array({"Pia", "Quin", "Vera"}));
  const json results = json::parse(ReadFile(server.results_path));
  int sold = 0;
  for (const json& auction : results["auctions"]) {
    for (const json& good : auction["goods"]) sold += good["outcome"] == "sold" ? 1 : 0;
  }
  EXPECT_EQ(browser->Eval("[...document.querySelectorAll('#buyers tr')].reduce((n, r) => "
                          "n + Number(r.cells[1].textContent), 0)"),
            sold);
  EXPECT_EQ(browser->Eval("document.body.innerText.includes('secret-pw')"), false);
  EXPECT_TRUE(browser->ConsoleErrors().empty()) << browser->ConsoleErrors().front();
  EXPECT_TRUE(browser->Screenshot(std::string(ARTEFACTS_DIR) + "/monitor-end.png", 1200))
      << browser->error();
}

}  // namespace
}  // namespace nettest
