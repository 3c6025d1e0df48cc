// The buyer agent: starts the market gateway, logs in, and bids by its fixed rule until the
// market's messages end.
//
// Exit status: 0 when the loop ended by an "open_auction" number above 21, or when the gateway's
// output ended and the gateway exited with status 0; 1 when the gateway exited otherwise (a denied
// login, a crash) or could not be started, or stopped reading the agent's commands. Abnormal ends
// are described in one line on standard error; standard output holds only the log.

#include <cstdio>
#include <cstring>

#include <sys/wait.h>

#include "buyer/driver/agent.h"
#include "buyer/driver/remote_control.h"
#include "buyer/link/io.h"
#include "buyer/link/log.h"

namespace {

int ExitStatusFor(LoopEnd end, int gateway_status) {
  // A gateway that never started explains everything that followed: one line, the same in every
  // run, whatever became of the admission write.
  if (int error = GatewayExecError(); error != 0) {
    std::fprintf(stderr,
                 "buyer: cannot start the market gateway \"RemoteControl\": %s (it is looked up "
                 "along PATH; the build puts it in build/bin: PATH=build/bin:$PATH "
                 "build/bin/buyer, or make run)\n",
                 std::strerror(error));
    return 1;
  }
  if (end == LoopEnd::kGatewayGone) {
    std::fprintf(stderr, "buyer: the market gateway stopped reading commands\n");
    return 1;
  }
  if (gateway_status == -1) return 1;
  if (WIFEXITED(gateway_status)) {
    if (WEXITSTATUS(gateway_status) == 0) return 0;
    std::fprintf(stderr, "buyer: the market gateway exited with status %d\n",
                 WEXITSTATUS(gateway_status));
    return 1;
  }
  if (WIFSIGNALED(gateway_status)) {
    std::fprintf(stderr, "buyer: the market gateway was killed by signal %d\n",
                 WTERMSIG(gateway_status));
  }
  return 1;
}

}  // namespace

int main() {
  catch_the_remote_control();
  Input input = FdInput(&Pannel[0]);
  Output output = FdOutput(&Remote_Control[1]);
  LoopEnd end = RunAgent(input, output);
  LogFlush();
  // The loop's own end leaves the gateway to itself, as the market may still be running for it.
  if (end == LoopEnd::kAuctionIndexPast) return 0;
  return ExitStatusFor(end, EndGateway());
}
