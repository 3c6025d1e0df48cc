#include "tests/support/agent_model.h"

#include <charconv>
#include <vector>

#include "buyer/bidding/decision.h"
#include "buyer/link/commands.h"

namespace test_support {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

// A whole number as the agent reads it; 0 when the word is none.
int32_t Number(std::string_view word) {
  int32_t value = 0;
  std::from_chars(word.data(), word.data() + word.size(), value);
  return value;
}

}  // namespace

AgentModel::AgentModel() {
  credit_.fill(INITIAL_CREDIT);
  count_.fill(0);
}

void AgentModel::ClearGood() {
  good_ = -1;
  price_ = -1;
}

bool AgentModel::Receive(std::string_view line) {
  Apply(line);
  // The rule runs after every message, on an offered price at most once.
  const bool bid =
      good_ >= 0 && price_ != -1 && HasRow() && good_ < MAX_GOODS && i_can_bid_ &&
      WouldBid(price_, credit_[Index()], slots_[Index()][static_cast<size_t>(good_)].resale);
  if (bid) i_bid_ = true;
  i_can_bid_ = false;
  return bid;
}

void AgentModel::Apply(std::string_view line) {
  const std::vector<std::string_view> w = Words(line);
  if (w.empty()) return;
  const std::string_view tag = w[0];
  if (tag == "open_auction" && w.size() == 2) {
    auction_ = Number(w[1]) - 1;
    if (HasRow()) {
      count_[Index()] = 0;
      credit_[Index()] = INITIAL_CREDIT;
    }
    ClearGood();
    i_bid_ = false;
  } else if (tag == "open_round") {
    ClearGood();
    i_bid_ = false;
    i_can_bid_ = false;
  } else if (tag == "goods") {
    // Entries of five words: id kind seller initial resale. A full table takes no more.
    for (size_t i = 1; i + 4 < w.size() && HasRow() && count_[Index()] < MAX_GOODS; i += 5) {
      Slot& slot = slots_[Index()][static_cast<size_t>(count_[Index()]++)];
      slot.id = std::string(w[i]);
      slot.initial = Number(w[i + 3]);
      slot.resale = Number(w[i + 4]);
    }
  } else if (tag == "good" && w.size() >= 2) {
    if (HasRow()) {
      for (int i = 0; i < count_[Index()]; ++i) {
        if (slots_[Index()][static_cast<size_t>(i)].id == w[1]) {
          good_ = i;
          break;
        }
      }
      if (good_ >= 0) price_ = slots_[Index()][static_cast<size_t>(good_)].initial;
    }
  } else if ((tag == "offer" || tag == "collision") && w.size() == 3) {
    if (tag == "collision") i_bid_ = false;
    price_ = Number(w[2]);
    i_can_bid_ = true;
  } else if (tag == "sold" && w.size() == 3) {
    if (i_bid_ && w[1] == agent_login && HasRow()) {
      credit_[Index()] = SaturatingSub(credit_[Index()], Number(w[2]));
    }
    i_bid_ = false;
    ClearGood();
  } else if (tag == "out_of_market" || tag == "end_round") {
    ClearGood();
  } else if (tag == "end_auction") {
    ClearGood();
    i_bid_ = false;
  }
}

}  // namespace test_support
