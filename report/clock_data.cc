#include "report/clock_data.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "report/price_clock_chart.h"

namespace report {
namespace {

// JSON text of a string that is safe inside a script element.
void AppendString(std::string& out, std::string_view text) {
  const std::string dumped = nlohmann::json(std::string(text))
                                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  for (char c : dumped) {
    switch (c) {
      case '<':
        out += "\\u003c";
        break;
      case '>':
        out += "\\u003e";
        break;
      case '&':
        out += "\\u0026";
        break;
      default:
        out += c;
    }
  }
}

void AppendNumber(std::string& out, double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.0f", value);
  out += text;
}
void AppendNumber(std::string& out, int64_t value) { out += std::to_string(value); }

// value - base, in doubles: the difference of two arbitrary integers may not fit in one.
double Minus(int64_t value, int64_t base) {
  return static_cast<double>(value) - static_cast<double>(base);
}

void AppendKey(std::string& out, std::string_view key) {
  out += ",\"";
  out += key;
  out += "\":";
}

// The group's buyers as a list of indices, or as a base64 bitmap over the table when that is
// shorter and the indices rise (a bitmap reads back in rising order).
void AppendBuyers(std::string& out, const std::vector<size_t>& indices, size_t table_size) {
  std::vector<uint8_t> bits((table_size + 7) / 8, 0);
  bool rising = true;
  size_t list_chars = 2;
  for (size_t k = 0; k < indices.size(); ++k) {
    const size_t i = indices[k];
    if (k > 0 && i <= indices[k - 1]) rising = false;
    bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    list_chars += std::to_string(i).size() + 1;
  }
  const size_t bitmap_chars = (bits.size() + 2) / 3 * 4 + 2;
  if (!rising || list_chars <= bitmap_chars) {
    out += '[';
    for (size_t k = 0; k < indices.size(); ++k) {
      if (k > 0) out += ',';
      out += std::to_string(indices[k]);
    }
    out += ']';
    return;
  }
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out += '"';
  for (size_t i = 0; i < bits.size(); i += 3) {
    const uint32_t b0 = bits[i];
    const uint32_t b1 = i + 1 < bits.size() ? bits[i + 1] : 0;
    const uint32_t b2 = i + 2 < bits.size() ? bits[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    out += kDigits[(triple >> 18) & 63];
    out += kDigits[(triple >> 12) & 63];
    out += i + 1 < bits.size() ? kDigits[(triple >> 6) & 63] : '=';
    out += i + 2 < bits.size() ? kDigits[triple & 63] : '=';
  }
  out += '"';
}

void AppendClock(std::string& out, const SessionGood& good, std::map<std::string, size_t>& table,
                 std::vector<std::string>& names) {
  const int64_t first = good.clock.front().at_us;
  AppendKey(out, "clock");
  out += '[';
  for (size_t i = 0; i < good.clock.size(); ++i) {
    const ClockPoint& p = good.clock[i];
    if (i == 0) {
      AppendNumber(out, p.at_us);
      out += ',';
      AppendNumber(out, p.price);
    } else {
      out += ',';
      AppendNumber(out, Minus(p.at_us, good.clock[i - 1].at_us));
      out += ',';
      AppendNumber(out, Minus(p.price, good.clock[i - 1].price));
    }
  }
  out += ']';
  AppendKey(out, "rises");
  out += '[';
  bool any = false;
  for (size_t i = 0; i < good.clock.size(); ++i) {
    if (!good.clock[i].collision) continue;
    if (any) out += ',';
    out += std::to_string(i);
    any = true;
  }
  out += ']';
  if (good.ended_us) {
    AppendKey(out, "end");
    AppendNumber(out, Minus(*good.ended_us, first));
  }
  AppendKey(out, "bids");
  out += '[';
  // First the table's indices of every bid, so that bitmaps span the whole table.
  std::vector<size_t> index(good.tick_bids.size());
  for (size_t i = 0; i < good.tick_bids.size(); ++i) {
    const std::string& buyer = good.tick_bids[i].buyer;
    const auto [it, added] = table.try_emplace(buyer, names.size());
    if (added) names.push_back(buyer);
    index[i] = it->second;
  }
  int64_t last_at = first;
  for (size_t i = 0; i < good.tick_bids.size();) {
    const SessionBid& head = good.tick_bids[i];
    std::vector<size_t> group;
    size_t j = i;
    for (; j < good.tick_bids.size() && good.tick_bids[j].at_us == head.at_us &&
           good.tick_bids[j].price == head.price;
         ++j) {
      group.push_back(index[j]);
    }
    if (i > 0) out += ',';
    out += '[';
    AppendNumber(out, Minus(head.at_us, last_at));
    out += ',';
    AppendNumber(out, head.price);
    out += ',';
    AppendBuyers(out, group, names.size());
    out += ']';
    last_at = head.at_us;
    i = j;
  }
  out += ']';
}

}  // namespace

std::string ClockDataJson(const SessionData& data, const std::map<std::string, size_t>& styles) {
  // The table: the auctions' buyers in the order they list them, which is the order in which
  // the results list the bids of one tick, so that those read back from a bitmap in order.
  std::map<std::string, size_t> table;
  std::vector<std::string> names;
  for (const SessionAuction& auction : data.auctions) {
    for (const SessionBuyer& buyer : auction.buyers) {
      if (table.try_emplace(buyer.name, names.size()).second) names.push_back(buyer.name);
    }
  }
  std::string goods;
  for (const SessionAuction& auction : data.auctions) {
    for (const SessionGood& good : auction.goods) {
      goods += goods.empty() ? "[\n{" : ",\n{";
      goods += "\"a\":" + std::to_string(auction.number);
      AppendKey(goods, "id");
      AppendString(goods, good.id);
      AppendKey(goods, "kind");
      AppendString(goods, good.kind);
      AppendKey(goods, "seller");
      AppendString(goods, good.seller);
      AppendKey(goods, "round");
      goods += std::to_string(good.round);
      AppendKey(goods, "initial");
      AppendNumber(goods, good.initial);
      AppendKey(goods, "reserve");
      AppendNumber(goods, good.reserve);
      AppendKey(goods, "outcome");
      AppendString(goods, good.outcome);
      if (good.outcome == "sold") {
        AppendKey(goods, "buyer");
        AppendString(goods, good.buyer);
        AppendKey(goods, "price");
        AppendNumber(goods, good.price);
      }
      AppendKey(goods, "caption");
      AppendString(goods, GoodCaption(good));
      if (good.has_clock && !good.clock.empty()) {
        AppendClock(goods, good, table, names);
      } else {
        AppendKey(goods, "svg");
        AppendString(goods, PriceClockChart(good, styles));
      }
      goods += '}';
    }
  }
  goods += goods.empty() ? "[]" : "\n]";
  std::string out = "{\"buyers\":[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ',';
    AppendString(out, names[i]);
  }
  out += "],\n\"styles\":[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ',';
    const auto it = styles.find(names[i]);
    out += std::to_string(it == styles.end() ? styles.size() : it->second);
  }
  out += "],\n\"goods\":" + goods + "}\n";
  return out;
}

}  // namespace report
