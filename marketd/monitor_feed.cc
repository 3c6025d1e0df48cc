#include "marketd/monitor_feed.h"

#include <charconv>
#include <sstream>

namespace marketd {
namespace {

using nlohmann::json;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A number as a number; anything else as the text it is.
json Number(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) return value;
  return text;
}

int64_t Whole(const std::string& text) {
  const json value = Number(text);
  return value.is_number_integer() ? value.get<int64_t>() : 0;
}

// Outside text (logins) may be any bytes: invalid UTF-8 is replaced rather than thrown on.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string MonitorFeed::Record(json event) {
  event["seq"] = ++seq_;
  std::string text = Dump(event);
  recent_.push_back(text);
  if (recent_.size() > kRecentEvents) recent_.pop_front();
  return text;
}

std::string MonitorFeed::OnBroadcast(const std::string& line) {
  const std::vector<std::string> w = Words(line);
  const std::string type = w.empty() ? "" : w[0];
  const size_t n = w.size();
  json event{{"type", type}};
  if (type == "open_auction" && n == 2) {
    auction_ = Whole(w[1]);
    round_ = 0;
    good_.clear();
    event["auction"] = auction_;
  } else if ((type == "open_round" || type == "end_round") && n == 2) {
    if (type == "open_round") round_ = Whole(w[1]);
    event["round"] = Whole(w[1]);
  } else if (type == "end_auction" && n == 2) {
    good_.clear();
    event["auction"] = Whole(w[1]);
  } else if (type == "buyers") {
    for (auto& [login, buyer] : buyers_) buyer.present = false;
    json list = json::array();
    for (size_t i = 1; i < n; ++i) {
      if (buyers_.count(w[i]) == 0) order_.push_back(w[i]);
      buyers_[w[i]].present = true;
      list.push_back(w[i]);
    }
    event["buyers"] = list;
  } else if (type == "goods") {
    json goods = json::array();
    for (size_t i = 1; i + 4 < n; i += 5) {
      goods.push_back({{"id", w[i]},
                       {"kind", w[i + 1]},
                       {"seller", w[i + 2]},
                       {"initial", Number(w[i + 3])},
                       {"resale", Number(w[i + 4])}});
    }
    event["goods"] = goods;
  } else if (type == "good" && n == 6) {
    good_ = w[1];
    good_kind_ = w[2];
    good_seller_ = w[3];
    initial_ = Whole(w[4]);
    price_ = initial_;
    event.update({{"good", w[1]},
                  {"kind", w[2]},
                  {"seller", w[3]},
                  {"initial", Number(w[4])},
                  {"resale", Number(w[5])}});
  } else if ((type == "offer" || type == "collision") && n == 3) {
    good_ = w[1];
    price_ = Whole(w[2]);
    ++offers_;
    event.update({{"good", w[1]}, {"price", Number(w[2])}});
  } else if (type == "out_of_market" && n == 3) {
    good_.clear();
    event.update({{"good", w[1]}, {"reserve", Number(w[2])}});
  } else if (type == "sold" && n == 3) {
    if (buyers_.count(w[1]) == 0) order_.push_back(w[1]);
    buyers_[w[1]].bought.push_back({good_, Whole(w[2])});
    event.update({{"buyer", w[1]}, {"good", good_}, {"price", Number(w[2])}});
    good_.clear();
  } else if (type == "sanction" && n == 3) {
    event.update({{"buyer", w[1]}, {"fine", Number(w[2])}});
  } else if (type == "expulsion" && n == 2) {
    event["buyer"] = w[1];
  } else if (type == "closed_market") {
    closed_ = true;
    good_.clear();
  } else {
    event = {{"type", "line"}, {"line", line}};
  }
  return Record(std::move(event));
}

std::string MonitorFeed::OnBid(const std::string& login) {
  json event{{"type", "bid"}, {"buyer", login}};
  if (!good_.empty()) event.update({{"good", good_}, {"price", price_}});
  return Record(std::move(event));
}

std::string MonitorFeed::OnFinished() {
  finished_ = true;
  return Record({{"type", "end"}});
}

std::string MonitorFeed::State() const {
  json buyers = json::array();
  for (const std::string& login : order_) {
    const Buyer& buyer = buyers_.at(login);
    json bought = json::array();
    for (const Purchase& p : buyer.bought) bought.push_back({{"good", p.good}, {"price", p.price}});
    buyers.push_back({{"login", login}, {"present", buyer.present}, {"bought", bought}});
  }
  json recent = json::array();
  for (const std::string& text : recent_) recent.push_back(json::parse(text));
  json state{{"seq", seq_},       {"auction", auction_}, {"round", round_},
             {"offers", offers_}, {"closed", closed_},   {"finished", finished_},
             {"buyers", buyers},  {"recent", recent},    {"good", nullptr}};
  if (!good_.empty()) {
    state["good"] = {{"id", good_},
                     {"kind", good_kind_},
                     {"seller", good_seller_},
                     {"initial", initial_},
                     {"price", price_}};
  }
  return Dump(state);
}

}  // namespace marketd
