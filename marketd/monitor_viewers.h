// The live monitor's viewers and their send queues, without sockets: who is watching, what each
// still has to be sent, and who is dropped for falling behind.
//
// What a caller may rely on:
// - At most max_viewers viewers at once: Add refuses the next one.
// - A viewer's unsent bytes (queued plus the write in flight) never pass queue_limit: a Publish
//   that would pass it drops that viewer instead (it is removed and named in the answer, for the
//   caller to close), and the others are served as usual. Nobody is ever waited for.
// - Take hands over what is queued for one write; Written ends that write.
#ifndef MARKETD_MONITOR_VIEWERS_H_
#define MARKETD_MONITOR_VIEWERS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace marketd {

using ViewerId = uint64_t;

class MonitorViewers {
 public:
  // Unsent bytes per viewer before it is dropped, and viewers at once.
  static constexpr size_t kQueueLimit = 256 * 1024;
  static constexpr size_t kMaxViewers = 64;

  explicit MonitorViewers(size_t queue_limit = kQueueLimit, size_t max_viewers = kMaxViewers)
      : queue_limit_(queue_limit), max_viewers_(max_viewers) {}

  // A new viewer whose stream starts with `first` (unbounded: it is the snapshot); empty when
  // max_viewers are watching.
  std::optional<ViewerId> Add(const std::string& first);
  void Remove(ViewerId id);
  bool Has(ViewerId id) const { return viewers_.count(id) > 0; }
  size_t size() const { return viewers_.size(); }

  // Queues `bytes` for every viewer; the viewers dropped for it (already removed).
  std::vector<ViewerId> Publish(const std::string& bytes);

  // What is queued for `id`, moved out for one write (empty when nothing is, or a write is in
  // flight).
  std::string Take(ViewerId id);
  // The write of what Take handed over is done.
  void Written(ViewerId id);
  // Queued plus in flight.
  size_t Unsent(ViewerId id) const;

 private:
  struct Viewer {
    std::string queued;
    size_t in_flight = 0;
  };
  size_t queue_limit_;
  size_t max_viewers_;
  ViewerId next_ = 1;
  std::map<ViewerId, Viewer> viewers_;
};

}  // namespace marketd

#endif  // MARKETD_MONITOR_VIEWERS_H_
