#include "tests/support/child_process.h"

#include "tests/support/process.h"

namespace gateway::testing {

ChildResult Converse(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const Conversation& conversation, double timeout_seconds) {
  ChildResult result;
  testproc::SpawnOptions options;
  options.argv = argv;
  options.env = env;
  options.in = testproc::Stream::kPipe;
  testproc::Child child = testproc::Spawn(options);
  if (child.pid < 0) return result;
  if (!testproc::WriteAll(child.in, conversation.input) || conversation.close_input_at_once) {
    testproc::CloseFd(&child.in);
  }
  std::string partial;
  int lines = 0;
  testproc::DrainHooks hooks;
  hooks.on_out = [&](const char* data, size_t size) {
    if (size == 0) {
      testproc::CloseFd(&child.in);  // the child's output ended: so does its input
      return false;
    }
    partial.append(data, size);
    for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
      const std::string line = partial.substr(0, end);
      partial.erase(0, end + 1);
      ++lines;
      if (conversation.respond && child.in >= 0) {
        if (!testproc::WriteAll(child.in, conversation.respond(line))) {
          testproc::CloseFd(&child.in);
        }
      }
      if (lines == conversation.stop_reading_after) return false;
    }
    return true;
  };
  result.timed_out =
      !testproc::Drain(child, &result.out, &result.err, testproc::After(timeout_seconds), hooks);
  result.status = testproc::Wait(child);
  return result;
}

int ExitStatus(const ChildResult& result) { return testproc::ExitCodeOf(result.status); }

}  // namespace gateway::testing
