#include "engine/results.h"

#include <algorithm>
#include <cstdio>

namespace market {
namespace {

// A plain text table: columns padded to their widest cell, numbers aligned right.
class Table {
 public:
  explicit Table(std::vector<std::string> header, std::vector<bool> right_aligned)
      : right_(std::move(right_aligned)) {
    rows_.push_back(std::move(header));
  }
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

  std::string Render(const std::string& indent) const {
    std::vector<size_t> widths(rows_[0].size(), 0);
    for (const auto& row : rows_) {
      for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string text;
    for (const auto& row : rows_) {
      std::string line = indent;
      for (size_t c = 0; c < row.size(); ++c) {
        if (c > 0) line += "  ";
        const std::string pad(widths[c] - row[c].size(), ' ');
        line += right_[c] ? pad + row[c] : row[c] + pad;
      }
      line.erase(line.find_last_not_of(' ') + 1);
      text += line + "\n";
    }
    return text;
  }

 private:
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> right_;
};

std::string Num(int64_t value) { return std::to_string(value); }

std::string Plural(int64_t count, const char* word) {
  return Num(count) + " " + word + (count == 1 ? "" : "s");
}

std::string OutcomeText(const GoodResult& g) {
  std::string text;
  switch (g.outcome) {
    case Outcome::kPending:
      return "not offered";
    case Outcome::kSold:
      text = "sold to " + g.buyer + " at " + Num(g.price);
      break;
    case Outcome::kUnsold:
      text = "unsold";
      break;
  }
  std::vector<std::string> notes;
  if (g.collisions > 0) notes.push_back(Plural(g.collisions, "collision"));
  if (g.sanctions > 0) notes.push_back(Plural(g.sanctions, "voided sale"));
  for (size_t i = 0; i < notes.size(); ++i) text += (i == 0 ? " (" : ", ") + notes[i];
  if (!notes.empty()) text += ")";
  return text;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPending:
      return "pending";
    case Outcome::kSold:
      return "sold";
    case Outcome::kUnsold:
      return "unsold";
  }
  return "pending";
}

const char* Bool(bool value) { return value ? "true" : "false"; }

// The length of the valid UTF-8 sequence starting at text[at], or 0 if there is none.
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned min = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    min = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    min = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  unsigned code = lead & (0x7fu >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3fu);
  }
  if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

std::string Micros(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
  return text;
}

}  // namespace

ResponseStats ResponseTimes(const std::vector<BidRecord>& bids, std::string_view buyer) {
  std::vector<int64_t> times;
  for (const BidRecord& bid : bids) {
    if (bid.counted && (buyer.empty() || bid.buyer == buyer)) times.push_back(bid.response_us);
  }
  ResponseStats stats;
  stats.count = static_cast<int64_t>(times.size());
  if (times.empty()) return stats;
  std::sort(times.begin(), times.end());
  // Nearest rank: the smallest time at least the given share of the bids is not above.
  const auto rank = [&](int64_t percent) {
    const int64_t n = stats.count;
    const int64_t r = (n * percent + 99) / 100;
    return times[static_cast<size_t>(std::max<int64_t>(r, 1) - 1)];
  };
  stats.median_us = rank(50);
  stats.p99_us = rank(99);
  return stats;
}

