#include "tests/e2e/fake_session.h"

#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"

Session RunAgainst(const Gateway& gateway) {
  std::string dir = test_support::MakeTempDir();
  test_support::WriteFile(dir + "/script", gateway.script);
  std::vector<std::string> env = {
      "PATH=" + gateway.path,
      "FAKE_GATEWAY_SCRIPT=" + dir + "/script",
      "FAKE_GATEWAY_RECORD=" + dir + "/record",
      "FAKE_GATEWAY_ARGV=" + dir + "/argv",
      "FAKE_GATEWAY_MODE=" + gateway.mode,
      "FAKE_GATEWAY_EXIT=" + std::to_string(gateway.exit_status),
      "FAKE_GATEWAY_REPEAT=" + std::to_string(gateway.repeat),
      "FAKE_GATEWAY_HOLD_MS=" + std::to_string(gateway.hold_ms),
      "FAKE_GATEWAY_SIGNALS=" + dir + "/signals",
  };
  Session session;
  session.run = RunProcess({BUYER_PATH}, env, gateway.timeout_seconds, gateway.reader_pause_ms);
  session.received = test_support::ReadFile(dir + "/record");
  session.argv = test_support::ReadFile(dir + "/argv");
  session.signals = test_support::ReadFile(dir + "/signals");
  std::remove((dir + "/script").c_str());
  std::remove((dir + "/record").c_str());
  std::remove((dir + "/argv").c_str());
  std::remove((dir + "/signals").c_str());
  std::remove(dir.c_str());
  EXPECT_FALSE(session.run.timed_out) << "the agent had to be killed at the deadline";
  return session;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
