#include "tournament/slurm/slurm_script.h"

#include "tournament/file/terminal_text.h"

namespace tournament {
namespace {

bool Safe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("/._-+:=,@%").find(c) != std::string_view::npos;
}

// A directive's value: no spaces, quotes or shell characters.
bool PlainWord(const std::string& text) {
  for (char c : text) {
    if (!Safe(c)) return false;
  }
  return !text.empty();
}

// DIR/shard-<task>.EXT as a shell word, the task id expanded by the shell.
std::string TaskFile(const SlurmJob& job, const std::string& ext) {
  return ShellQuote(job.out_dir + "/shard-") + "\"$SLURM_ARRAY_TASK_ID\"" + ext;
}

}  // namespace

std::string ShellQuote(const std::string& text) {
  bool safe = !text.empty();
  for (char c : text) safe = safe && Safe(c);
  if (safe) return text;
  if (!HasControl(text)) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  // Control characters written as escapes, so that every line of a script is what it shows.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "$'";
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (text[i] == '\\' || text[i] == '\'') {
      out += '\\';
      out += text[i];
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
      out += "\\xc2\\x";
      out += kHex[next >> 4];
      out += kHex[next & 15];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out + "'";
}

std::string CheckSlurmJob(const SlurmJob& job) {
  if (!job.partition.empty() && !PlainWord(job.partition)) {
    return "--partition " + job.partition + ": not a partition name";
  }
  if (!job.time.empty() && !PlainWord(job.time)) {
    return "--time " + job.time + ": not a time limit (such as 30, 2:00:00 or 1-0)";
  }
  return "";
}

std::string SlurmScript(const SlurmJob& job) {
  const std::string n = std::to_string(job.shards);
  std::string s = "#!/bin/bash\n";
  // A comment ends at the first line break, whatever quotes it holds: the path is escaped.
  s += "# The tournament " + TerminalText(job.file) + " in " + n + " shards: task K runs shard K/" +
       n + " into shard-K.db beside this script, its output in shard-K.log.\n";
  s += "#SBATCH --job-name=tournament\n";
  s += "#SBATCH --array=0-" + std::to_string(job.shards - 1) + "\n";
  s += "#SBATCH --ntasks=1\n";
  s += "#SBATCH --cpus-per-task=" + std::to_string(job.jobs) + "\n";
  s += "#SBATCH --output=/dev/null\n";  // the task writes its own log, whatever the path holds
  if (!job.partition.empty()) s += "#SBATCH --partition=" + job.partition + "\n";
  if (!job.time.empty()) s += "#SBATCH --time=" + job.time + "\n";
  s += "set -eu\n";
  s += "exec >" + TaskFile(job, ".log") + " 2>&1\n";
  s += "exec " + ShellQuote(job.program) + " run " + ShellQuote(job.file) +
       " --shard \"$SLURM_ARRAY_TASK_ID/" + n + "\" --db " + TaskFile(job, ".db") + " --jobs " +
       std::to_string(job.jobs);
  if (job.deadline_ms) s += " --deadline-ms " + std::to_string(*job.deadline_ms);
  if (!job.bin_dir.empty()) s += " --bin " + ShellQuote(job.bin_dir);
  s += " --format csv\n";
  return s;
}

std::string SlurmNextSteps(const SlurmJob& job, const std::string& script_path) {
  const std::string all = ShellQuote(job.out_dir + "/all.db");
  // The paths in the first line are shown escaped; the commands hold them quoted.
  std::string s = "wrote " + TerminalText(script_path) + ": " + std::to_string(job.shards) +
                  " array tasks, shard K into " + TerminalText(job.out_dir) + "/shard-K.db\n";
  s += "next, on the login node:\n";
  s += "  sbatch --wait " + ShellQuote(script_path) + "\n";
  s += "  " + ShellQuote(job.program) + " merge --into " + all + " " + ShellQuote(job.out_dir) +
       "/shard-*.db\n";
  s += "  " + ShellQuote(job.program) + " show --db " + all + "\n";
  return s;
}

}  // namespace tournament
