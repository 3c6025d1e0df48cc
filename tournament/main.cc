// tournament: runs a tournament file's sessions into an SQLite database and shows the leaderboard.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "cli/exit_status.h"
#include "cli/program.h"
#include "tournament/db/leaderboard.h"
#include "tournament/db/leaderboard_format.h"
#include "tournament/db/shard_store.h"
#include "tournament/db/store.h"
#include "tournament/db/upgrade.h"
#include "tournament/file/plan_format.h"
#include "tournament/file/shard.h"
#include "tournament/file/tournament_file.h"
#include "tournament/run/child.h"
#include "tournament/run/progress.h"
#include "tournament/run/runner.h"
#include "tournament/slurm/merge.h"
#include "tournament/slurm/slurm_script.h"

namespace {

constexpr const char* kProgram = "tournament";

std::string OwnFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : self.parent_path().string();
}

// How the leaderboard is shown.
struct BoardFormat {
  std::string format = "table";  // table, csv or json
  bool markets = false;          // with csv: the per-scenario section rather than the entries
};

// The leaderboard; a database holding only some shards says so (on standard error for CSV and
// JSON, which stay machine-readable).
std::string Render(tournament::Db& db, const BoardFormat& shown, const std::string& which) {
  const tournament::Leaderboard board = tournament::ReadLeaderboard(db, which);
  const std::optional<std::string> note =
      tournament::IncompleteNote(db, board.tournament, board.stored, board.planned);
  if (shown.format == "csv" || shown.format == "json") {
    if (note) std::cerr << "tournament: " << *note << "\n";
    if (shown.format == "json") return tournament::LeaderboardJson(board);
    return shown.markets ? tournament::MarketsCsv(board) : tournament::LeaderboardCsv(board);
  }
  const std::string table = tournament::LeaderboardTable(board);
  if (!note) return table;
  const size_t header = table.find('\n') + 1;
  return table.substr(0, header) + "(" + *note + ")\n" + table.substr(header);
}

// STATUS once what went to standard output is out; kExitOutputLost, with one line, when it could
// not be written.
int Flushed(int status) {
  if (std::cout.flush()) return status;
  std::cerr << "tournament: cannot write to standard output\n";
  return cli::kExitOutputLost;
}

// What is given on the command line besides the tournament file.
struct RunFlags {
  std::string db_path;
  int jobs = 1;
  std::string bin;
  BoardFormat shown;
  std::string shard;                   // "K/N" or empty
  std::optional<int64_t> deadline_ms;  // replaces the file's
};

int Run(const std::string& file, const RunFlags& flags) {
  tournament::TournamentLoad load = tournament::LoadTournament(file);
  if (!load.tournament) {
    std::cerr << "tournament: " << load.error << "\n";
    return cli::kExitBadUsage;
  }
  tournament::RunOptions options;
  if (!flags.shard.empty()) {
    const tournament::ShardParse shard = tournament::ParseShard(flags.shard);
    if (!shard.shard) {
      std::cerr << "tournament: " << shard.error << "\n";
      return cli::kExitBadUsage;
    }
    options.shard = shard.shard;
  }
  if (flags.deadline_ms) load.tournament->deadline_ms = *flags.deadline_ms;
  tournament::InstallInterruptHandlers();
  tournament::Store store(flags.db_path, true);
  options.db_name = flags.db_path;
  options.jobs = flags.jobs;
  options.bin_dir = flags.bin.empty() ? OwnFolder() : flags.bin;
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
    return cli::kExitSignalBase + summary.interrupted;
  }
  std::cout << Render(store.db(), flags.shown, load.tournament->hash);
  return Flushed(cli::kExitDone);
}

int Plan(const std::string& file, int64_t shards, const std::string& format) {
  const tournament::TournamentLoad load = tournament::LoadTournament(file);
  if (!load.tournament) {
    std::cerr << "tournament: " << load.error << "\n";
    return cli::kExitBadUsage;
  }
  if (format == "json") {
    tournament::WritePlanJson(std::cout, *load.tournament, shards);
  } else {
    std::cout << tournament::PlanTable(*load.tournament, shards);
  }
  return Flushed(cli::kExitDone);
}

