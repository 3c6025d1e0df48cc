// The scripted network bidder: logs one or more buyers in to marketd over TCP, each on its own
// connection, and bids by a fixed rule. Used by the network tests and the load benchmark.
//
// Rule: on every "offer" or "collision" line whose price is at or below the connection's
// threshold, it sends one "bid". Connection i (1-based) of n uses threshold
// bid_at_or_below - ((i - 1) % 10) * spread, so a crowd of them does not always bid together.
#ifndef MARKETD_PEER_H_
#define MARKETD_PEER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace marketd {

struct PeerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  std::string login;  // with count > 1: login1 .. loginN
  std::string password;
  int count = 1;
  int64_t bid_at_or_below = 0;  // 0: never bids
  int64_t spread = 0;
  int leave_after_offers = 0;  // > 0: hang up on that many offer lines (after its bid on it)
  std::string log_dir;         // non-empty: every line received goes to log_dir/LOGIN.log
  double timeout_seconds = 300;
};

struct PeerReport {
  std::string login;
  int64_t bids_sent = 0;
  int64_t lines_received = 0;
  bool accepted = false;
  bool saw_close = false;  // received closed_market
  bool left = false;       // hung up on purpose (leave_after_offers)
  std::string denied;      // the deny reason, if denied
  std::string error;       // a connection or read fault, if any
};

// Runs every connection to its end (the server closes, the peer leaves, or the timeout passes)
// and reports on each, in login order.
std::vector<PeerReport> RunPeers(const PeerOptions& options);

// One line per report: "LOGIN bids=N lines=M end=closed_market|left|denied REASON|error TEXT".
std::string ReportLine(const PeerReport& report);

}  // namespace marketd

#endif  // MARKETD_PEER_H_
