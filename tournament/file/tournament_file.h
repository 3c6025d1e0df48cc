// A tournament file (TOML): the scenarios to play, the seeds, the lineups and their entries, the
// limits of a session. Loading checks everything the runner relies on, so a loaded tournament can
// be expanded into sessions without further checks.
#ifndef TOURNAMENT_TOURNAMENT_FILE_H_
#define TOURNAMENT_TOURNAMENT_FILE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tournament {

// The credentials the buyer agent always logs in with.
inline constexpr const char* kBuyerLogin = "CLogin";
inline constexpr const char* kBuyerPassword = "TGatekeep";

// One bidder of a lineup.
struct Entry {
  enum class Kind { kBuiltIn, kBuyer, kCommand };
  Kind kind = Kind::kBuiltIn;
  std::string name;  // the rival's name (built-in) or the login (agents); unique in the lineup
  // kBuiltIn: the entry's own TOML table, as the text of one [[rivals]] table ("strategy",
  // "valuation", ... and any key a strategy defines), passed to the scenario unchanged.
  std::string rival_toml;
  std::string strategy;  // kBuiltIn: the strategy's name, for the leaderboard
  std::string password;  // agents: registered in the session's market under `name`
  // kCommand: the program and its arguments; a single string runs under /bin/sh -c.
  std::vector<std::string> argv;
  int line = 0;

  bool IsProcess() const { return kind != Kind::kBuiltIn; }
  // What the entry is, for the results: the strategy, "buyer", or the command line with the
  // entry's password masked.
  std::string Describe() const;
};

struct Lineup {
  std::string name;
  std::vector<Entry> entries;
  int line = 0;
};

// Scenarios times lineups at most: each pair is a session scenario, built and checked when the
// file is loaded and kept while the tournament runs.
inline constexpr int64_t kMaxPairs = 10'000;

struct TournamentFile {
  std::string name;
  std::string path;                    // as given
  std::string folder;                  // where relative paths start
  std::vector<std::string> scenarios;  // paths, resolved against `folder`
  // The same as written in the file: what the database keys sessions by, whatever the folder
  // the runner is started from.
  std::vector<std::string> scenario_names;
  std::vector<uint64_t> seeds;
  std::vector<Lineup> lineups;
  std::optional<int64_t> tick_ms;  // replaces every scenario's tick
  int64_t deadline_ms = 120'000;   // a real-clock session is ended after this long
  int64_t admission_ms = 3'000;    // how long a real-clock market waits for late agents
  // The clock of the sessions with agent programs (all-built-in sessions run in virtual time):
  // "stepped" (marketd --clock stepped, and MARKET_CLOCK=stepped for the agents' RemoteControl)
  // or "real".
  std::string clock = "stepped";
  std::string hash;  // of the file and every scenario's text, hex
};

struct TournamentLoad {
  std::optional<TournamentFile> tournament;
  std::string error;  // "FILE:LINE: FAULT" when tournament is empty
};

// Parses the text of a tournament file; `path` names it in errors and anchors relative paths.
// Scenario files are read to compute the hash; one that cannot be read is an error. Every built-in
// entry is read as the engine reads a rival, and every scenario is built with every lineup, so a
// fault in either is the file's, at its line.
TournamentLoad ParseTournament(std::string_view text, const std::string& path);
TournamentLoad LoadTournament(const std::string& path);

// The text with every occurrence of the password replaced by "***".
std::string MaskPassword(std::string text, const std::string& password);

// FNV-1a, 64 bits, as 16 hex digits: the identity of a text in the database.
std::string HashText(std::string_view text);

}  // namespace tournament

#endif  // TOURNAMENT_TOURNAMENT_FILE_H_
