// docs/protocol.md against the engine: the page's scenario block is parsed as a scenario, each of
// its transcripts is replayed through the engine on a clock the test moves (a tick at a time), and
// every line and time must be the engine's; every message and command example must be one the
// engine produces or parses as shown; the table of denials must name every reason there is.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/engine.h"
#include "engine/scenario.h"

namespace {

using market::Command;
using market::Engine;
using market::Nanos;

struct Block {
  std::string kind;                           // the fence's first word after ```
  std::map<std::string, std::string> params;  // the words after it, as key=value
  std::vector<std::string> lines;
  size_t first_line = 0;  // in the page, 1-based, of the block's first content line
};

std::string ReadPage() {
  std::ifstream in(PROTOCOL_PAGE);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Block> Blocks(const std::string& page) {
  std::vector<Block> blocks;
  std::istringstream in(page);
  std::string line;
  size_t number = 0;
  Block* open = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (line.rfind("```", 0) == 0) {
      if (open != nullptr) {
        open = nullptr;
        continue;
      }
      blocks.push_back({});
      open = &blocks.back();
      open->first_line = number + 1;
      std::istringstream words(line.substr(3));
      words >> open->kind;
      std::string word;
      while (words >> word) {
        const size_t eq = word.find('=');
        open->params[word.substr(0, eq)] = eq == std::string::npos ? "" : word.substr(eq + 1);
      }
      continue;
    }
    if (open != nullptr) open->lines.push_back(line);
  }
  return blocks;
}

std::vector<Block> OfKind(const std::vector<Block>& blocks, const std::string& kind) {
  std::vector<Block> found;
  for (const Block& b : blocks) {
    if (b.kind == kind) found.push_back(b);
  }
  return found;
}

market::Scenario PageScenario(const std::vector<Block>& blocks) {
  for (const Block& b : blocks) {
    if (b.kind != "toml" || b.params.count("scenario") == 0) continue;
    std::string text;
    for (const std::string& l : b.lines) text += l + "\n";
    market::ScenarioLoad load = market::ParseScenario(text, "docs/protocol.md");
    EXPECT_TRUE(load.scenario) << load.error.ToString();
    if (load.scenario) return *load.scenario;
  }
  ADD_FAILURE() << "the page has no ```toml scenario block";
  return {};
}

// "0.250" as nanoseconds; -1 when it is not a time with three decimals.
int64_t ParseTime(const std::string& word) {
  unsigned long seconds = 0;
  unsigned long millis = 0;
  char tail = 0;
  if (word.size() < 5 || word[word.size() - 4] != '.' ||
      std::sscanf(word.c_str(), "%lu.%3lu%c", &seconds, &millis, &tail) != 2) {
    return -1;
  }
  return static_cast<int64_t>(seconds * 1000 + millis) * 1'000'000;
}

std::string ShowTime(Nanos at) {
  char text[32];
  const int64_t ms = at.count() / 1'000'000;
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}

constexpr market::ClientId kAgent = 1;

// Replays one transcript block as the gateway drives the engine: the engine bound to the block's
// login (the gateway's argument), started on the admission, its clock moved to the next deadline
// whenever the page shows a message the engine has not produced yet. Returns the market's lines.
std::vector<std::string> Replay(const market::Scenario& scenario, const Block& block) {
  std::vector<std::string> sent;
  const std::string login = block.params.count("login") ? block.params.at("login") : "CLogin";
  Engine engine(scenario, scenario.seed);
  engine.Connect(kAgent, login);
  std::deque<market::Outgoing> pending;
  bool closed = false;  // as the gateway, nothing goes out after the agent's output is closed
  auto take = [&] {
    for (market::Outgoing& out : engine.TakeOutgoing()) {
      if (closed || (out.to != kAgent && out.to != market::kEveryone)) continue;
      closed = out.close;
      pending.push_back(std::move(out));
    }
  };
  Nanos now{0};
  for (size_t i = 0; i < block.lines.size(); ++i) {
    const std::string& text = block.lines[i];
    const std::string where = "docs/protocol.md:" + std::to_string(block.first_line + i) + ": ";
    if (text.empty() || text[0] == '#') continue;
    std::istringstream words(text);
    std::string time_word;
    std::string direction;
    words >> time_word >> direction;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    const int64_t at = ParseTime(time_word);
    if (at < 0) {
      ADD_FAILURE() << where << "no time in seconds with three decimals: " << text;
      return sent;
    }
    if (direction == "<") {
      // The agent's line, at the time shown: within the tick in force.
      if (Nanos(at) < now) ADD_FAILURE() << where << "time goes back: " << text;
      const std::optional<Nanos> deadline = engine.NextDeadline();
      if (deadline && Nanos(at) >= *deadline) {
        ADD_FAILURE() << where << "sent after the tick ended at " << ShowTime(*deadline);
      }
      now = Nanos(at);
      engine.OnLine(kAgent, rest, now);
      if (engine.stage() == Engine::Stage::kLobby && engine.Admitted(kAgent)) engine.Start(now);
      take();
      continue;
    }
    if (direction != ">" && direction != "!") {
      ADD_FAILURE() << where << "neither <, > nor !: " << text;
      return sent;
    }
    if (pending.empty() && engine.NextDeadline()) {
      now = *engine.NextDeadline();
      engine.Advance(now);
      take();
    }
    if (pending.empty()) {
      ADD_FAILURE() << where << "the market sends nothing more, the page shows: " << text;
      return sent;
    }
    const market::Outgoing out = pending.front();
    pending.pop_front();
    const std::string actual = out.close ? "! output closed" : "> " + out.line;
    const std::string shown = direction + " " + rest;
    if (actual != shown || Nanos(at) != now) {
      ADD_FAILURE() << where << "the page shows\n  " << text << "\nthe market sends\n  "
                    << ShowTime(now) << " " << actual;
      return sent;
    }
    if (!out.close) sent.push_back(out.line);
  }
  std::string left;
  for (const market::Outgoing& out : pending) left += "\n  " + (out.close ? "(close)" : out.line);
  EXPECT_TRUE(pending.empty()) << "the transcript at docs/protocol.md:" << block.first_line
                               << " leaves out what the market sent next:" << left;
  return sent;
}

std::string FirstWord(const std::string& line) { return line.substr(0, line.find(' ')); }

class ProtocolPage : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = ReadPage();
    ASSERT_FALSE(page_.empty()) << "cannot read " << PROTOCOL_PAGE;
    blocks_ = Blocks(page_);
  }
  std::string page_;
  std::vector<Block> blocks_;
};

