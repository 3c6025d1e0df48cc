#include "marketd/monitor_viewers.h"

namespace marketd {

std::optional<ViewerId> MonitorViewers::Add(const std::string& first) {
  if (viewers_.size() >= max_viewers_) return std::nullopt;
  const ViewerId id = next_++;
  viewers_[id].queued = first;
  return id;
}

void MonitorViewers::Remove(ViewerId id) { viewers_.erase(id); }

std::vector<ViewerId> MonitorViewers::Publish(const std::string& bytes) {
  std::vector<ViewerId> dropped;
  for (auto& [id, viewer] : viewers_) {
    if (viewer.queued.size() + viewer.in_flight + bytes.size() > queue_limit_) {
      dropped.push_back(id);
    } else {
      viewer.queued += bytes;
    }
  }
  for (ViewerId id : dropped) viewers_.erase(id);
  return dropped;
}

std::string MonitorViewers::Take(ViewerId id) {
  auto it = viewers_.find(id);
  if (it == viewers_.end() || it->second.in_flight > 0) return {};
  std::string out;
  out.swap(it->second.queued);
  it->second.in_flight = out.size();
  return out;
}

void MonitorViewers::Written(ViewerId id) {
  auto it = viewers_.find(id);
  if (it != viewers_.end()) it->second.in_flight = 0;
}

size_t MonitorViewers::Unsent(ViewerId id) const {
  auto it = viewers_.find(id);
  return it == viewers_.end() ? 0 : it->second.queued.size() + it->second.in_flight;
}

}  // namespace marketd
