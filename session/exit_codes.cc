#include "session/exit_codes.h"

namespace session {

int ExitStatusFor(market::EndReason reason) {
  switch (reason) {
    case market::EndReason::kCompleted:
    case market::EndReason::kClientExit:
      return kExitOk;
    case market::EndReason::kNotEnded:
    case market::EndReason::kClientsGone:
    case market::EndReason::kDenied:
    case market::EndReason::kInterrupted:
    case market::EndReason::kStopped:
      return kExitSessionFailed;
  }
  return kExitSessionFailed;
}

}  // namespace session
