#include "bench/market_stream.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "buyer/bidding/decision.h"
#include "buyer/link/commands.h"
#include "buyer/market/tables.h"
#include "engine/good.h"
#include "tests/support/agent_model.h"

namespace bench {
namespace {

// The agent's number of auctions and login.
constexpr int kAuctions = MAX_AUCTIONS;
constexpr const char* kAgent = agent_login;

using market::Good;

// splitmix64: fixed output for a fixed seed on every platform, unlike the standard distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  int Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  // True with the given chance in percent.
  bool Percent(int chance) { return Between(0, 99) < chance; }

 private:
  uint64_t state_;
};

// Writes messages and keeps a model of the agent in step with them.
class StreamWriter {
 public:
  explicit StreamWriter(GeneratedStream* out) : out_(out) {}

  void Accept() { Message("accept"); }
  void OpenAuction(int number) { Message("open_auction " + std::to_string(number)); }
  void OpenRound(int number) {
    Message("open_round " + std::to_string(number));
    ++out_->open_rounds;
  }

  void GoodsList(const std::vector<Good>& goods) {
    std::string text = "goods";
    for (const Good& good : goods) {
      text += ' ';
      text += Entry(good);
    }
    Message(text);
  }

  void BuyersList(const std::vector<std::string>& names) {
    std::string text = "buyers";
    for (const std::string& name : names) {
      text += ' ';
      text += name;
    }
    Message(text);
  }

  void AnnounceGood(const Good& good) { Message("good " + Entry(good)); }

  // True when the agent bids on this price.
  bool Offer(const std::string& id, int32_t price) {
    return Message("offer " + id + " " + std::to_string(price));
  }
  bool Collision(const std::string& id, int32_t price) {
    return Message("collision " + id + " " + std::to_string(price));
  }

  void Sold(const std::string& buyer, int32_t price) {
    Message("sold " + buyer + " " + std::to_string(price));
  }
  void Sanction(const std::string& buyer, int32_t amount) {
    Message("sanction " + buyer + " " + std::to_string(amount));
  }
  void Expulsion(const std::string& buyer) { Message("expulsion " + buyer); }
  void OutOfMarket(const std::string& id, int32_t number) {
    Message("out_of_market " + id + " " + std::to_string(number));
  }
  void EndRound(int number) { Message("end_round " + std::to_string(number)); }
  void EndAuction(int number) { Message("end_auction " + std::to_string(number)); }
  void ClosedMarket() { Message("closed_market"); }

  // True when the agent's last bid is still standing (it bid and no message has cleared it).
  bool AgentBidStands() const { return agent_.BidStands(); }
  size_t Size() const { return out_->bytes.size(); }

 private:
  static std::string Entry(const Good& good) {
    return good.id + " " + good.kind + " " + good.seller + " " + std::to_string(good.initial) +
           " " + std::to_string(good.resale);
  }

  // Appends one message; true when the agent answers it with a bid, whose offset is recorded.
  bool Message(const std::string& text) {
    out_->bytes += text;
    out_->bytes += '\n';
    ++out_->messages;
    const bool bid = agent_.Receive(text);
    if (bid) out_->bid_offsets.push_back(out_->bytes.size());
    return bid;
  }

  GeneratedStream* out_;
  test_support::AgentModel agent_;
};

const char* const kKinds[] = {"wine", "cheese", "tea", "silk", "spice", "amber", "coffee", "salt"};

std::string TraderName(int n) {
  char name[16];
  std::snprintf(name, sizeof name, "trader%03d", n % 1000);
  return name;
}

std::string GoodId(int64_t n) {
  char id[16];
  std::snprintf(id, sizeof id, "g%08lld", static_cast<long long>(n % 100000000));
  return id;
}

// One good under the hammer: descending offers until someone buys it or it leaves the market.
void SellGood(StreamWriter& w, Random& random, const Good& good,
              const std::vector<std::string>& others, const SessionShape& shape) {
  w.AnnounceGood(good);
  const int32_t step = random.Between(25, 100);
  const int offers = random.Between(shape.min_offers, shape.max_offers);
  // Another buyer takes the good at this offer, unless the agent's bid comes first.
  const int taken_at = random.Percent(45) ? random.Between(shape.min_offers, offers) : offers + 1;
  int32_t price = static_cast<int32_t>(good.initial);
  for (int k = 1; k <= offers && price > step; ++k) {
    price -= step;
    const std::string& other =
        others[static_cast<size_t>(random.Between(0, static_cast<int>(others.size()) - 1))];
    if (w.Offer(good.id, price)) {
      // The agent bid. Sometimes another bid came at the same price and the price is offered
      // again; the agent bids once more if its rule still holds.
      if (random.Percent(12)) w.Collision(good.id, price);
      bool agent_wins = w.AgentBidStands() && random.Percent(70);
      w.Sold(agent_wins ? std::string(kAgent) : other, price);
      return;
    }
    if (k == taken_at) {
      if (random.Percent(15)) w.Collision(good.id, price);
      w.Sold(w.AgentBidStands() ? std::string(kAgent) : other, price);
      if (random.Percent(6)) w.Sanction(other, random.Between(50, 500));
      return;
    }
  }
  w.OutOfMarket(good.id, random.Between(1, 9));
}

}  // namespace

