// Starts the market gateway as a child process joined to the agent by two pipes, and ends it.
#ifndef BUYER_DRIVER_REMOTE_CONTROL_H_
#define BUYER_DRIVER_REMOTE_CONTROL_H_

#include <sys/types.h>

// Agent to gateway: the read end becomes the gateway's standard input; the agent keeps the write
// end [1].
extern int Remote_Control[2];
// Gateway to agent: the write end becomes the gateway's standard output; the agent keeps the read
// end [0].
extern int Pannel[2];

// Creates both pipes, forks, and runs "RemoteControl" (found along PATH, argv "../RemoteControl"
// "CLogin") in the child. If it cannot be run, the child exits 255 and the parent learns the
// exec's errno through a close-on-exec status pipe (see GatewayExecError); the parent waits only
// for the exec, never for the gateway itself. The parent closes the ends it does not keep, ignores
// SIGPIPE (a gateway that stopped reading shows as a failed write, not as the agent's death) and
// resets the tables. Prints nothing to standard output.
void catch_the_remote_control();

// The errno of the gateway's failed exec, or 0 when it started (or was never forked).
int GatewayExecError();

// Closes the agent's write end and waits for the gateway to exit, for a bounded time: a gateway
// still running after a few seconds is sent SIGTERM, then SIGKILL. Returns the wait status, or -1
// when there is no child to wait for (a failed fork).
int EndGateway();

#endif  // BUYER_DRIVER_REMOTE_CONTROL_H_
