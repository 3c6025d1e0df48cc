#include "tests/support/agent_reset.h"

#include "buyer/link/commands.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"

namespace test_support {

void ResetAgentForTest(LogSink sink) {
  ResetLog();
  ResetWorld();
  ResetReader();
  ResetCommands();
  SetLogSink(sink);
}

}  // namespace test_support