std::string SummaryText(const Results& results) {
  std::string text = "Market session, seed " + Num(static_cast<int64_t>(results.seed)) + ": ";
  if (results.completed) {
    text += Plural(results.auctions_planned, "auction") + ", market closed\n";
  } else {
    text += "ended early in auction " + Num(static_cast<int64_t>(results.auctions.size())) +
            " of " + Num(results.auctions_planned) + ": " + results.ended_early + "\n";
  }
  for (const AuctionResult& auction : results.auctions) {
    int64_t sold = 0;
    int64_t unsold = 0;
    for (const GoodResult& g : auction.goods) {
      sold += g.outcome == Outcome::kSold;
      unsold += g.outcome == Outcome::kUnsold;
    }
    text += "\nAuction " + Num(auction.number) + ": " +
            Plural(static_cast<int64_t>(auction.goods.size()), "good") + ", " + Num(sold) +
            " sold, " + Num(unsold) + " unsold";
    const int64_t pending = static_cast<int64_t>(auction.goods.size()) - sold - unsold;
    if (pending > 0) text += ", " + Num(pending) + " not offered";
    text += "\n";
    Table goods({"round", "good", "kind", "seller", "initial", "resale", "reserve", "outcome"},
                {true, false, false, false, true, true, true, false});
    for (const GoodResult& g : auction.goods) {
      goods.Add({Num(g.round), g.id, g.kind, g.seller, Num(g.initial), Num(g.resale),
                 Num(g.reserve), OutcomeText(g)});
    }
    text += goods.Render("  ");
    Table buyers({"buyer", "bought", "spend", "benefit", "sanctions", "fines", "status"},
                 {false, true, true, true, true, true, false});
    for (const BuyerResult& b : auction.buyers) {
      std::string status = b.participant ? "agent" : "rival";
      if (b.expelled) status += ", expelled";
      if (b.left) status += ", left";
      buyers.Add({b.name, Num(b.purchases), Num(b.spend), Num(b.benefit), Num(b.sanctions),
                  Num(b.fines), status});
    }
    text += buyers.Render("  ");
  }
  if (results.ignored_total > 0) {
    text += "\nIgnored commands: " + Num(results.ignored_total) + "\n";
    for (const IgnoredLine& line : results.ignored) {
      text += "  " + line.from + ": " + JsonString(line.line) + " (" + line.reason + ")\n";
    }
    if (results.ignored_total > static_cast<int64_t>(results.ignored.size())) {
      text += "  ...\n";
    }
  }
  if (!results.participants.empty()) {
    text += "\nBuyers logged in: " + Num(static_cast<int64_t>(results.participants.size())) + "\n";
    Table table({"buyer", "bids", "counted", "response median ms", "p99 ms", "faults", "status"},
                {false, true, true, true, true, true, false});
    for (const ParticipantResult& p : results.participants) {
      const ResponseStats stats = ResponseTimes(results.bids, p.login);
      std::string status = !p.dropped.empty() ? "dropped: " + p.dropped
                           : p.left           ? "left"
                                              : "stayed";
      table.Add({p.login, Num(p.bids), Num(stats.count),
                 stats.count > 0 ? Micros(stats.median_us) : "-",
                 stats.count > 0 ? Micros(stats.p99_us) : "-", Num(p.faults), status});
    }
    text += table.Render("  ");
  }
  if (results.dropped_total > 0) {
    text += "\nConnections dropped: " + Num(results.dropped_total) + "\n";
    for (const DroppedConnection& d : results.dropped)
      text += "  " + d.from + ": " + d.reason + "\n";
    if (results.dropped_total > static_cast<int64_t>(results.dropped.size())) text += "  ...\n";
  }
  return text;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char ch = static_cast<unsigned char>(text[at]);
    const size_t length = Utf8Length(text, at);
    if (length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    ++at;
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (ch < 0x20 || ch == 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
          out += escaped;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  return out + "\"";
}

std::string ResultsJson(const Results& results) {
  std::string j = "{\n";
  j += "  \"seed\": " + std::to_string(results.seed) + ",\n";
  j += "  \"auctions_planned\": " + Num(results.auctions_planned) + ",\n";
  j += "  \"completed\": " + std::string(Bool(results.completed)) + ",\n";
  j += "  \"ended_early\": " +
       (results.completed ? std::string("null") : JsonString(results.ended_early)) + ",\n";
  j += "  \"auctions\": [";
  for (size_t a = 0; a < results.auctions.size(); ++a) {
    const AuctionResult& auction = results.auctions[a];
    j += a == 0 ? "\n" : ",\n";
    j += "    {\n      \"number\": " + Num(auction.number) +
         ",\n      \"rounds\": " + Num(auction.rounds) + ",\n      \"goods\": [";
    for (size_t i = 0; i < auction.goods.size(); ++i) {
      const GoodResult& g = auction.goods[i];
      j += i == 0 ? "\n" : ",\n";
      j += "        {\"id\": " + JsonString(g.id) + ", \"kind\": " + JsonString(g.kind) +
           ", \"seller\": " + JsonString(g.seller) + ", \"round\": " + Num(g.round) +
           ", \"initial\": " + Num(g.initial) + ", \"resale\": " + Num(g.resale) +
           ", \"reserve\": " + Num(g.reserve) + ", \"outcome\": \"" + OutcomeName(g.outcome) +
           "\", \"buyer\": " +
           (g.outcome == Outcome::kSold ? JsonString(g.buyer) : std::string("null")) +
           ", \"price\": " + (g.outcome == Outcome::kSold ? Num(g.price) : std::string("null")) +
           ", \"collisions\": " + Num(g.collisions) + ", \"sanctions\": " + Num(g.sanctions) + "}";
    }
    j += auction.goods.empty() ? "],\n" : "\n      ],\n";
    j += "      \"buyers\": [";
    for (size_t i = 0; i < auction.buyers.size(); ++i) {
      const BuyerResult& b = auction.buyers[i];
      j += i == 0 ? "\n" : ",\n";
      j += "        {\"name\": " + JsonString(b.name) +
           ", \"participant\": " + Bool(b.participant) + ", \"purchases\": " + Num(b.purchases) +
           ", \"spend\": " + Num(b.spend) + ", \"benefit\": " + Num(b.benefit) +
           ", \"sanctions\": " + Num(b.sanctions) + ", \"fines\": " + Num(b.fines) +
           ", \"expelled\": " + Bool(b.expelled) + ", \"left\": " + Bool(b.left) + "}";
    }
    j += auction.buyers.empty() ? "]\n" : "\n      ]\n";
    j += "    }";
  }
  j += results.auctions.empty() ? "],\n" : "\n  ],\n";
  j += "  \"ignored_total\": " + Num(results.ignored_total) + ",\n";
  j += "  \"ignored\": [";
  for (size_t i = 0; i < results.ignored.size(); ++i) {
    const IgnoredLine& line = results.ignored[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"from\": " + JsonString(line.from) + ", \"line\": " + JsonString(line.line) +
         ", \"reason\": " + JsonString(line.reason) + "}";
  }
  j += results.ignored.empty() ? "],\n" : "\n  ],\n";
  j += "  \"participants\": [";
  for (size_t i = 0; i < results.participants.size(); ++i) {
    const ParticipantResult& p = results.participants[i];
    const ResponseStats stats = ResponseTimes(results.bids, p.login);
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"login\": " + JsonString(p.login) + ", \"bids\": " + Num(p.bids) +
         ", \"faults\": " + Num(p.faults) + ", \"left\": " + Bool(p.left) +
         ", \"dropped\": " + (p.dropped.empty() ? std::string("null") : JsonString(p.dropped)) +
         ", \"response_us\": {\"count\": " + Num(stats.count) +
         ", \"median\": " + (stats.count > 0 ? Num(stats.median_us) : std::string("null")) +
         ", \"p99\": " + (stats.count > 0 ? Num(stats.p99_us) : std::string("null")) + "}}";
  }
  j += results.participants.empty() ? "],\n" : "\n  ],\n";
  j += "  \"bids\": [";
  for (size_t i = 0; i < results.bids.size(); ++i) {
    const BidRecord& b = results.bids[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"auction\": " + Num(b.auction) + ", \"good\": " + JsonString(b.good) +
         ", \"price\": " + Num(b.price) + ", \"buyer\": " + JsonString(b.buyer) +
         ", \"at_us\": " + Num(b.at_us) + ", \"response_us\": " + Num(b.response_us) +
         ", \"counted\": " + Bool(b.counted) + "}";
  }
  j += results.bids.empty() ? "],\n" : "\n  ],\n";
  j += "  \"dropped_total\": " + Num(results.dropped_total) + ",\n";
  j += "  \"dropped\": [";
  for (size_t i = 0; i < results.dropped.size(); ++i) {
    const DroppedConnection& d = results.dropped[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"from\": " + JsonString(d.from) + ", \"reason\": " + JsonString(d.reason) + "}";
  }
  j += results.dropped.empty() ? "]\n" : "\n  ]\n";
  j += "}\n";
  return j;
}

}  // namespace market
