// The command line of marketd:
//   marketd --scenario FILE [--listen HOST:PORT] [--seed N] [--results FILE] [--transcript FILE]
//           [--port-file FILE] [--max-line BYTES] [--max-faults N] [--queue-limit BYTES]
//           [--send-buffer BYTES] [--max-connections N] [--linger-ms MS] [--clock real|stepped]
//           [--http [HOST:]PORT] [--http-port-file FILE] [--http-queue-limit BYTES]
#ifndef MARKETD_OPTIONS_H_
#define MARKETD_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/program.h"
#include "engine/scenario.h"
#include "marketd/server.h"

namespace marketd {

inline constexpr const char* kProgram = "marketd";

struct Options {
  market::Scenario scenario;
  uint64_t seed = 0;  // the scenario's unless --seed
  ServerOptions server;
  std::string results_path;     // empty: none
  std::string transcript_path;  // empty: none
  std::string port_file;        // empty: none
  std::string http_port_file;   // empty: none
};

// The options when the server should run; otherwise --help, --version or bad usage (a bad
// scenario or seed among it).
using OptionsParse = cli::Parsed<Options>;

// Parses the arguments (program name first) and loads the scenario.
OptionsParse ParseOptions(const std::vector<std::string>& args);

}  // namespace marketd

#endif  // MARKETD_OPTIONS_H_
