// The exit statuses of every program of the project: one table, one meaning per number. A program
// uses the rows that apply to it and lists them, in its own words, in its --help.
#ifndef CLI_EXIT_STATUS_H_
#define CLI_EXIT_STATUS_H_

namespace cli {

// Did what was asked (and --help, --version).
inline constexpr int kExitDone = 0;
// An input could not be read or was not valid, or the run itself failed (a session that ended
// early, a check the agent failed, a database that cannot be opened).
inline constexpr int kExitFailed = 1;
// Bad usage: the arguments, or a file they name that sets up the run (a scenario, a tournament
// file, an output that cannot be created), cannot be used. Nothing was run.
inline constexpr int kExitBadUsage = 2;
// The run went through, but an output (a results or transcript file, a page, standard output)
// could not be written whole.
inline constexpr int kExitOutputLost = 3;
// Did all it could, but the result is partial and says so (a merge short of some shards).
inline constexpr int kExitIncomplete = 4;

// A program stopped by signal N exits 128 + N, as the shell reports it; no row above reaches 128.
inline constexpr int kExitSignalBase = 128;

}  // namespace cli

#endif  // CLI_EXIT_STATUS_H_