// kExitDone when the target holds the whole tournament, kExitIncomplete when it does not yet.
int Merge(const std::string& into, const std::vector<std::string>& shards) {
  const tournament::MergeReport report = tournament::MergeShards(into, shards);
  for (const tournament::MergedShard& m : report.shards) {
    std::cout << "shard " << m.shard.index << "/" << m.shard.count << " " << m.path << ": "
              << m.stored << " of " << m.planned << " sessions, " << m.added << " added\n";
  }
  for (const tournament::MergedShard& m : report.shards) {
    if (m.repeated) {
      std::cerr << "tournament: shard " << m.shard.index << " given more than once (" << m.path
                << ")\n";
    }
    if (m.stored < m.planned) {
      std::cerr << "tournament: shard " << m.shard.index << " is incomplete: " << m.path
                << " holds " << m.stored << " of " << m.planned << " sessions\n";
    }
  }
  if (!report.missing.empty()) {
    std::cerr << "tournament: missing shard" << (report.missing.size() == 1 ? " " : "s ")
              << tournament::ShardList(report.missing, 64) << "\n";
  }
  std::cout << into << ": " << report.stored << " of " << report.planned << " sessions"
            << (report.Complete() ? "" : ", incomplete") << "\n";
  return Flushed(report.Complete() ? cli::kExitDone : cli::kExitIncomplete);
}

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

int Slurm(const std::string& file, int64_t shards, const std::string& out_dir,
          const RunFlags& flags, const std::string& partition, const std::string& time) {
  const tournament::TournamentLoad load = tournament::LoadTournament(file);
  if (!load.tournament) {
    std::cerr << "tournament: " << load.error << "\n";
    return cli::kExitBadUsage;
  }
  tournament::SlurmJob job;
  job.program = OwnFolder() + "/tournament";
  job.file = Absolute(file);
  job.out_dir = Absolute(out_dir);
  job.shards = shards;
  job.jobs = flags.jobs;
  job.deadline_ms = flags.deadline_ms;
  job.bin_dir = flags.bin.empty() ? "" : Absolute(flags.bin);
  job.partition = partition;
  job.time = time;
  const std::string fault = tournament::CheckSlurmJob(job);
  if (!fault.empty()) {
    std::cerr << "tournament: " << fault << "\n";
    return cli::kExitBadUsage;
  }
  std::filesystem::create_directories(job.out_dir);
  const std::string script = job.out_dir + "/tournament.sbatch";
  {
    std::ofstream out(script, std::ios::binary | std::ios::trunc);
    out << tournament::SlurmScript(job);
    if (!out.flush()) throw std::runtime_error("cannot write " + script);
  }
  std::filesystem::permissions(script, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  std::cout << tournament::SlurmNextSteps(job, script);
  return Flushed(cli::kExitDone);
}

}  // namespace

