#include "tournament/db/session_codec.h"

#include <sqlite3.h>

#include <utility>

#include "tournament/db/json_text.h"

namespace tournament {
namespace {

void PutUint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>(0x80 | (v & 0x7f)));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

uint64_t Zigzag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
int64_t Unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

void PutInt(std::string& out, int64_t v) { PutUint(out, Zigzag(v)); }
void PutString(std::string& out, std::string_view s) {
  PutUint(out, s.size());
  out.append(s);
}
template <typename T>
void PutMaybe(std::string& out, const std::optional<T>& v) {
  PutUint(out, v ? Zigzag(static_cast<int64_t>(*v)) + 1 : 0);
}

const char* const kOutcomes[] = {"pending", "sold", "unsold", "interrupted"};

uint64_t OutcomeCode(std::string_view outcome) {
  for (uint64_t i = 0; i < 4; ++i) {
    if (outcome == kOutcomes[i]) return i;
  }
  throw CodecError("unknown outcome " + std::string(outcome));
}

// Reads a column, every read checked against its end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  uint64_t Uint() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ >= bytes_.size()) throw CodecError("a packed column ends early");
      const auto b = static_cast<unsigned char>(bytes_[at_++]);
      v |= static_cast<uint64_t>(b & 0x7f) << shift;
      if ((b & 0x80) == 0) return v;
    }
    throw CodecError("a packed column holds an overlong number");
  }
  int64_t Int() { return Unzigzag(Uint()); }
  std::optional<int64_t> Maybe() {
    const uint64_t v = Uint();
    if (v == 0) return std::nullopt;
    return Unzigzag(v - 1);
  }
  // A count of items each at least one byte long: never more than the bytes left.
  uint64_t Count() {
    const uint64_t n = Uint();
    if (n > bytes_.size() - at_) throw CodecError("a packed column counts more than it holds");
    return n;
  }
  std::string_view String() {
    const uint64_t n = Uint();
    if (n > bytes_.size() - at_) throw CodecError("a packed column ends early");
    const std::string_view s = bytes_.substr(at_, n);
    at_ += n;
    return s;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

void End(const Reader& in) {
  if (!in.done()) throw CodecError("a packed column holds more than it says");
}

template <std::string (*Decode)(std::string_view)>
void SqlFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const void* bytes = sqlite3_value_blob(args[0]);
  const std::string_view column(static_cast<const char*>(bytes),
                                static_cast<size_t>(sqlite3_value_bytes(args[0])));
  try {
    const std::string json = Decode(column);
    sqlite3_result_text64(context, json.data(), json.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } catch (const std::exception& e) {  // CodecError, or no memory
    sqlite3_result_error(context, e.what(), -1);
  }
}

}  // namespace

GoodsEncoder::GoodsEncoder(std::string buffer, std::string scratch)
    : out_(std::move(buffer)), body_(std::move(scratch)) {
  out_.clear();
  body_.clear();
}

uint64_t GoodsEncoder::Index(std::string_view buyer) {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == buyer) return i;
  }
  names_.emplace_back(buyer);
  return names_.size() - 1;
}

void GoodsEncoder::EndGood() {
  if (!open_) return;
  open_ = false;
  bool in_order = true;
  for (size_t i = 0; i < values_.size(); ++i) in_order = in_order && values_[i].first == i;
  PutUint(body_, 2 * values_.size() + (in_order ? 0 : 1));
  for (const auto& [index, value] : values_) {
    if (!in_order) PutUint(body_, index);
    PutInt(body_, value);
  }
  values_.clear();
}

void GoodsEncoder::Add(std::string_view outcome, std::string_view buyer,
                       std::optional<int64_t> price, int collisions, int sanctions) {
  EndGood();
  open_ = true;
  ++goods_;
  PutUint(body_, OutcomeCode(outcome));
  PutUint(body_, buyer.empty() ? 0 : Index(buyer) + 1);
  PutMaybe(body_, price);
  PutInt(body_, collisions);
  PutInt(body_, sanctions);
}

void GoodsEncoder::Value(std::string_view buyer, int64_t value) {
  values_.emplace_back(Index(buyer), value);
}

