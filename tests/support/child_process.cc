#include "tests/support/child_process.h"

#include "tests/support/process.h"

namespace test_support {

ChildResult Converse(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const Conversation& conversation, double timeout_seconds) {
  ChildResult result;
  test_support::SpawnOptions options;
  options.argv = argv;
  options.env = env;
  options.in = test_support::Stream::kPipe;
  test_support::Child child = test_support::Spawn(options);
  if (child.pid < 0) return result;
  if (!test_support::WriteAll(child.in, conversation.input) || conversation.close_input_at_once) {
    test_support::CloseFd(&child.in);
  }
  std::string partial;
  int lines = 0;
  test_support::DrainHooks hooks;
  hooks.on_out = [&](const char* data, size_t size) {
    if (size == 0) {
      test_support::CloseFd(&child.in);  // the child's output ended: so does its input
      return false;
    }
    partial.append(data, size);
    for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
      const std::string line = partial.substr(0, end);
      partial.erase(0, end + 1);
      ++lines;
      if (conversation.respond && child.in >= 0) {
        if (!test_support::WriteAll(child.in, conversation.respond(line))) {
          test_support::CloseFd(&child.in);
        }
      }
      if (lines == conversation.stop_reading_after) return false;
    }
    return true;
  };
  result.timed_out = !test_support::Drain(child, &result.out, &result.err,
                                          test_support::After(timeout_seconds), hooks);
  result.status = test_support::Wait(child);
  return result;
}

int ExitStatus(const ChildResult& result) { return test_support::ExitCodeOf(result.status); }

}  // namespace test_support