int main(int argc, char** argv) {
  // A write beyond the file size limit (ulimit -f) fails with EFBIG and is reported as a full disk
  // would be, rather than killing the program.
  signal(SIGXFSZ, SIG_IGN);
  cli::Program program(kProgram,
                       "tournament: many seeded market sessions, results in SQLite, a leaderboard");
  program.SetExitStatuses({
      {cli::kExitDone, "done; for merge, the target holds the whole tournament"},
      {cli::kExitFailed,
       "a database that cannot be opened or holds another schema, or a run that cannot go on"},
      {cli::kExitBadUsage, "bad usage or a bad tournament file (FILE:LINE: fault)"},
      {cli::kExitOutputLost, "the leaderboard, plan or next steps could not be written"},
      {cli::kExitIncomplete, "merge: merged, but shards are missing or incomplete"},
      {cli::kExitSignalBase, "plus N: interrupted by signal N; the same command resumes"},
  });
  CLI::App& app = program.app();
  app.require_subcommand(1);
  std::string file, which, out_dir, partition, time;
  RunFlags flags;
  flags.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int64_t shards = 1;
  std::vector<std::string> shard_files;
  const auto formats = CLI::IsMember({"table", "csv", "json"});
  CLI::App* run = app.add_subcommand("run", "play every session not yet in the database");
  run->add_option("FILE", file, "the tournament file (TOML)")->required();
  run->add_option("--db", flags.db_path, "the SQLite database (created when missing)")->required();
  run->add_option("--jobs", flags.jobs, "sessions at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  run->add_option("--bin", flags.bin,
                  "where marketd, buyer and RemoteControl are (default: beside this)");
  run->add_option("--format", flags.shown.format, "the final leaderboard: table, csv or json")
      ->check(formats);
  run->add_option("--shard", flags.shard,
                  "K/N: only shard K (from 0) of N, recorded in the database (see plan)");
  run->add_option("--deadline-ms", flags.deadline_ms,
                  "end a real-clock session after this long (default: the file's deadline_ms)")
      ->check(CLI::Range(int64_t{1}, int64_t{86'400'000}));
  CLI::App* show = app.add_subcommand("show", "print the leaderboard of a tournament");
  show->add_option("--db", flags.db_path, "the SQLite database")->required();
  show->add_option("--format", flags.shown.format, "table, csv or json")->check(formats);
  show->add_option("--tournament", which, "its id or hash (default: the one added last)");
  CLI::App* plan = app.add_subcommand("plan", "print how the sessions split into shards");
  plan->add_option("FILE", file, "the tournament file (TOML)")->required();
  plan->add_option("--shards", shards, "how many shards (default 1)")
      ->check(CLI::Range(int64_t{1}, tournament::kMaxShards));
  plan->add_option("--format", flags.shown.format, "table or json")
      ->check(CLI::IsMember({"table", "json"}));
  CLI::App* merge = app.add_subcommand(
      "merge", "combine shard databases into one (exit 4: merged, but shards are missing)");
  merge->add_option("--into", flags.db_path, "the merged database (created when missing)")
      ->required();
  merge->add_option("SHARD_DB", shard_files, "the shards' databases")->required();
  CLI::App* slurm =
      app.add_subcommand("slurm", "write a Slurm job array script running the shards");
  slurm->add_option("FILE", file, "the tournament file (TOML)")->required();
  slurm->add_option("--shards", shards, "how many shards: array tasks")
      ->required()
      ->check(CLI::Range(int64_t{1}, tournament::kMaxShards));
  slurm->add_option("--out", out_dir, "where the script, shard databases and logs go")->required();
  slurm->add_option("--jobs", flags.jobs, "sessions at once in each task, and its CPUs (default 1)")
      ->check(CLI::Range(1, 256));
  slurm->add_option("--deadline-ms", flags.deadline_ms, "passed on to run")
      ->check(CLI::Range(int64_t{1}, int64_t{86'400'000}));
  slurm->add_option("--bin", flags.bin, "passed on to run (made absolute)");
  slurm->add_option("--partition", partition, "the partition to run in");
  slurm->add_option("--time", time, "each task's time limit (Slurm's format, such as 1:00:00)");
  std::vector<std::string> upgrade_files;
  CLI::App* upgrade = app.add_subcommand(
      "upgrade", "convert a database of an earlier schema version (3 or 4) to this one, in place");
  upgrade->add_option("--db", flags.db_path, "the SQLite database")->required();
  upgrade->add_option("--file", upgrade_files,
                      "a tournament's file, when the one recorded in the database has moved");
  for (CLI::App* command : {run, show}) {
    command->add_flag("--markets", flags.shown.markets,
                      "with --format csv: one row per scenario (revenue, goods, efficiency)");
  }
  if (std::optional<cli::Stop> stop = program.Parse(argc, argv)) {
    return cli::Finish(kProgram, *stop);
  }
  try {
    if (run->parsed()) return Run(file, flags);
    if (plan->parsed()) return Plan(file, shards, flags.shown.format);
    if (merge->parsed()) return Merge(flags.db_path, shard_files);
    if (upgrade->parsed()) {
      const tournament::UpgradeReport r = tournament::UpgradeDatabase(flags.db_path, upgrade_files);
      if (r.from == tournament::kSchemaVersion) {
        std::cout << flags.db_path << " holds schema version " << r.from << " already\n";
      } else {
        std::cout << flags.db_path << ": version " << r.from << " to " << tournament::kSchemaVersion
                  << ", " << r.tournaments << " tournament" << (r.tournaments == 1 ? "" : "s")
                  << ", " << r.sessions << " sessions\n";
      }
      return 0;
    }
    if (slurm->parsed()) {
      if (slurm->count("--jobs") == 0) flags.jobs = 1;
      return Slurm(file, shards, out_dir, flags, partition, time);
    }
    // Read only: refuses another schema version, and works where nothing can be written.
    tournament::Store check(flags.db_path, tournament::Access::kRead);
    std::cout << Render(check.db(), flags.shown, which);
    return Flushed(cli::kExitDone);
  } catch (const std::exception& e) {
    std::cerr << "tournament: " << e.what() << "\n";
    return cli::kExitFailed;
  }
}