std::string GoodsEncoder::Take(std::string* scratch) {
  EndGood();
  out_.clear();
  PutUint(out_, names_.size());
  for (const std::string& name : names_) PutString(out_, name);
  PutUint(out_, static_cast<uint64_t>(goods_));
  out_.append(body_);
  if (scratch != nullptr) *scratch = std::move(body_);
  names_.clear();
  goods_ = 0;
  return std::move(out_);
}

std::string EncodeEntries(const std::vector<ParticipantRow>& rows, std::string buffer) {
  std::string& out = buffer;
  out.clear();
  PutUint(out, rows.size());
  for (const ParticipantRow& x : rows) {
    for (int64_t v : {int64_t{x.purchases}, x.spend, x.benefit, x.fines, x.surplus,
                      int64_t{x.sanctions}, int64_t{x.expulsions}}) {
      PutInt(out, v);
    }
    const bool agent = x.logged_in || x.bids != 0 || x.faults != 0 || x.left ||
                       !x.dropped.empty() || x.response_count != 0 || x.response_median_us ||
                       x.response_p99_us || !x.status.empty() || x.exit_code || x.exit_signal ||
                       !x.stderr_tail.empty() || x.late_ticks;
    PutUint(out, agent ? 1 : 0);
    if (!agent) continue;
    PutUint(out, x.logged_in ? 1 : 0);
    PutInt(out, x.bids);
    PutInt(out, x.faults);
    PutUint(out, x.left ? 1 : 0);
    PutString(out, x.dropped);
    PutInt(out, x.response_count);
    PutMaybe(out, x.response_median_us);
    PutMaybe(out, x.response_p99_us);
    PutString(out, x.status);
    PutMaybe(out, x.exit_code);
    PutMaybe(out, x.exit_signal);
    PutString(out, x.stderr_tail);
    PutMaybe(out, x.late_ticks);
  }
  return buffer;
}

std::string GoodsJson(std::string_view column) {
  Reader in(column);
  std::vector<std::string_view> names(in.Count());
  for (std::string_view& name : names) name = in.String();
  auto name = [&](uint64_t index) {
    if (index >= names.size()) throw CodecError("a packed good names no buyer of the session");
    return names[index];
  };
  JsonText out;
  out.OpenArray();
  for (uint64_t n = in.Count(); n > 0; --n) {
    const uint64_t outcome = in.Uint();
    if (outcome >= 4) throw CodecError("a packed good holds an unknown outcome");
    out.OpenArray().String(kOutcomes[outcome]);
    const uint64_t buyer = in.Uint();
    if (buyer == 0) {
      out.Null();
    } else {
      out.String(name(buyer - 1));
    }
    out.Maybe(in.Maybe()).Int(in.Int()).Int(in.Int()).OpenObject();
    const uint64_t values = in.Uint();
    const bool pairs = (values & 1) != 0;
    for (uint64_t i = 0; i < values / 2; ++i) {
      out.Key(name(pairs ? in.Uint() : i)).Int(in.Int());
    }
    out.CloseObject().CloseArray();
  }
  End(in);
  out.CloseArray();
  return out.Take();
}

std::string EntriesJson(std::string_view column) {
  Reader in(column);
  JsonText out;
  out.OpenArray();
  for (uint64_t n = in.Count(); n > 0; --n) {
    out.OpenArray();
    for (int i = 0; i < 7; ++i) out.Int(in.Int());
    if (in.Uint() == 0) {
      out.Int(0).Int(0).Int(0).Int(0).String("").Int(0).Null().Null().String("").Null().Null();
      out.String("").Null();
    } else {
      out.Int(in.Uint() != 0 ? 1 : 0).Int(in.Int()).Int(in.Int()).Int(in.Uint() != 0 ? 1 : 0);
      out.String(in.String()).Int(in.Int()).Maybe(in.Maybe()).Maybe(in.Maybe());
      out.String(in.String()).Maybe(in.Maybe()).Maybe(in.Maybe()).String(in.String());
      out.Maybe(in.Maybe());
    }
    out.CloseArray();
  }
  End(in);
  out.CloseArray();
  return out.Take();
}

void RegisterCodecFunctions(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  sqlite3_create_function_v2(db, "session_goods", 1, kFlags, nullptr, SqlFunction<GoodsJson>,
                             nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "session_entries", 1, kFlags, nullptr, SqlFunction<EntriesJson>,
                             nullptr, nullptr, nullptr);
}

}  // namespace tournament
