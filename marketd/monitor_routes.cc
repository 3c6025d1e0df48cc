#include "marketd/monitor_routes.h"

#include <optional>
#include <string>

#include "marketd/monitor_page.h"

namespace marketd {

MonitorReply MonitorRoutes::Get(std::string_view path) {
  if (path == "/") return {200, "text/html; charset=utf-8", MonitorPage(), std::nullopt};
  if (path == "/state") return {200, "application/json", feed_.State() + "\n", std::nullopt};
  if (path != "/events") return {404, "text/plain", "not found\n", std::nullopt};
  if (finished_) return {503, "text/plain", "the session is over\n", std::nullopt};
  // No content length: the stream ends when the connection does.
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "Connection: close\r\n\r\n";
  const std::optional<ViewerId> id =
      viewers_.Add(head + "event: state\ndata: " + feed_.State() + "\n\n");
  if (!id) return {503, "text/plain", "too many viewers\n", std::nullopt};
  ++served_;
  return {200, "", "", id};
}

}  // namespace marketd
