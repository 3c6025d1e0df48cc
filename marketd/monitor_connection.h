// One live-monitor HTTP connection, apart from its socket: the bytes received go in, one answer or
// the start of an event stream comes out, or the connection is to be closed. It does no I/O and
// keeps no time; the server's socket code feeds it and carries out what it decides (write the
// answer, then read and drop what follows; start the stream; close), and tells it when the request
// deadline passes.
//
// What a caller may rely on:
// - A request is its header only. A header of more than kHeaderLimit bytes, or whose parsed fields
//   would take more than kFieldsLimit bytes, is answered 431; a request with a body (any
//   Transfer-Encoding, or a Content-Length above 0) is answered 413 as soon as its header is
//   complete, none of its body read; a method other than GET 405 (with Allow: GET); anything
//   unparsable 400. A well-formed GET goes to the router, which gives the answer or starts a
//   stream. Only the first request of a connection is answered: what follows it is dropped.
// - held() never passes kHeldLimit, however the bytes are shaped and chunked.
// - After an answer, at most kDrainLimit more bytes are taken before the connection is closed.
// - No exception leaves Received: a fault in parsing or routing closes the connection and sets
//   faulted().
#ifndef MARKETD_MONITOR_CONNECTION_H_
#define MARKETD_MONITOR_CONNECTION_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "marketd/monitor_viewers.h"

namespace marketd {

// What a well-formed GET is given: an answer (status, content type, body), or an event stream
// already registered as `viewer` (its first bytes are queued there, head included).
struct MonitorReply {
  int status = 200;
  std::string type;
  std::string body;
  std::optional<ViewerId> viewer;
};

class MonitorConnection {
 public:
  static constexpr size_t kHeaderLimit = 8 * 1024;
  static constexpr size_t kFieldsLimit = 32 * 1024;
  static constexpr size_t kHeldLimit = kHeaderLimit + kFieldsLimit;
  static constexpr size_t kDrainLimit = 64 * 1024;

  enum class State {
    kReading,    // the request is not complete
    kAnswered,   // answer() is to be written; later bytes are dropped
    kStreaming,  // viewer() is watching: the server writes its queue
    kClosed,     // to be closed, with nothing (more) to write
  };

  // `router` answers a well-formed GET for a path (the query cut off).
  using Router = std::function<MonitorReply(std::string_view path)>;
  explicit MonitorConnection(Router router);
  ~MonitorConnection();
  MonitorConnection(const MonitorConnection&) = delete;
  MonitorConnection& operator=(const MonitorConnection&) = delete;

  // Bytes received, in any chunks.
  void Received(std::string_view bytes);
  // The request deadline passed or the peer's input ended: a request still incomplete is closed.
  void Ended();

  State state() const { return state_; }
  // The whole answer, head and body (kAnswered).
  const std::string& answer() const { return answer_; }
  std::optional<ViewerId> viewer() const { return viewer_; }
  // An exception was caught in parsing or routing (the connection is closed).
  bool faulted() const { return faulted_; }
  // Bytes the request holds: what is not parsed yet and what the parser allocated.
  size_t held() const;

 private:
  class Parser;

  void Parse(std::string_view bytes);
  void Answer(int status, const std::string& type, const std::string& body, bool allow = false);

  Router router_;
  std::unique_ptr<Parser> parser_;
  std::vector<char> pending_;  // the header received so far, not yet complete
  State state_ = State::kReading;
  std::string answer_;
  std::optional<ViewerId> viewer_;
  size_t drained_ = 0;
  bool faulted_ = false;
};

// The answer's bytes for `status`: a closing HTTP/1.1 response with its length.
std::string MonitorAnswer(int status, const std::string& type, const std::string& body,
                          bool allow_get = false);

}  // namespace marketd

#endif  // MARKETD_MONITOR_CONNECTION_H_
