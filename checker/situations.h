// The scripted situations agent-check plays an agent through, each a short session of its own
// with a fresh agent process: admission; offers; a collision; voided sales with sanctions and an
// expulsion; a good going out of the market; a second auction with a new buyers list; the market
// closing; the output ending without a close; an unknown message kind; an over-long line.
//
// Nothing depends on how fast the machine is: after a price the agent is expected to bid on
// (well below the good's resale price) the checker waits for the bid up to `answer_wait`; after
// one it is expected to let pass (above the resale price, or while expelled) it listens for
// `quiet_wait`. Every line the agent sends is judged by the state of the script when it arrives.
#ifndef CHECKER_SITUATIONS_H_
#define CHECKER_SITUATIONS_H_

#include <string>
#include <vector>

#include "checker/checks.h"
#include "checker/probe.h"

namespace checker {

struct Limits {
  Seconds start_wait{10};   // from the agent's start to its gateway's connection
  Seconds answer_wait{5};   // for an admission, or a bid on a price well below the resale price
  Seconds quiet_wait{1};    // listening after a price a sound agent does not bid on
  Seconds exit_wait{5};     // from the end of the agent's output to its exit
  Seconds gateway_wait{3};  // from the agent's exit to its gateways'
};

// The names of the situations, in the order they are played.
std::vector<std::string> SituationNames();

// Plays the agent `argv` through every situation (or those named in `only`) and records what
// it does in `findings`.
void PlaySituations(const Stage& stage, const std::vector<std::string>& argv, const Limits& limits,
                    const std::vector<std::string>& only, Findings& findings);

}  // namespace checker

#endif  // CHECKER_SITUATIONS_H_