TEST_F(ProtocolPage, TranscriptsReplayThroughTheEngine) {
  const market::Scenario scenario = PageScenario(blocks_);
  const std::vector<Block> transcripts = OfKind(blocks_, "transcript");
  ASSERT_GE(transcripts.size(), 2u);
  for (const Block& block : transcripts) {
    SCOPED_TRACE("transcript at docs/protocol.md:" + std::to_string(block.first_line));
    Replay(scenario, block);
  }
}

// Every message shown on its own is one the engine sent in a transcript, and every kind the
// engine sent there has an example.
TEST_F(ProtocolPage, MessageExamplesAreTheEnginesLines) {
  const market::Scenario scenario = PageScenario(blocks_);
  std::set<std::string> sent;
  for (const Block& block : OfKind(blocks_, "transcript")) {
    for (const std::string& line : Replay(scenario, block)) sent.insert(line);
  }
  std::set<std::string> kinds_shown;
  const std::vector<Block> examples = OfKind(blocks_, "messages");
  ASSERT_FALSE(examples.empty());
  for (const Block& block : examples) {
    for (size_t i = 0; i < block.lines.size(); ++i) {
      const std::string& line = block.lines[i];
      if (line.empty()) continue;
      EXPECT_EQ(sent.count(line), 1u)
          << "docs/protocol.md:" << block.first_line + i << ": no transcript has " << line;
      kinds_shown.insert(FirstWord(line));
    }
  }
  for (const std::string& line : sent) {
    EXPECT_EQ(kinds_shown.count(FirstWord(line)), 1u) << "no example of " << FirstWord(line);
  }
}

// ```commands lines are commands the market acts on; ```ignored lines are ones it does not.
TEST_F(ProtocolPage, CommandExamplesParseAsShown) {
  int commands = 0;
  int ignored = 0;
  for (const Block& block : blocks_) {
    if (block.kind != "commands" && block.kind != "ignored") continue;
    for (size_t i = 0; i < block.lines.size(); ++i) {
      const std::string& line = block.lines[i];
      if (line.empty()) continue;
      const Command::Kind kind = market::ParseCommand(line).kind;
      const bool acted =
          kind != Command::Kind::kUnknown && kind != Command::Kind::kMalformedAdmission;
      EXPECT_EQ(acted, block.kind == "commands")
          << "docs/protocol.md:" << block.first_line + i << ": " << line;
      ++(acted ? commands : ignored);
    }
  }
  EXPECT_EQ(commands, 3) << "admission, bid and exit, one example each";
  EXPECT_GT(ignored, 0);
}

// The table of denials names each reason the engine has, and no other.
TEST_F(ProtocolPage, DenialTableNamesEveryReason) {
  std::set<std::string> in_page;
  std::istringstream in(page_);
  std::string line;
  while (std::getline(in, line)) {
    const std::string cell = "| `deny ";
    if (line.rfind(cell, 0) != 0) continue;
    const size_t end = line.find('`', cell.size());
    const std::string reason = line.substr(cell.size(), end - cell.size());
    if (reason != "REASON") in_page.insert(reason);  // the message table's own row
  }
  std::set<std::string> reasons;
  for (int d = 0; d <= static_cast<int>(market::Denial::kTooManyFailures); ++d) {
    reasons.insert(market::DenialText(static_cast<market::Denial>(d)));
  }
  EXPECT_EQ(in_page, reasons);
}

}  // namespace
