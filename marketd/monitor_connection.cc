#include "marketd/monitor_connection.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include <boost/beast/http.hpp>

namespace marketd {
namespace {

namespace http = boost::beast::http;

// The parser's fields are allocated from a budget of kFieldsLimit bytes: a header within
// kHeaderLimit can still hold thousands of tiny fields, each costing more than its bytes.
struct Budget {
  size_t used = 0;
};

class OverBudget : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "request fields over their budget"; }
};

template <typename T>
class BudgetAllocator {
 public:
  using value_type = T;

  explicit BudgetAllocator(Budget* budget) noexcept : budget_(budget) {}
  template <typename U>
  BudgetAllocator(const BudgetAllocator<U>& other) noexcept : budget_(other.budget()) {}

  T* allocate(size_t n) {
    if (n > (MonitorConnection::kFieldsLimit - budget_->used) / sizeof(T)) throw OverBudget();
    T* p = std::allocator<T>().allocate(n);
    budget_->used += n * sizeof(T);
    return p;
  }
  void deallocate(T* p, size_t n) noexcept {
    budget_->used -= n * sizeof(T);
    std::allocator<T>().deallocate(p, n);
  }
  Budget* budget() const { return budget_; }

  friend bool operator==(const BudgetAllocator& a, const BudgetAllocator& b) {
    return a.budget_ == b.budget_;
  }
  friend bool operator!=(const BudgetAllocator& a, const BudgetAllocator& b) { return !(a == b); }

 private:
  Budget* budget_;
};

using Fields = http::basic_fields<BudgetAllocator<char>>;
using Header = http::request_header<Fields>;

}  // namespace

class MonitorConnection::Parser {
 public:
  Parser() : parser(Header(BudgetAllocator<char>(&budget))) {
    parser.header_limit(static_cast<uint32_t>(kHeaderLimit));
    // No body is read: a request announcing one is refused after its header, whatever its length.
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  }

  Budget budget;  // before the parser: it outlives the parser's fields
  http::request_parser<http::empty_body, BudgetAllocator<char>> parser;
};

MonitorConnection::MonitorConnection(Router router)
    : router_(std::move(router)), parser_(std::make_unique<Parser>()) {}

MonitorConnection::~MonitorConnection() = default;

size_t MonitorConnection::held() const {
  return pending_.capacity() + (parser_ ? parser_->budget.used : 0);
}

void MonitorConnection::Received(std::string_view bytes) {
  switch (state_) {
    case State::kReading:
      break;
    case State::kAnswered:
      drained_ += bytes.size();
      if (drained_ > kDrainLimit) state_ = State::kClosed;
      return;
    case State::kStreaming:
    case State::kClosed:
      return;
  }
  try {
    Parse(bytes);
  } catch (const OverBudget&) {
    Answer(431, "text/plain", "headers too large\n");
  } catch (...) {
    faulted_ = true;
    state_ = State::kClosed;
  }
  if (state_ != State::kReading) {
    // The request is decided: nothing of it is kept.
    parser_.reset();
    std::vector<char>().swap(pending_);
  }
}

void MonitorConnection::Ended() {
  if (state_ == State::kReading || state_ == State::kAnswered) state_ = State::kClosed;
  parser_.reset();
  std::vector<char>().swap(pending_);
}

void MonitorConnection::Parse(std::string_view bytes) {
  // The header so far never passes kHeaderLimit: bytes past it are not taken in.
  if (pending_.capacity() < kHeaderLimit) pending_.reserve(kHeaderLimit);
  const size_t take = std::min(bytes.size(), kHeaderLimit - pending_.size());
  pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(take));
  auto& parser = parser_->parser;
  boost::beast::error_code ec;
  const size_t used = parser.put(boost::asio::buffer(pending_.data(), pending_.size()), ec);
  if (ec == http::error::need_more) {
    if (pending_.size() >= kHeaderLimit) Answer(431, "text/plain", "headers too large\n");
    return;  // the header is not complete yet
  }
  if (ec == http::error::header_limit) {
    Answer(431, "text/plain", "headers too large\n");
    return;
  }
  if (ec || !parser.is_header_done()) {
    Answer(400, "text/plain", "bad request\n");
    return;
  }
  // The request's header is complete: what follows it is dropped, never parsed.
  drained_ = pending_.size() - used + (bytes.size() - take);
  const Header& request = parser.get();
  if (request.method() != http::verb::get) {
    Answer(405, "text/plain", "only GET\n", /*allow=*/true);
    return;
  }
  if (parser.chunked() || request.count(http::field::transfer_encoding) > 0 ||
      parser.content_length().value_or(0) > 0) {
    Answer(413, "text/plain", "the monitor takes no request body\n");
    return;
  }
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));
  MonitorReply reply = router_(target);
  if (reply.viewer) {
    viewer_ = reply.viewer;
    state_ = State::kStreaming;
    return;
  }
  Answer(reply.status, reply.type, reply.body);
}

void MonitorConnection::Answer(int status, const std::string& type, const std::string& body,
                               bool allow) {
  answer_ = MonitorAnswer(status, type, body, allow);
  state_ = State::kAnswered;
}

std::string MonitorAnswer(int status, const std::string& type, const std::string& body,
                          bool allow_get) {
  const auto reason = http::obsolete_reason(http::int_to_status(static_cast<unsigned>(status)));
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " ";
  answer.append(reason.data(), reason.size());
  answer += "\r\nContent-Type: " + type + "\r\nCache-Control: no-store\r\n";
  if (allow_get) answer += "Allow: GET\r\n";
  answer += "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  answer += body;
  return answer;
}

}  // namespace marketd
