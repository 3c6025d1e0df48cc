// The stepped clock end to end. The built agent decides the same session on the stepped clock as
// on a real clock with a generous tick; scripted agents that break the stepped clock's rules
// (they sleep, spin, keep a helper process, stop reading, flood) still end their session, each
// tick at its deadline at the latest, and every such tick is recorded as late.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/packed_numbers.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using test_support::MakeTempDir;
using test_support::ReadFile;

struct AgentRun {
  int exit = -1;
  bool timed_out = false;
  std::string err;
  json results;
  std::string transcript;
};

std::vector<std::string> Environment(const std::string& dir, const std::string& clock,
                                     const std::string& scenario, const std::string& seed) {
  std::vector<std::string> env = {
      std::string("PATH=") + BIN_DIR + ":/usr/bin:/bin",
      "MARKET_SCENARIO=" + scenario,
      "MARKET_CLOCK=" + clock,
      "MARKET_RESULTS=" + dir + "/results.json",
      "MARKET_TRANSCRIPT=" + dir + "/transcript.txt",
  };
  if (!seed.empty()) env.push_back("MARKET_SEED=" + seed);
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

// The agent program with its standard input on a pipe, closed once the session's results are
// written (the file is made at the start, and filled at the end): an agent that waits on it
// stops reading the market meanwhile.
AgentRun RunAgent(const std::vector<std::string>& argv, const std::string& clock,
                  const std::string& scenario, const std::string& seed = "") {
  const std::string dir = MakeTempDir();
  test_support::SpawnOptions options;
  options.argv = argv;
  options.env = Environment(dir, clock, scenario, seed);
  options.in = test_support::Stream::kPipe;
  options.out = test_support::Stream::kNull;
  options.err = test_support::Stream::kPipe;
  test_support::Child child = test_support::Spawn(options);
  AgentRun run;
  if (child.pid < 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  const test_support::Deadline deadline = test_support::After(240);
  std::thread closer([&] {
    while (std::chrono::steady_clock::now() < deadline &&
           ReadFile(dir + "/results.json").find("\"failed_logins\"") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    test_support::CloseFd(&child.in);
  });
  run.timed_out = !test_support::Drain(child, nullptr, &run.err, deadline);
  closer.join();
  run.exit = test_support::ExitCodeOf(test_support::Wait(child, deadline));
  const std::string text = ReadFile(dir + "/results.json");
  run.results = json::parse(text, nullptr, false);
  run.transcript = ReadFile(dir + "/transcript.txt");
  return run;
}

// The results without what the clock measured: times of arrival, announcement and end, response
// times, and which clock ran with its late ticks. What is left is what the session decided.
json Decided(json value) {
  if (value.is_object()) {
    json out = json::object();
    for (auto& [key, item] : value.items()) {
      if (key == "at_us" || key == "response_us" || key == "ended_us" || key == "session_clock" ||
          key == "late_ticks") {
        continue;
      }
      if (key == "tick_bids_packed" && item.is_array()) {
        // Each bid as [price, buyer], whatever runs of one time the bids were written in.
        json bids = json::array();
        for (const json& row : item) {
          const std::vector<int64_t> steps =
              market::UnpackNumbers(row.at(2).get<std::string>()).value();
          int64_t buyer = 0;
          for (const int64_t step : steps) {
            buyer += step;
            bids.push_back({row.at(1), buyer});
          }
        }
        out[key] = bids;
        continue;
      }
      if ((key == "clock" || key == "tick_bids") && item.is_array()) {
        json rows = json::array();
        for (json row : item) {
          if (row.is_array() && !row.empty()) row.erase(0);  // its time
          rows.push_back(row);
        }
        out[key] = rows;
        continue;
      }
      out[key] = Decided(item);
    }
    return out;
  }
  if (value.is_array()) {
    json out = json::array();
    for (const json& item : value) out.push_back(Decided(item));
    return out;
  }
  return value;
}

// How many ticks the session had: every price announced.
size_t Ticks(const json& results) {
  size_t ticks = 0;
  for (const json& auction : results["auctions"]) {
    for (const json& good : auction["goods"]) ticks += good["clock"].size();
  }
  return ticks;
}

// The scenario's seed, and with STEPPED_EQUIVALENCE_SEEDS=N also seeds 1 to N (each seed costs a
// real-clock session of about 20 s).
std::vector<std::string> Seeds() {
  std::vector<std::string> seeds = {""};
  if (const char* more = std::getenv("STEPPED_EQUIVALENCE_SEEDS")) {
    for (int seed = 1; seed <= std::atoi(more); ++seed) seeds.push_back(std::to_string(seed));
  }
  return seeds;
}

TEST(SteppedSession, TheAgentDecidesTheSameAsOnARealClockWithAGenerousTick) {
  for (const std::string& seed : Seeds()) {
    SCOPED_TRACE("seed " + (seed.empty() ? std::string("of the scenario") : seed));
    const AgentRun real = RunAgent({BUYER_PATH}, "real", SESSION_SCENARIO, seed);
    const AgentRun stepped = RunAgent({BUYER_PATH}, "stepped", SESSION_SCENARIO, seed);
    for (const AgentRun* run : {&real, &stepped}) {
      ASSERT_FALSE(run->timed_out);
      ASSERT_EQ(run->exit, 0) << run->err;
      ASSERT_TRUE(run->results.is_object());
      ASSERT_EQ(run->results["completed"], true);
    }
    EXPECT_EQ(real.results["session_clock"], "real");
    EXPECT_EQ(stepped.results["session_clock"], "stepped");
    // The agent answers within microseconds; a 250 ms tick never has to wait for it.
    EXPECT_EQ(stepped.results["participants"][0]["late_ticks"], 0);
    EXPECT_NE(stepped.transcript.find("clock: stepped"), std::string::npos);
    EXPECT_NE(stepped.err.find("Clock: stepped, 0 late ticks"), std::string::npos) << stepped.err;
    // The sales took place: the comparison below is not one of two empty sessions.
    ASSERT_GT(stepped.results["measures"]["sold"].get<int>(), 0);
    EXPECT_GT(stepped.results["participants"][0]["bids"].get<int>(), 0);
    EXPECT_EQ(Decided(stepped.results), Decided(real.results));
  }
}

// The stepped scenario with its tick set to `ms` milliseconds, written to a new file.
std::string SteppedScenarioWithTick(int ms) {
  std::string text = ReadFile(STEPPED_SCENARIO);
  const std::string line = "tick_ms = 100\n";
  const size_t at = text.find(line);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no \"" << line << "\" in " << STEPPED_SCENARIO;
    return STEPPED_SCENARIO;
  }
  text.replace(at, line.size(), "tick_ms = " + std::to_string(ms) + "\n");
  const std::string path = MakeTempDir() + "/stepped.toml";
  test_support::WriteFile(path, text);
  return path;
}

TEST(SteppedSession, AgentsThatBreakTheRulesEndOnTimeWithTheirLateTicksRecorded) {
  // The ticks each agent keeps waiting: none; all; all but the first (the agent that stops
  // reading does so once it has read the first offer, and waits: that tick is its answer).
  // Agents expected to answer get a long tick, so that a loaded machine's scheduling delays do
  // not make them late; the others a short one (a tick that ends at its deadline costs it whole),
  // shorter than the sleeping agent's 120 ms after every line.
  enum class Late { kNone, kAll, kAllButFirst };
  const struct {
    std::string mode;
    Late late;
    int tick_ms;
  } cases[] = {
      {"answer", Late::kNone, 2000}, {"sleep", Late::kAll, 100},        {"spin", Late::kAll, 100},
      {"helper", Late::kAll, 100},   {"stop", Late::kAllButFirst, 500}, {"flood", Late::kAll, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const auto start = std::chrono::steady_clock::now();
    const AgentRun run = RunAgent({STEPPED_AGENT_PATH, c.mode, GATEWAY_PATH}, "stepped",
                                  SteppedScenarioWithTick(c.tick_ms));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_FALSE(run.timed_out);
    ASSERT_TRUE(run.results.is_object()) << run.err;
    EXPECT_EQ(run.results["completed"], true) << run.err;
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.results["session_clock"], "stepped");
    const size_t ticks = Ticks(run.results);
    ASSERT_GE(ticks, 3u);
    const json late = run.results["participants"][0]["late_ticks"];
    const size_t expected = c.late == Late::kNone ? 0 : c.late == Late::kAll ? ticks : ticks - 1;
    EXPECT_EQ(late.get<size_t>(), expected) << "of " << ticks << " ticks";
    EXPECT_NE(run.err.find("Clock: stepped, " + late.dump() + " late ticks"), std::string::npos)
        << run.err;
    // Each late tick at its deadline at the latest, with room for a loaded machine and for the
    // sleeping agent's reading of the lines it fell behind on.
    EXPECT_LT(seconds, c.tick_ms / 1000.0 * static_cast<double>(late.get<size_t>()) + 30.0);
  }
}

}  // namespace
