// The job script that runs a tournament's shards as a Slurm job array: task K runs
// `tournament run FILE --shard K/N --db DIR/shard-K.db` with the runner's options, its output in
// DIR/shard-K.log. Nothing else of the runner knows of Slurm: the task id reaches it on the
// command line.
#ifndef TOURNAMENT_SLURM_SCRIPT_H_
#define TOURNAMENT_SLURM_SCRIPT_H_

#include <cstdint>
#include <optional>
#include <string>

namespace tournament {

struct SlurmJob {
  std::string program;  // the tournament program, absolute
  std::string file;     // the tournament file, absolute
  std::string out_dir;  // shard databases and logs, absolute
  int64_t shards = 1;
  int jobs = 1;  // sessions at once in each task; also the CPUs each task asks for
  std::optional<int64_t> deadline_ms;
  std::string bin_dir;    // passed as --bin when set
  std::string partition;  // #SBATCH lines when set
  std::string time;
};

// The text as one word of bash: as it stands when plainly safe, single-quoted, or, when it holds
// control characters (those TerminalText escapes), as $'...' with each such byte written \xNN,
// so that the word never spans lines nor sends a control character to a terminal.
std::string ShellQuote(const std::string& text);

// Empty when the job can be written; otherwise one line saying what is wrong (a partition or
// time limit with characters a directive cannot hold).
std::string CheckSlurmJob(const SlurmJob& job);

// DIR/tournament.sbatch's text.
std::string SlurmScript(const SlurmJob& job);

// What to type next: the submission and the merge.
std::string SlurmNextSteps(const SlurmJob& job, const std::string& script_path);

}  // namespace tournament

#endif  // TOURNAMENT_SLURM_SCRIPT_H_
