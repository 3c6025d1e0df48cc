// Test support for the network tests: programs started in the background with their output in
// files, waited for with a deadline (killed when it passes), and a plain TCP client with timeouts.
#ifndef TESTS_NETWORK_NET_SUPPORT_H_
#define TESTS_NETWORK_NET_SUPPORT_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace nettest {

struct Process {
  pid_t pid = -1;
  std::string out_path;  // its standard output
  std::string err_path;  // its standard error
};

// Starts argv[0] (a path) with exactly `env`, standard input from /dev/null, output into
// dir/name.out and dir/name.err.
Process Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& dir, const std::string& name);

// The exit status, or -1 if it did not exit normally or was still running after timeout_seconds
// (it is then killed with SIGKILL and reaped).
int Wait(Process& process, double timeout_seconds);

// The sanitizer settings of the test's own environment, to pass on to children.
std::vector<std::string> SanitizerEnv();

// marketd started on a free loopback port, its port read back from --port-file.
struct Server {
  Process process;
  uint16_t port = 0;
  std::string results_path;
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};
// Extra arguments follow the scenario, listen, port-file and results arguments. Fails the test
// (port 0) when no port appears within 20 s.
Server StartServer(const std::string& scenario_path, const std::string& dir,
                   const std::vector<std::string>& extra = {});

// A blocking TCP client; every wait is bounded.
class Client {
 public:
  // Connects to 127.0.0.1:port. receive_buffer > 0 sets SO_RCVBUF before connecting.
  explicit Client(uint16_t port, int receive_buffer = 0);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // The next line without its newline; empty when the connection ended or the time ran out.
  std::optional<std::string> ReadLine(double timeout_seconds);
  // Reads until the server closes; the lines read. *closed tells whether it did in time.
  std::vector<std::string> ReadUntilClosed(double timeout_seconds, bool* closed);
  void Close();

 private:
  int fd_ = -1;
  std::string buffer_;
  bool ended_ = false;
};

using test_support::Lines;
using test_support::MakeTempDir;
using test_support::ReadFile;
using test_support::WriteFile;

}  // namespace nettest

#endif  // TESTS_NETWORK_NET_SUPPORT_H_
