// A scripted stand-in for the market gateway, installed as "RemoteControl" in a folder that tests
// put first on PATH. It plays a byte script to its standard output and records what it is sent.
//
// Settings (environment):
//   FAKE_GATEWAY_SCRIPT  file whose bytes are written to standard output (none: nothing)
//   FAKE_GATEWAY_RECORD  file that receives every byte read from standard input, at the end
//   FAKE_GATEWAY_ARGV    file that receives the arguments, one per line
//   FAKE_GATEWAY_REPEAT  how many times the script is written (default 1)
//   FAKE_GATEWAY_EXIT    exit status (default 0)
//   FAKE_GATEWAY_MODE    play (default): write the script, close standard output, read standard
//                          input to its end, exit;
//                        exit: exit at once, reading and writing nothing;
//                        kill: wait for the first command line, write the script, then die by
//                          SIGKILL;
//                        deaf: wait for the first command line, close standard input, write
//                          the script, keep standard output open for FAKE_GATEWAY_HOLD_MS
//                          (default 3000), exit.
//                        linger: like play, but keep running FAKE_GATEWAY_HOLD_MS after
//                          standard input ends;
//                        stubborn: like linger, but SIGTERM is written to FAKE_GATEWAY_SIGNALS
//                          ("TERM" and a newline) and otherwise ignored.
//   FAKE_GATEWAY_SIGNALS file that receives a line per SIGTERM in stubborn mode

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string Env(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

std::string ReadFile(const std::string& path) {
  std::string data;
  if (path.empty()) return data;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "fake gateway: cannot open %s\n", path.c_str());
    std::exit(90);
  }
  char buffer[8192];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, n);
  std::fclose(file);
  return data;
}

void WriteFile(const std::string& path, const std::string& data) {
  if (path.empty()) return;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(data.data(), 1, data.size(), file);
  std::fclose(file);
}

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the agent has gone: nothing more to deliver
    done += static_cast<size_t>(n);
  }
}

std::string ReadToEnd(int fd) {
  std::string data;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return data;
    data.append(buffer, static_cast<size_t>(n));
  }
}

int signals_fd = -1;

void RecordTerm(int) {
  if (signals_fd >= 0) [[maybe_unused]]
    ssize_t ignored = write(signals_fd, "TERM\n", 5);
}

// From here on SIGTERM is recorded and survived.
void SurviveTerm() {
  const std::string path = Env("FAKE_GATEWAY_SIGNALS");
  if (!path.empty()) signals_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  struct sigaction action {};
  action.sa_handler = RecordTerm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
}

void SleepMs(long ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string args;
  for (int i = 0; i < argc; ++i) args += std::string(argv[i]) + "\n";
  WriteFile(Env("FAKE_GATEWAY_ARGV"), args);
  const int status = std::atoi(Env("FAKE_GATEWAY_EXIT", "0").c_str());
  const long hold_ms = std::atol(Env("FAKE_GATEWAY_HOLD_MS", "3000").c_str());
  const std::string mode = Env("FAKE_GATEWAY_MODE", "play");
  if (mode == "exit") return status;
  if (mode == "stubborn") SurviveTerm();
  std::string first_line;
  if (mode == "kill" || mode == "deaf") {
    // Waiting for the admission makes sure the agent's only command has landed before the end.
    char c;
    while (read(0, &c, 1) == 1 && c != '\n') first_line += c;
  }
  if (mode == "deaf") close(0);
  const std::string script = ReadFile(Env("FAKE_GATEWAY_SCRIPT"));
  const long repeat = std::atol(Env("FAKE_GATEWAY_REPEAT", "1").c_str());
  for (long i = 0; i < repeat; ++i) WriteAll(1, script);
  if (mode == "kill") raise(SIGKILL);
  if (mode == "deaf") {
    SleepMs(hold_ms);
    return status;
  }
  close(1);
  WriteFile(Env("FAKE_GATEWAY_RECORD"), ReadToEnd(0));
  if (mode == "linger" || mode == "stubborn") SleepMs(hold_ms);
  return status;
}
