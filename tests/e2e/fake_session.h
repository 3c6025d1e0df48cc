// Runs the built agent against the scripted gateway and collects what both sides saw.
#ifndef TESTS_E2E_FAKE_SESSION_H_
#define TESTS_E2E_FAKE_SESSION_H_

#include <string>

#include "tests/support/process.h"

inline const std::string kAdmissionLog = "\nadmission CLogin TGatekeep\n\n";
inline const std::string kAdmission = "admission CLogin TGatekeep\n";

// How the scripted gateway behaves (see tests/fake_gateway/fake_gateway.cc).
struct Gateway {
  std::string script;
  std::string mode = "play";
  int exit_status = 0;
  long repeat = 1;
  long hold_ms = 1000;
  std::string path = FAKE_GATEWAY_DIR;  // the PATH the agent sees
  int reader_pause_ms = 0;              // > 0: the agent's standard output is read slowly
  double timeout_seconds = 60;
};

struct Session {
  ProcessResult run;
  std::string received;  // what the gateway read from the agent
  std::string argv;      // the gateway's arguments, one per line
  std::string signals;   // the signals a stubborn gateway survived, one per line
};

// Runs the agent; fails the calling test if it had to be killed at the deadline.
Session RunAgainst(const Gateway& gateway);

// True when text ends with tail.
bool EndsWith(const std::string& text, const std::string& tail);

#endif  // TESTS_E2E_FAKE_SESSION_H_
