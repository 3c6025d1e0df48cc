#include "tests/support/agent_fixture.h"

#include <algorithm>
#include <cstring>

#include "buyer/link/log.h"
#include "tests/support/agent_reset.h"

namespace test_support {
namespace {

std::string* captured_log = nullptr;

void CaptureLog(const char* data, size_t size) {
  if (captured_log != nullptr) captured_log->append(data, size);
}

ssize_t ReadMemory(void* context, char* buffer, size_t size) {
  auto* source = static_cast<MemorySource*>(context);
  ++source->reads;
  if (source->fail_after >= 0 && source->reads > source->fail_after) return -1;
  size_t n = std::min({size, source->chunk, source->data.size() - source->position});
  std::memcpy(buffer, source->data.data() + source->position, n);
  source->position += n;
  return static_cast<ssize_t>(n);
}

ssize_t WriteMemory(void* context, const char* data, size_t size) {
  auto* sink = static_cast<MemorySink*>(context);
  ++sink->writes;
  if (sink->broken) return -1;
  sink->data.append(data, size);
  return static_cast<ssize_t>(size);
}

std::string log_text;

}  // namespace

Input MemoryInput(MemorySource* source) { return Input{ReadMemory, source}; }
Output MemoryOutput(MemorySink* sink) { return Output{WriteMemory, sink}; }

void AgentTest::SetUp() {
  log_text.clear();
  captured_log = &log_text;
  ResetAgentForTest(CaptureLog);
  input_ = MemoryInput(&source_);
  output_ = MemoryOutput(&sent_);
}

void AgentTest::TearDown() {
  LogFlush();
  captured_log = nullptr;
  SetLogSink(nullptr);
}

void AgentTest::Feed(const std::string& bytes, size_t chunk) {
  source_.data = bytes;
  source_.position = 0;
  source_.chunk = chunk;
}

std::string AgentTest::Log() {
  LogFlush();
  std::string text;
  text.swap(log_text);
  return text;
}

}  // namespace test_support
