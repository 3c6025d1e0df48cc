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

#include "engine/scenario.h"
#include "marketd/server.h"
#include "session/exit_codes.h"

namespace marketd {

inline constexpr const char* kVersion = "marketd 1.0";

struct Options {
  market::Scenario scenario;
  uint64_t seed = 0;  // the scenario's unless --seed
  ServerOptions server;
  std::string results_path;     // empty: none
  std::string transcript_path;  // empty: none
  std::string port_file;        // empty: none
  std::string http_port_file;   // empty: none
};

struct OptionsParse {
  std::optional<Options> options;      // set when the server should run
  int exit_status = session::kExitOk;  // otherwise: kExitOk after --help or --version,
                                       // kExitBadSettings on bad usage
  std::string out;                     // for standard output (help, version)
  std::string error;                   // one line without a newline, for standard error
};

// Parses the arguments (program name first) and loads the scenario.
OptionsParse ParseOptions(const std::vector<std::string>& args);

}  // namespace marketd

#endif  // MARKETD_OPTIONS_H_
