// agent-check: plays a buyer agent through scripted market situations and reports each rule it
// keeps or breaks. Exit status 0 when every check passes, 1 when one fails, 2 for bad usage
// (cli/exit_status.h).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "checker/checks.h"
#include "checker/probe.h"
#include "checker/situations.h"
#include "cli/exit_status.h"
#include "cli/program.h"

namespace {

constexpr const char* kProgram = "agent-check";

// RemoteControl beside this program, where the build puts both.
std::string GatewayBesideUs() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "RemoteControl" : (self.parent_path() / "RemoteControl").string();
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  cli::Program program(
      kProgram,
      "agent-check: plays a buyer agent through scripted market situations (each a short "
      "session of its own, with a RemoteControl first on the agent's PATH that relays to the "
      "checker) and reports every rule it breaks, with the offending line");
  program.SetExitStatuses({
      {cli::kExitDone, "every check passed"},
      {cli::kExitFailed, "a check failed"},
      {cli::kExitBadUsage, "bad usage, or a gateway that cannot be run"},
  });
  CLI::App& app = program.app();
  std::vector<std::string> command;
  std::string format = "text";
  std::string gateway = GatewayBesideUs();
  std::vector<std::string> only;
  checker::Limits limits;
  double answer = limits.answer_wait.count();
  double quiet = limits.quiet_wait.count();
  double exit_wait = limits.exit_wait.count();
  app.add_option("--format", format, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  app.add_option("--situation", only, "play only this situation (repeatable)")
      ->check(CLI::IsMember(checker::SituationNames()));
  app.add_option("--gateway", gateway, "the real RemoteControl the checking gateway relays through")
      ->capture_default_str();
  app.add_option("--answer-wait", answer,
                 "seconds to wait for an admission, or a bid on a price well below the resale")
      ->check(CLI::Range(0.1, 600.0))
      ->capture_default_str();
  app.add_option("--quiet-wait", quiet,
                 "seconds to listen after a price a sound agent lets pass, and before the close")
      ->check(CLI::Range(0.05, 600.0))
      ->capture_default_str();
  app.add_option("--exit-wait", exit_wait, "seconds the agent has to exit once its output ends")
      ->check(CLI::Range(0.1, 600.0))
      ->capture_default_str();
  app.add_option("command", command, "the agent and its arguments (after --)")->required();
  if (std::optional<cli::Stop> stop = program.Parse(argc, argv)) {
    return cli::Finish(kProgram, *stop);
  }
  if (access(gateway.c_str(), X_OK) != 0) {
    return cli::Finish(kProgram,
                       cli::UsageFault("the gateway " + gateway + " is not an executable file"));
  }
  limits.answer_wait = checker::Seconds(answer);
  limits.quiet_wait = checker::Seconds(quiet);
  limits.exit_wait = checker::Seconds(exit_wait);
  std::string error;
  std::optional<checker::Stage> stage =
      checker::Stage::Make(std::filesystem::absolute(gateway).string(), &error);
  if (!stage) {
    std::cerr << "agent-check: " << error << "\n";
    return cli::kExitBadUsage;
  }
  checker::Findings findings;
  findings.agent = command;
  checker::PlaySituations(*stage, command, limits, only, findings);
  std::cout << (format == "json" ? checker::JsonReport(findings) : checker::TextReport(findings));
  return findings.Passed() ? cli::kExitDone : cli::kExitFailed;
}