GeneratedStream GenerateSessions(const SessionShape& shape) {
  GeneratedStream out;
  out.bytes.reserve(shape.target_bytes + (1u << 16));
  StreamWriter w(&out);
  Random random(shape.seed);
  int64_t next_good = 0;
  w.Accept();
  for (int64_t session = 0; w.Size() < shape.target_bytes; ++session) {
    const int number = static_cast<int>(session % kAuctions) + 1;
    w.OpenAuction(number);
    std::vector<std::string> buyers = {kAgent};
    std::vector<std::string> others;
    const int first_trader = random.Between(0, 900);
    for (int b = 1; b < shape.buyers_per_auction; ++b) {
      others.push_back(TraderName(first_trader + b));
      buyers.push_back(others.back());
    }
    std::vector<Good> goods;
    for (int g = 0; g < shape.goods_per_auction; ++g) {
      Good good;
      good.id = GoodId(next_good++);
      good.kind = kKinds[random.Between(0, 7)];
      good.seller = others[static_cast<size_t>(random.Between(0, shape.buyers_per_auction - 2))];
      good.resale = random.Between(1200, 3200);
      good.initial = BID_PRICE_CAP + random.Between(5, 35) * 60;
      goods.push_back(good);
    }
    w.GoodsList(goods);
    w.BuyersList(buyers);
    const int rounds = random.Between(shape.min_rounds, shape.max_rounds);
    for (int r = 1; r <= rounds; ++r) {
      w.OpenRound(r);
      if (r > 1) {
        if (random.Percent(10) && others.size() > 1) {
          w.Expulsion(others.back());
          others.pop_back();
          buyers.pop_back();
        }
        w.BuyersList(buyers);
      }
      for (size_t g = static_cast<size_t>(r - 1); g < goods.size();
           g += static_cast<size_t>(rounds)) {
        SellGood(w, random, goods[g], others, shape);
      }
      w.EndRound(r);
    }
    w.EndAuction(number);
  }
  w.ClosedMarket();
  return out;
}

GeneratedStream GenerateTraceStream(int goods, int buyers, int rounds, uint64_t seed) {
  GeneratedStream out;
  StreamWriter w(&out);
  Random random(seed);
  w.Accept();
  int64_t next_good = 0;
  for (int number = 1; number <= kAuctions; ++number) {
    w.OpenAuction(number);
    std::vector<std::string> names = {kAgent};
    for (int b = 1; b < buyers; ++b) names.push_back(TraderName(b));
    std::vector<Good> list;
    for (int g = 0; g < goods; ++g) {
      Good good;
      good.id = GoodId(next_good++);
      good.kind = kKinds[random.Between(0, 7)];
      good.seller = names[static_cast<size_t>(random.Between(1, buyers - 1))];
      good.resale = random.Between(1200, 3200);
      good.initial = random.Between(2000, 4000);
      list.push_back(good);
    }
    w.GoodsList(list);
    w.BuyersList(names);
    for (const Good& good : list) {
      w.AnnounceGood(good);
      if (random.Percent(85)) {
        w.Sold(names[static_cast<size_t>(random.Between(1, buyers - 1))],
               random.Between(900, 2500));
      } else {
        w.OutOfMarket(good.id, random.Between(1, 9));
      }
    }
  }
  for (int r = 1; r <= rounds; ++r) w.OpenRound(r);
  w.EndAuction(kAuctions);
  w.ClosedMarket();
  return out;
}

}  // namespace bench
