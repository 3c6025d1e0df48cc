#include "tournament/file/tournament_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "engine/rival_table.h"
#include "engine/scenario.h"
#include "engine/toml_fields.h"
#include "tournament/file/session_scenario.h"
#include "wire/escape.h"

namespace tournament {
namespace {

using market::Fail;
using market::FieldFault;
using market::LineOf;

// Seeds per tournament at most, so a typo cannot ask for billions of sessions.
constexpr int64_t kMaxSeeds = 1'000'000;

bool IsPassword(std::string_view text) {
  if (text.empty() || text.size() > market::kMaxPasswordLength) return false;
  for (char c : text) {
    if (c <= ' ' || c == 0x7f) return false;
  }
  return true;
}

const market::TextRule kNameRule{
    market::IsValidName, "a string of 1 to 15 printable characters without spaces", "names"};
const market::TextRule kPasswordRule{
    IsPassword, "a string of 1 to 64 printable characters without spaces", "passwords"};
const market::TextRule kClockRule{[](std::string_view t) { return t == "stepped" || t == "real"; },
                                  "\"stepped\" or \"real\"", "clocks"};
const market::TextRule kAnyText{[](std::string_view t) { return !t.empty(); }, "a non-empty string",
                                "non-empty strings"};

std::string ReadWhole(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in) && !std::filesystem::is_directory(path);
  if (!ok) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint64_t> ReadSeeds(const toml::table& root) {
  const toml::node* node = root.get("seeds");
  if (node == nullptr) throw FieldFault{1, "missing key 'seeds' (a list, or { base, count })"};
  std::vector<uint64_t> seeds;
  if (const toml::array* list = node->as_array()) {
    if (list->empty() || static_cast<int64_t>(list->size()) > kMaxSeeds) {
      Fail(*node, "seeds must hold 1 to 1000000 seeds");
    }
    std::set<uint64_t> seen;
    for (const toml::node& item : *list) {
      const auto value = item.value<int64_t>();
      if (!value || *value < 0) Fail(item, "a seed must be a non-negative integer");
      if (!seen.insert(static_cast<uint64_t>(*value)).second) {
        Fail(item, "seed " + std::to_string(*value) + " is listed twice");
      }
      seeds.push_back(static_cast<uint64_t>(*value));
    }
    return seeds;
  }
  const toml::table* table = node->as_table();
  if (table == nullptr) Fail(*node, "seeds must be a list of seeds or { base = N, count = N }");
  market::TableReader r(*table, "seeds");
  const int64_t base = r.RequireInt("base", 0, INT64_MAX - kMaxSeeds);
  const int64_t count = r.RequireInt("count", 1, kMaxSeeds);
  r.RejectUnknownKeys();
  for (int64_t i = 0; i < count; ++i) seeds.push_back(static_cast<uint64_t>(base + i));
  return seeds;
}

std::string RivalText(const toml::table& table) {
  toml::table copy = table;
  copy.erase("line");
  std::ostringstream out;
  out << toml::toml_formatter(copy);
  return out.str();
}

Entry ReadEntry(const toml::table& table) {
  Entry e;
  e.line = LineOf(table.source());
  const bool has_strategy = table.contains("strategy");
  const bool has_agent = table.contains("agent");
  const bool has_command = table.contains("command");
  if (int(has_strategy) + int(has_agent) + int(has_command) != 1) {
    Fail(table, "an entry needs exactly one of 'strategy' (built in), 'agent' or 'command'");
  }
  if (has_strategy) {
    // The table goes to the scenario as it stands, read here as the scenario will read it.
    e.kind = Entry::Kind::kBuiltIn;
    const market::RivalEntry rival = market::ReadRivalTable(table, "[[lineups.entries]]");
    e.name = rival.name;
    e.strategy = market::StrategyName(rival.strategy);
    e.rival_toml = RivalText(table);
    return e;
  }
  market::TableReader r(table, "[[lineups.entries]]");
  if (has_agent) {
    e.kind = Entry::Kind::kBuyer;
    if (r.RequireText("agent", kNameRule) != "buyer") {
      Fail(*table.get("agent"), "agent must be \"buyer\" (other programs are given as 'command')");
    }
  } else {
    e.kind = Entry::Kind::kCommand;
    const toml::node& command = r.Require("command");
    if (const auto text = command.value<std::string>()) {
      if (text->empty()) Fail(command, "command must not be empty");
      e.argv = {"/bin/sh", "-c", *text};
    } else {
      e.argv = r.Texts("command", {}, false, kAnyText);
    }
  }
  if (e.kind == Entry::Kind::kBuyer) {
    // The agent logs in under the one login it knows; the entry may only repeat it.
    e.name = r.Find("login") ? r.RequireText("login", kNameRule) : kBuyerLogin;
    e.password = r.Find("password") ? r.RequireText("password", kPasswordRule) : kBuyerPassword;
    if (e.name != kBuyerLogin || e.password != kBuyerPassword) {
      Fail(table, std::string("the buyer agent logs in as ") + kBuyerLogin + " with password " +
                      kBuyerPassword + "; leave out login and password");
    }
  } else {
    e.name = r.RequireText("login", kNameRule);
    e.password = r.RequireText("password", kPasswordRule);
  }
  r.RejectUnknownKeys();
  return e;
}

Lineup ReadLineup(const toml::table& table, size_t number) {
  Lineup lineup;
  lineup.line = LineOf(table.source());
  market::TableReader r(table, "[[lineups]]");
  lineup.name = r.Find("name") ? r.RequireText("name", kNameRule) : "L" + std::to_string(number);
  std::set<std::string> names;
  for (const toml::table* entry : r.Tables("entries")) {
    lineup.entries.push_back(ReadEntry(*entry));
    if (!names.insert(lineup.entries.back().name).second) {
      Fail(*entry,
           "name " + lineup.entries.back().name + " is used twice in lineup " + lineup.name);
    }
  }
  if (lineup.entries.empty()) Fail(table, "lineup " + lineup.name + " has no [[lineups.entries]]");
  r.RejectUnknownKeys();
  return lineup;
}

std::string Hex(uint64_t h) {
  static const char* const kHex = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<size_t>(i)] = kHex[h & 15];
  return out;
}

// FNV-1a, 64 bits, continued over `text` from `hash`.
constexpr uint64_t kFnvStart = 14695981039346656037ULL;
uint64_t Fnv(uint64_t hash, std::string_view text) {
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

// Each scenario built with each lineup, as the runner will: a fault of the pair is the lineup's.
// One scenario's text is held at a time.
void CheckPairs(const toml::table& root, const TournamentFile& t) {
  const toml::array& listed = *root.get("scenarios")->as_array();
  for (size_t i = 0; i < t.scenarios.size(); ++i) {
    bool ok = false;
    const std::string text = ReadWhole(t.scenarios[i], ok);
    if (!ok) Fail(*listed.get(i), "cannot read scenario " + t.scenarios[i]);
    try {
      (void)toml::parse(text, t.scenarios[i]);
    } catch (const toml::parse_error& e) {
      Fail(*listed.get(i), "scenario " + t.scenarios[i] + ":" + std::to_string(LineOf(e.source())) +
                               ": " + std::string(e.description()));
    }
    for (const Lineup& lineup : t.lineups) {
      const SessionScenarioBuild build =
          BuildSessionScenario(text, t.scenario_names[i], lineup, t.tick_ms, t.admission_ms);
      if (!build.scenario) throw FieldFault{lineup.line, "scenario " + build.error};
    }
  }
}

// `hash`: the hash of the file's text, continued over every scenario's.
TournamentFile Read(const toml::table& root, const std::string& path, uint64_t& hash) {
  TournamentFile t;
  t.path = path;
  t.folder = std::filesystem::path(path).parent_path().string();
  market::TableReader r(root, "the tournament file");
  t.name = r.Find("name") ? r.RequireText("name", kAnyText) : path;
  std::set<std::string> listed;
  for (const std::string& s : r.Texts("scenarios", {}, false, kAnyText)) {
    const toml::node& item = *root.get("scenarios")->as_array()->get(t.scenarios.size());
    // Sessions are keyed by the name as written: one name twice would be one session twice.
    if (!listed.insert(s).second) Fail(item, "scenario " + s + " is listed twice");
    if (static_cast<int64_t>(listed.size()) > kMaxPairs) {
      Fail(item, "more than " + std::to_string(kMaxPairs) + " scenarios");
    }
    const std::filesystem::path p(s);
    std::string resolved = p.is_absolute() || t.folder.empty()
                               ? p.string()
                               : (std::filesystem::path(t.folder) / p).lexically_normal().string();
    bool ok = false;
    hash = Fnv(hash, ReadWhole(resolved, ok));
    if (!ok) Fail(item, "cannot read scenario " + resolved);
    t.scenarios.push_back(std::move(resolved));
    t.scenario_names.push_back(s);
  }
  r.Find("seeds");
  t.seeds = ReadSeeds(root);
  if (r.Find("tick_ms")) t.tick_ms = r.Int("tick_ms", 1, 60'000, 0);
  t.deadline_ms = r.Int("deadline_ms", 100, 24 * 3600 * 1000, t.deadline_ms);
  t.admission_ms = r.Int("admission_ms", 100, 60'000, t.admission_ms);
  if (r.Find("clock")) t.clock = r.RequireText("clock", kClockRule);
  std::set<std::string> names;
  size_t number = 0;
  for (const toml::table* table : r.Tables("lineups")) {
    if (static_cast<int64_t>(t.scenarios.size() * (t.lineups.size() + 1)) > kMaxPairs) {
      Fail(*table, "more than " + std::to_string(kMaxPairs) +
                       " pairs of scenario and lineup: " + std::to_string(t.scenarios.size()) +
                       " scenarios, lineup " + std::to_string(t.lineups.size() + 1));
    }
    t.lineups.push_back(ReadLineup(*table, ++number));
    if (!names.insert(t.lineups.back().name).second) {
      Fail(*table, "lineup " + t.lineups.back().name + " is defined twice");
    }
  }
  if (t.lineups.empty()) throw FieldFault{1, "the tournament has no [[lineups]]"};
  r.RejectUnknownKeys();
  CheckPairs(root, t);
  return t;
}

}  // namespace

std::string Entry::Describe() const {
  switch (kind) {
    case Kind::kBuiltIn:
      return strategy;
    case Kind::kBuyer:
      return "buyer";
    case Kind::kCommand:
      break;
  }
  std::string text;
  if (argv.size() == 3 && argv[0] == "/bin/sh" && argv[1] == "-c") {
    text = argv[2];
  } else {
    for (const std::string& a : argv) text += (text.empty() ? "" : " ") + a;
  }
  return MaskPassword(text, password);
}

std::string MaskPassword(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
    text.replace(at, password.size(), "***");
  }
  return text;
}

std::string HashText(std::string_view text) { return Hex(Fnv(kFnvStart, text)); }

TournamentLoad ParseTournament(std::string_view text, const std::string& path) {
  TournamentLoad load;
  try {
    toml::table root = toml::parse(text, path);
    uint64_t hash = Fnv(kFnvStart, text);
    TournamentFile t = Read(root, path, hash);
    t.hash = Hex(hash);
    load.tournament = std::move(t);
  } catch (const toml::parse_error& e) {
    load.error = wire::Printable(path) + ":" + std::to_string(LineOf(e.source())) + ": " +
                 wire::Printable(e.description());
  } catch (const FieldFault& f) {
    load.error =
        wire::Printable(path) + ":" + std::to_string(f.line) + ": " + wire::Printable(f.what);
  }
  return load;
}

TournamentLoad LoadTournament(const std::string& path) {
  bool ok = false;
  const std::string text = ReadWhole(path, ok);
  if (!ok) return {std::nullopt, wire::Printable(path) + ":0: cannot read the file"};
  return ParseTournament(text, path);
}

}  // namespace tournament
