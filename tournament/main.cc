// tournament: runs a tournament file's sessions into an SQLite database and shows the leaderboard.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "tournament/child.h"
#include "tournament/leaderboard.h"
#include "tournament/leaderboard_format.h"
#include "tournament/progress.h"
#include "tournament/runner.h"
#include "tournament/store.h"
#include "tournament/tournament_file.h"

namespace {

constexpr const char* kVersion = "tournament 1.0";

std::string OwnFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : self.parent_path().string();
}

// --markets: the CSV of the per-scenario section rather than of the entries.
bool g_markets = false;

std::string Render(tournament::Db& db, const std::string& format, const std::string& which) {
  const tournament::Leaderboard board = tournament::ReadLeaderboard(db, which);
  if (format == "csv") {
    return g_markets ? tournament::MarketsCsv(board) : tournament::LeaderboardCsv(board);
  }
  if (format == "json") return tournament::LeaderboardJson(board);
  return tournament::LeaderboardTable(board);
}

int Run(const std::string& file, const std::string& db_path, int jobs, const std::string& bin,
        const std::string& format) {
  const tournament::TournamentLoad load = tournament::LoadTournament(file);
  if (!load.tournament) {
    std::cerr << "tournament: " << load.error << "\n";
    return 2;
  }
  tournament::InstallInterruptHandlers();
  tournament::Store store(db_path, true);
  tournament::RunOptions options;
  options.jobs = jobs;
  options.bin_dir = bin.empty() ? OwnFolder() : bin;
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const auto start = std::chrono::steady_clock::now();
  auto last = start - std::chrono::seconds(1);
  if (terminal) {
    options.on_progress = [&](int64_t done, int64_t total, int64_t here) {
      const auto now = std::chrono::steady_clock::now();
      if (now - last < std::chrono::milliseconds(200) && done != total) return;
      last = now;
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
      std::cerr << "\r\033[K" << tournament::ProgressLine(done, total, here, elapsed) << std::flush;
    };
  }
  const tournament::RunSummary summary =
      tournament::RunTournament(*load.tournament, store, options);
  if (terminal) std::cerr << "\r\033[K" << std::flush;
  if (summary.interrupted) {
    std::cerr << "tournament: interrupted; " << summary.found + summary.written << " of "
              << summary.planned << " sessions stored, the same command resumes\n";
    return 128 + summary.interrupted;
  }
  std::cout << Render(store.db(), format, load.tournament->hash) << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("tournament: many seeded market sessions, results in SQLite, a leaderboard",
               "tournament");
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  std::string file, db_path, bin, format = "table", which;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  CLI::App* run = app.add_subcommand("run", "play every session not yet in the database");
  run->add_option("FILE", file, "the tournament file (TOML)")->required();
  run->add_option("--db", db_path, "the SQLite database (created when missing)")->required();
  run->add_option("--jobs", jobs, "sessions at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  run->add_option("--bin", bin,
                  "where marketd, buyer and RemoteControl are (default: beside this)");
  run->add_option("--format", format, "the final leaderboard: table, csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  CLI::App* show = app.add_subcommand("show", "print the leaderboard of a tournament");
  show->add_option("--db", db_path, "the SQLite database")->required();
  show->add_option("--format", format, "table, csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  show->add_option("--tournament", which, "its id or hash (default: the one added last)");
  for (CLI::App* command : {run, show}) {
    command->add_flag("--markets", g_markets,
                      "with --format csv: one row per scenario (revenue, goods, efficiency)");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::cout << kVersion << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "tournament: " << e.what() << " (see --help)\n";
    return 2;
  }
  try {
    if (run->parsed()) return Run(file, db_path, jobs, bin, format);
    tournament::Store check(db_path, false);  // refuses another schema version
    std::cout << Render(check.db(), format, which) << std::flush;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "tournament: " << e.what() << "\n";
    return 1;
  }
}
