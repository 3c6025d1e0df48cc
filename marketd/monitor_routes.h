// What the live monitor answers a well-formed GET with, by path (see monitor_server.h), without
// sockets: the page, the snapshot, or a new viewer of the event stream (its head and snapshot
// queued in MonitorViewers), 503 when the viewers are full or the session is over, else 404.
#ifndef MARKETD_MONITOR_ROUTES_H_
#define MARKETD_MONITOR_ROUTES_H_

#include <cstdint>
#include <string_view>

#include "marketd/monitor_connection.h"
#include "marketd/monitor_feed.h"
#include "marketd/monitor_viewers.h"

namespace marketd {

class MonitorRoutes {
 public:
  MonitorRoutes(const MonitorFeed& feed, MonitorViewers& viewers)
      : feed_(feed), viewers_(viewers) {}

  MonitorReply Get(std::string_view path);
  // No stream is opened from now on.
  void Finish() { finished_ = true; }

  int64_t served() const { return served_; }  // event streams opened so far

 private:
  const MonitorFeed& feed_;
  MonitorViewers& viewers_;
  bool finished_ = false;
  int64_t served_ = 0;
};

}  // namespace marketd

#endif  // MARKETD_MONITOR_ROUTES_H_
