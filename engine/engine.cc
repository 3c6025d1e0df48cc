#include "engine/engine.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/commands.h"
#include "engine/rivals.h"
#include "engine/rng.h"
#include "engine/values.h"

namespace market {
namespace {

// Streams of the seed (see DeriveSeed); the goods stream is 1 (plan.cc).
constexpr uint64_t kValuationStream = 2;
constexpr uint64_t kTieBreakStream = 3;
constexpr uint64_t kBidderStream = 4;  // draws a bidder makes for one good (its own limit)

constexpr size_t kIgnoredLineKept = 80;

// Clock steps reserved up front for one good: its run down and its collisions, so that a
// good's clock grows without reallocating in the usual case; a scenario with a finer step
// reserves no more than this and grows as needed.
constexpr int64_t kClockReserveMax = 1024;

// Room a finished good's clock (in steps) or tick bids (in rows' worth of bytes) may leave
// unused; beyond it the list is cut to fit, so that a session holds what its goods went through,
// not what their clocks could have.
constexpr size_t kUnusedKept = 64;

static_assert(kMaxPrice < INT32_MAX, "a tick bid keeps its price in 32 bits");

template <typename T>
void FitTo(std::vector<T>& list) {
  if (list.capacity() - list.size() > kUnusedKept) list.shrink_to_fit();
}

int64_t Micros(Nanos t) { return t.count() / 1000; }

// Peers whose failed logins are counted at once; beyond that a new peer is not counted until a
// cool-down has passed somewhere (the table cannot grow without bound).
constexpr size_t kMaxPeersWatched = 4096;

std::string Num(int64_t value) { return std::to_string(value); }

}  // namespace

const char* DenialText(Denial denial) {
  switch (denial) {
    case Denial::kMalformedAdmission:
      return "malformed_admission";
    case Denial::kLoginMismatch:
      return "login_mismatch";
    case Denial::kUnknownBuyer:
      return "unknown_buyer";
    case Denial::kBadPassword:
      return "bad_password";
    case Denial::kAlreadyAdmitted:
      return "already_admitted";
    case Denial::kMarketRunning:
      return "market_running";
    case Denial::kMarketClosed:
      return "market_closed";
    case Denial::kMarketFull:
      return "market_full";
    case Denial::kTooManyFailures:
      return "too_many_failures";
  }
  return "unknown";
}

Engine::Engine(const Scenario& scenario, uint64_t seed)
    : scenario_(scenario), plan_(BuildPlan(scenario, seed)) {
  results_.seed = seed;
  results_.auctions_planned = static_cast<int>(plan_.auctions.size());
  for (const Rival& rival : plan_.rivals) bidders_.emplace_back(MakeBidder(rival));
}

void Engine::Connect(ClientId client, std::optional<std::string> required_login, std::string peer) {
  clients_[client] = Client{std::move(required_login), -1, false, std::move(peer)};
}

bool Engine::CoolingDown(std::map<std::string, Failures>& table, const std::string& key) {
  auto it = table.find(key);
  if (it == table.end() || it->second.cool_until == Nanos{0}) return false;
  if (now_ < it->second.cool_until) return true;
  table.erase(it);  // the cool-down is over: the count starts again
  return false;
}

void Engine::CountFailure(std::map<std::string, Failures>& table, const std::string& key,
                          int limit) {
  if (table.count(key) == 0 && table.size() >= kMaxPeersWatched) {
    for (auto it = table.begin(); it != table.end();) {
      it = it->second.cool_until != Nanos{0} && now_ >= it->second.cool_until ? table.erase(it)
                                                                              : std::next(it);
    }
    if (table.size() >= kMaxPeersWatched) return;
  }
  Failures& failures = table[key];
  if (++failures.count >= limit) failures.cool_until = now_ + kFailureCoolDown;
}

void Engine::RecordFailedLogin(const Client& state, const std::string& login, Denial denial) {
  ++results_.failed_logins_total;
  if (results_.failed_logins.size() >= kMaxFailedLoginsKept) return;
  results_.failed_logins.push_back(
      {login.substr(0, kIgnoredLineKept), state.peer, now_.count() / 1000, DenialText(denial)});
}

bool Engine::Admitted(ClientId client) const {
  auto it = clients_.find(client);
  return it != clients_.end() && it->second.participant >= 0;
}

void Engine::Emit(ClientId to, std::string line, std::optional<Denial> denial) {
  if (!silent_) outgoing_.push_back({to, std::move(line), false, denial});
}

void Engine::CloseClient(ClientId client) {
  Client& state = clients_[client];
  if (state.closed) return;
  state.closed = true;
  outgoing_.push_back({client, "", true, std::nullopt});
}

void Engine::RecordIgnored(ClientId client, std::string_view line, const char* reason) {
  ++results_.ignored_total;
  if (results_.ignored.size() >= kMaxIgnoredKept) return;
  auto it = clients_.find(client);
  IgnoredLine record;
  record.from = it != clients_.end() && it->second.participant >= 0
                    ? participants_[static_cast<size_t>(it->second.participant)].login
                    : "(not admitted)";
  // Whatever it was, a password it held is not written out.
  record.line = WithoutPassword(line).substr(0, kIgnoredLineKept);
  record.reason = reason;
  results_.ignored.push_back(std::move(record));
}

ParticipantResult* Engine::ResultOf(ClientId client) {
  auto it = clients_.find(client);
  if (it == clients_.end() || it->second.participant < 0) return nullptr;
  const Participant& participant = participants_[static_cast<size_t>(it->second.participant)];
  return &results_.participants[members_[participant.member].result];
}

void Engine::RecordLateTicks(ClientId client, int64_t ticks) {
  if (ParticipantResult* result = ResultOf(client)) result->late_ticks += ticks;
}

void Engine::RecordFault(ClientId client) {
  if (ParticipantResult* result = ResultOf(client)) ++result->faults;
}

void Engine::RecordDrop(ClientId client, const std::string& reason) {
  std::string from = "(not admitted)";
  auto it = clients_.find(client);
  if (it != clients_.end() && it->second.participant >= 0) {
    const Participant& participant = participants_[static_cast<size_t>(it->second.participant)];
    Member& member = members_[participant.member];
    from = member.login;
    // The first reason a login was dropped for is the one its record keeps.
    if (!member.dropped) {
      member.dropped = true;
      results_.participants[member.result].dropped = reason;
    }
  }
  ++results_.dropped_total;
  if (results_.dropped.size() < kMaxDroppedKept) results_.dropped.push_back({from, reason});
}

int Engine::ParticipantsPresent() const {
  int present = 0;
  for (const Participant& p : participants_) present += p.connected;
  return present;
}

void Engine::OnLine(ClientId client, std::string_view line, Nanos at) {
  now_ = std::max(now_, at);
  if (clients_.count(client) == 0) Connect(client, std::nullopt);
  Client& state = clients_[client];
  const Command command = ParseCommand(line);
  if (command.kind == Command::Kind::kBid) {
    if (ParticipantResult* result = ResultOf(client)) ++result->bids;
  }
  if (state.closed) {
    RecordIgnored(client, line, "sent after the connection was closed");
    return;
  }
  switch (command.kind) {
    case Command::Kind::kAdmission:
    case Command::Kind::kMalformedAdmission:
      Admit(client, state, line);
      return;
    case Command::Kind::kBid:
      Bid(client, state, line, at);
      return;
    case Command::Kind::kExit:
      if (state.participant < 0) RecordIgnored(client, line, "exit before admission");
      // Closed first: the leaving client gets no more messages, not even the new buyers list.
      CloseClient(client);
      Leave(client, state);
      return;
    case Command::Kind::kUnknown:
      RecordIgnored(client, line, "unknown command");
      RecordFault(client);
      return;
  }
}

void Engine::Admit(ClientId client, Client& state, std::string_view line) {
  if (state.participant >= 0) {
    RecordIgnored(client, line, "repeated admission");
    return;
  }
  const Command command = ParseCommand(line);
  std::optional<Denial> denial;
  const Credential* credential = nullptr;
  for (const Credential& c : scenario_.registry) {
    if (c.login == command.login) credential = &c;
  }
  bool in_use = false;
  for (const Participant& p : participants_) {
    if (p.login == command.login && p.connected) in_use = true;
  }
  if (command.kind == Command::Kind::kMalformedAdmission) {
    denial = Denial::kMalformedAdmission;
  } else if (state.required_login && *state.required_login != command.login) {
    denial = Denial::kLoginMismatch;
  } else if (CoolingDown(peer_failures_, state.peer) ||
             (credential != nullptr &&
              CoolingDown(login_failures_, command.login + '\n' + state.peer))) {
    denial = Denial::kTooManyFailures;
    RecordFailedLogin(state, command.login, *denial);
  } else if (credential == nullptr) {
    denial = Denial::kUnknownBuyer;
    RecordFailedLogin(state, command.login, *denial);
    CountFailure(peer_failures_, state.peer, kPeerFailures);
  } else if (!SamePassword(command.password, credential->password)) {
    denial = Denial::kBadPassword;
    RecordFailedLogin(state, command.login, *denial);
    CountFailure(peer_failures_, state.peer, kPeerFailures);
    CountFailure(login_failures_, command.login + '\n' + state.peer, kLoginFailures);
  } else if (in_use) {
    denial = Denial::kAlreadyAdmitted;
  } else if (stage_ == Stage::kRunning) {
    denial = Denial::kMarketRunning;
  } else if (stage_ == Stage::kClosed) {
    denial = Denial::kMarketClosed;
  } else if (ParticipantsPresent() >= BuyerCapacity(scenario_)) {
    denial = Denial::kMarketFull;
  }
  if (denial) {
    Emit(client, std::string("deny ") + DenialText(*denial), denial);
    CloseClient(client);
    return;
  }
  // A login that left the lobby and comes back keeps its record.
  size_t member = 0;
  while (member < members_.size() && members_[member].login != command.login) ++member;
  if (member == members_.size()) {
    members_.push_back({command.login, false, results_.participants.size()});
    results_.participants.push_back({});
    results_.participants.back().login = command.login;
  }
  login_failures_.erase(command.login + '\n' + state.peer);
  results_.participants[members_[member].result].left = false;
  // Admissions happen only in the lobby, where no auction refers to a participant yet: a login
  // coming back takes up its record again, so that coming and going costs nothing over time.
  size_t index = 0;
  while (index < participants_.size() && participants_[index].login != command.login) ++index;
  if (index == participants_.size()) participants_.push_back({client, command.login, true, member});
  Participant& participant = participants_[index];
  participant.client = client;
  participant.connected = true;
  participant.place = ++admissions_;
  state.participant = static_cast<int>(index);
  Emit(client, "accept");
}

void Engine::Bid(ClientId client, const Client& state, std::string_view line, Nanos at) {
  if (state.participant < 0) {
    RecordIgnored(client, line, "bid before admission");
    return;
  }
  if (stage_ != Stage::kRunning) {
    RecordIgnored(client, line, "bid while no price is in force");
    return;
  }
  for (Buyer& buyer : buyers_) {
    if (buyer.participant != state.participant) continue;
    if (!buyer.present) {
      RecordIgnored(client, line, "bid from a buyer expelled from the auction");
      return;
    }
    // A repeat within the tick changes nothing: it is counted in the participant's lines but
    // not stored, so a flood of bids costs no memory.
    if (buyer.bid) return;
    BidRecord record;
    record.auction = auction().number;
    record.good = good().id;
    record.price = price_;
    record.buyer = participants_[static_cast<size_t>(state.participant)].login;
    record.at_us = at.count() / 1000;
    record.response_us = std::max<int64_t>(0, (at - announced_).count() / 1000);
    results_.bids.push_back(std::move(record));
    buyer.bid = true;
    buyer.bid_at = at;
    return;
  }
  RecordIgnored(client, line, "bid from a buyer not in the auction");
}

void Engine::Leave(ClientId client, Client& state) {
  if (state.participant < 0) return;
  Participant& participant = participants_[static_cast<size_t>(state.participant)];
  // A client whose login has been admitted again since holds the record no more.
  if (participant.client != client || !participant.connected) return;
  participant.connected = false;
  if (stage_ != Stage::kClosed) {
    results_.participants[members_[participant.member].result].left = true;
  }
  if (stage_ != Stage::kRunning) return;
  for (Buyer& buyer : buyers_) {
    if (buyer.participant != state.participant || !buyer.present) continue;
    if (buyer.bid) ForgetBid(buyer);
    buyer.present = false;
    buyer.bid = false;
    account(buyer).left = true;
    Emit(kEveryone, BuyersLine());
  }
}

// A bid whose buyer left before its tick was decided never takes part: it is neither counted nor
// timed. It is the buyer's last record, made in the tick in force.
void Engine::ForgetBid(const Buyer& buyer) {
  for (auto it = results_.bids.rbegin(); it != results_.bids.rend(); ++it) {
    if (it->buyer != buyer.name) continue;
    if (it->at_us >= announced_.count() / 1000) results_.bids.erase(std::next(it).base());
    return;
  }
}

void Engine::Disconnect(ClientId client) {
  auto it = clients_.find(client);
  if (it == clients_.end()) return;
  Leave(client, it->second);
  it->second.closed = true;
}

void Engine::Forget(ClientId client) {
  auto it = clients_.find(client);
  if (it == clients_.end()) return;
  const int index = it->second.participant;
  // A buyer still present keeps its client's record; once it has left, its login's records
  // (participants_, members_) keep what the results name.
  if (index >= 0) {
    const Participant& participant = participants_[static_cast<size_t>(index)];
    if (participant.client == client && participant.connected) return;
  }
  clients_.erase(it);
}

void Engine::Start(Nanos now) {
  if (stage_ != Stage::kLobby) return;
  now_ = std::max(now_, now);
  stage_ = Stage::kRunning;
  auction_ = 0;
  OpenAuction();
  NextGoodOrRound(now);
}

void Engine::OpenAuction() {
  const AuctionPlan& plan = auction();
  ++auctions_opened_;
  AuctionResult result;
  result.number = plan.number;
  result.rounds = plan.rounds;
  buyers_.clear();
  // The participants present, in the order of their latest admission.
  std::vector<size_t> present;
  for (size_t p = 0; p < participants_.size(); ++p) {
    if (participants_[p].connected) present.push_back(p);
  }
  std::sort(present.begin(), present.end(),
            [this](size_t a, size_t b) { return participants_[a].place < participants_[b].place; });
  for (size_t p : present) {
    Buyer buyer;
    buyer.name = participants_[p].login;
    buyer.participant = static_cast<int>(p);
    buyers_.push_back(buyer);
  }
  for (size_t rival : plan.rivals) {
    Buyer buyer;
    buyer.name = plan_.rivals[rival].name;
    buyer.rival = static_cast<int>(rival);
    buyers_.push_back(buyer);
  }
  for (Buyer& buyer : buyers_) {
    buyer.account = result.buyers.size();
    BuyerResult account;
    account.name = buyer.name;
    account.participant = buyer.participant >= 0;
    account.strategy =
        buyer.rival >= 0 ? bidders_[static_cast<size_t>(buyer.rival)]->name() : "agent";
    result.buyers.push_back(std::move(account));
  }
  std::string goods = "goods";
  for (const Good& g : plan.goods) {
    if (!silent_) {
      goods +=
          " " + g.id + " " + g.kind + " " + g.seller + " " + Num(g.initial) + " " + Num(g.resale);
    }
    GoodResult record;
    record.good = g;
    result.goods.push_back(std::move(record));
  }
  results_.auctions.push_back(std::move(result));
  good_ = 0;
  goods_done_ = 0;
  round_ = 1;
  Emit(kEveryone, "open_auction " + Num(plan.number));
  Emit(kEveryone, BuyersLine());
  Emit(kEveryone, goods);
  Emit(kEveryone, "open_round 1");
}

std::string Engine::BuyersLine() const {
  std::string line = "buyers";
  for (const Buyer& buyer : buyers_) {
    if (buyer.present) line += " " + buyer.name;
  }
  return line;
}

// Runs through what needs no tick: the rest of the round, the auction and the session, until a
// good is under the hammer or the market has closed.
void Engine::NextGoodOrRound(Nanos now) {
  for (;;) {
    const AuctionPlan& plan = plan_.auctions[auction_];
    if (good_ < plan.goods.size() && plan.goods[good_].round == round_) {
      BeginGood(now);
      return;
    }
    Emit(kEveryone, "end_round " + Num(round_));
    if (round_ < plan.rounds) {
      ++round_;
      Emit(kEveryone, "open_round " + Num(round_));
      continue;
    }
    Emit(kEveryone, "end_auction " + Num(plan.number));
    ++auction_;
    if (auction_ == plan_.auctions.size()) {
      CloseMarket();
      return;
    }
    OpenAuction();
  }
}

void Engine::BeginGood(Nanos now) {
  const Good& g = good();
  price_ = g.initial;
  collisions_ = 0;
  tie_breaks_ = 0;
  GoodResult& record = good_result();
  record.values.reserve(buyers_.size());
  const int64_t step = plan_.auctions[auction_].price_step;
  const int64_t steps = (g.initial - g.reserve) / step + 1;
  const int64_t lowest = LowestOffer(g, step);  // what the rivals take for the reserve
  record.clock.reserve(static_cast<size_t>(
      std::clamp<int64_t>(steps + 2 * scenario_.max_collisions, 1, kClockReserveMax)));
  for (Buyer& buyer : buyers_) {
    buyer.bid = false;
    if (!buyer.present) continue;
    if (buyer.rival < 0) {
      buyer.valuation = g.resale;  // what an agent's benefit counts
    } else {
      const auto rival = static_cast<uint64_t>(buyer.rival);
      const auto auction = static_cast<uint64_t>(auction_);
      buyer.valuation =
          DrawValue(plan_.rivals[rival].value, g.resale,
                    DeriveSeed(plan_.seed, {kValuationStream, auction, good_, rival}));
      bidders_[rival]->BeginGood(buyer.valuation, lowest,
                                 DeriveSeed(plan_.seed, {kBidderStream, auction, good_, rival}));
    }
    record.values.push_back({static_cast<uint32_t>(buyer.account), buyer.valuation});
  }
  if (!silent_) {
    Emit(kEveryone, "good " + g.id + " " + g.kind + " " + g.seller + " " + Num(g.initial) + " " +
                        Num(g.resale));
  }
  Announce(now, ClockStep::Kind::kOffer);
}

void Engine::Announce(Nanos now, ClockStep::Kind kind) {
  const char* tag = kind == ClockStep::Kind::kOffer ? "offer" : "collision";
  for (Buyer& buyer : buyers_) buyer.bid = false;
  good_result().clock.push_back({Micros(now), price_, kind});
  if (!silent_) Emit(kEveryone, std::string(tag) + " " + good().id + " " + Num(price_));
  announced_ = now;
  deadline_ = now + std::chrono::milliseconds(scenario_.tick_ms);
}

void Engine::Advance(Nanos now) {
  now_ = std::max(now_, now);
  if (stage_ != Stage::kRunning || !deadline_ || now < *deadline_) return;
  ResolveTick(now);
}

void Engine::ResolveTick(Nanos now) {
  // Bidders in buyers-list order, so that a tie-break depends on the seed alone.
  std::vector<size_t> bidders;
  const auto present = static_cast<int>(
      std::count_if(buyers_.begin(), buyers_.end(), [](const Buyer& b) { return b.present; }));
  for (size_t b = 0; b < buyers_.size(); ++b) {
    const Buyer& buyer = buyers_[b];
    if (!buyer.present) continue;
    const bool bids = buyer.rival >= 0 ? bidders_[static_cast<size_t>(buyer.rival)]->Bids(
                                             price_, buyer.credit, present)
                                       : buyer.bid;
    if (bids) bidders.push_back(b);
  }
  GoodResult& record = good_result();
  for (size_t b : bidders) {
    const Buyer& buyer = buyers_[b];
    record.tick_bids.Add({Micros(buyer.rival >= 0 ? now : buyer.bid_at),
                          static_cast<int32_t>(price_), static_cast<uint32_t>(buyer.account)});
  }
  const AuctionPlan& plan = plan_.auctions[auction_];
  if (bidders.empty()) {
    if (price_ - plan.price_step < good().reserve) {
      Emit(kEveryone, "out_of_market " + good().id + " " + Num(good().reserve));
      record.outcome = Outcome::kUnsold;
      record.ended_us = Micros(now);
      TellBidders(std::nullopt);
      GoodDone(now);
    } else {
      price_ -= plan.price_step;
      Announce(now, ClockStep::Kind::kOffer);
    }
    return;
  }
  if (bidders.size() == 1) {
    Award(bidders[0], now);
    return;
  }
  if (collisions_ < scenario_.max_collisions) {
    ++collisions_;
    ++record.collisions;
    price_ += scenario_.collision_increment;
    Announce(now, ClockStep::Kind::kCollision);
    return;
  }
  // The good has collided as often as the market allows: the seed picks among the bidders.
  Rng rng(DeriveSeed(plan_.seed, {kTieBreakStream, static_cast<uint64_t>(auction_), good_,
                                  static_cast<uint64_t>(tie_breaks_++)}));
  Award(bidders[rng.Below(bidders.size())], now);
}

void Engine::Award(size_t winner, Nanos now) {
  Buyer& buyer = buyers_[winner];
  BuyerResult& written = account(buyer);
  GoodResult& record = good_result();
  if (price_ > buyer.credit) {
    // The winner cannot pay: fined, the sale is void and the good is offered again at the same
    // price. Fines are a penalty on the buyer's account, not taken from its credit.
    const int64_t fine = scenario_.fine_base + price_ * scenario_.fine_percent / 100;
    ++buyer.sanctions;
    ++written.sanctions;
    written.fines += fine;
    ++record.sanctions;
    Emit(kEveryone, "sanction " + buyer.name + " " + Num(fine));
    if (buyer.sanctions >= scenario_.sanctions_before_expulsion) {
      // Expelled for the rest of this auction; back with fresh credit in the next one.
      buyer.present = false;
      written.expelled = true;
      Emit(kEveryone, "expulsion " + buyer.name);
      Emit(kEveryone, BuyersLine());
    }
    Announce(now, ClockStep::Kind::kOffer);
    return;
  }
  buyer.credit -= price_;
  ++written.purchases;
  written.spend += price_;
  written.benefit += good().resale - price_;
  record.outcome = Outcome::kSold;
  record.buyer = buyer.name;
  record.price = price_;
  record.ended_us = Micros(now);
  Emit(kEveryone, "sold " + buyer.name + " " + Num(price_));
  TellBidders(winner);
  GoodDone(now);
}

void Engine::TellBidders(std::optional<size_t> winner) {
  for (size_t b = 0; b < buyers_.size(); ++b) {
    const Buyer& buyer = buyers_[b];
    if (buyer.rival < 0 || !buyer.present) continue;
    const GoodEnd end = !winner ? GoodEnd::kUnsold : *winner == b ? GoodEnd::kWon : GoodEnd::kLost;
    bidders_[static_cast<size_t>(buyer.rival)]->GoodEnded(end, price_);
  }
}

void Engine::GoodDone(Nanos now) {
  deadline_.reset();
  GoodResult& record = good_result();
  FitTo(record.clock);
  record.tick_bids.Trim(kUnusedKept * sizeof(TickBids::Row));
  ++good_;
  ++goods_done_;
  NextGoodOrRound(now);
}

void Engine::CloseMarket() {
  stage_ = Stage::kClosed;
  deadline_.reset();
  results_.completed = true;
  end_reason_ = EndReason::kCompleted;
  Emit(kEveryone, "closed_market");
  for (auto& [client, state] : clients_) {
    if (state.participant >= 0) CloseClient(client);
  }
}

void Engine::Abandon(EndReason why, const std::string& reason) {
  if (stage_ == Stage::kClosed) return;
  // The good under the hammer has an outcome of its own; what it went through (collisions, voided
  // sales) stays with it.
  if (stage_ == Stage::kRunning && deadline_) {
    good_result().outcome = Outcome::kInterrupted;
    good_result().ended_us = Micros(now_);
  }
  stage_ = Stage::kClosed;
  deadline_.reset();
  results_.ended_early = reason;
  end_reason_ = why;
}

std::optional<Nanos> Engine::NextDeadline() const {
  return stage_ == Stage::kRunning ? deadline_ : std::nullopt;
}

std::vector<Outgoing> Engine::TakeOutgoing() { return std::exchange(outgoing_, {}); }

Progress Engine::progress() const {
  Progress p;
  p.auctions = static_cast<int>(plan_.auctions.size());
  if (auctions_opened_ == 0) return p;
  const AuctionPlan& last = plan_.auctions[auctions_opened_ - 1];
  p.auction = last.number;
  p.goods_total = static_cast<int>(last.goods.size());
  // The market closed after the last good of the last auction.
  p.goods_done = auction_ == plan_.auctions.size() ? p.goods_total : goods_done_;
  return p;
}

}  // namespace market
