// agent-check: plays a buyer agent through scripted market situations and reports each rule it
// keeps or breaks. Exit status 0 when every check passes, 1 when one fails, 2 for bad usage.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "checker/checks.h"
#include "checker/probe.h"
#include "checker/situations.h"

namespace {

constexpr const char* kVersion = "agent-check 1.0";

// RemoteControl beside this program, where the build puts both.
std::string GatewayBesideUs() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "RemoteControl" : (self.parent_path() / "RemoteControl").string();
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app(
      "agent-check: plays a buyer agent through scripted market situations (each a short "
      "session of its own, with a RemoteControl first on the agent's PATH that relays to the "
      "checker) and reports every rule it breaks, with the offending line",
      "agent-check");
  app.set_version_flag("--version", kVersion);
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
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::cout << kVersion << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "agent-check: " << e.what() << " (see --help)\n";
    return 2;
  }
  if (access(gateway.c_str(), X_OK) != 0) {
    std::cerr << "agent-check: the gateway " << gateway << " is not an executable file\n";
    return 2;
  }
  limits.answer_wait = checker::Seconds(answer);
  limits.quiet_wait = checker::Seconds(quiet);
  limits.exit_wait = checker::Seconds(exit_wait);
  std::string error;
  std::optional<checker::Stage> stage =
      checker::Stage::Make(std::filesystem::absolute(gateway).string(), &error);
  if (!stage) {
    std::cerr << "agent-check: " << error << "\n";
    return 2;
  }
  checker::Findings findings;
  findings.agent = command;
  checker::PlaySituations(*stage, command, limits, only, findings);
  std::cout << (format == "json" ? checker::JsonReport(findings) : checker::TextReport(findings));
  return findings.Passed() ? 0 : 1;
}
