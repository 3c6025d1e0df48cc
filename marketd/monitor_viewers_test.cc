#include "marketd/monitor_viewers.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace marketd {
namespace {

// One reader that writes out everything at once, one that never does: the stalled one is dropped
// as soon as its unsent bytes would pass the limit, and the other gets every byte, in order.
TEST(MonitorViewers, AStalledViewerIsDroppedAndTheOthersGetEveryByteInOrder) {
  MonitorViewers viewers(/*queue_limit=*/100, /*max_viewers=*/8);
  const ViewerId reader = *viewers.Add("head;");
  const ViewerId stalled = *viewers.Add("head;");
  std::string received;
  std::vector<ViewerId> dropped;
  int published = 0;
  for (; published < 50 && dropped.empty(); ++published) {
    dropped = viewers.Publish("event" + std::to_string(published) + ";");
    received += viewers.Take(reader);
    viewers.Written(reader);
  }
  ASSERT_EQ(dropped, std::vector<ViewerId>{stalled});
  EXPECT_FALSE(viewers.Has(stalled));
  EXPECT_TRUE(viewers.Has(reader));
  // "head;" and event0..event12 are 5 + 70 + 24 = 99 bytes; event13 would pass 100.
  EXPECT_EQ(published, 14);
  std::string expected = "head;";
  for (int i = 0; i < published; ++i) expected += "event" + std::to_string(i) + ";";
  EXPECT_EQ(received, expected);
  EXPECT_EQ(viewers.Take(stalled), "");
}

// Bytes handed over for a write still count until the write is done; a second Take meanwhile
// hands over nothing, so that two writes never overlap.
TEST(MonitorViewers, BytesInFlightCountAgainstTheLimit) {
  MonitorViewers viewers(/*queue_limit=*/20, /*max_viewers=*/8);
  const ViewerId id = *viewers.Add("");
  EXPECT_TRUE(viewers.Publish("0123456789").empty());
  EXPECT_EQ(viewers.Take(id), "0123456789");
  EXPECT_TRUE(viewers.Publish("abcde").empty());
  EXPECT_EQ(viewers.Take(id), "");  // the first write is still in flight
  EXPECT_EQ(viewers.Unsent(id), 15u);
  EXPECT_EQ(viewers.Publish("ABCDEF"), std::vector<ViewerId>{id});  // 21 bytes would be unsent

  const ViewerId next = *viewers.Add("");
  EXPECT_TRUE(viewers.Publish("0123456789").empty());
  EXPECT_EQ(viewers.Take(next), "0123456789");
  viewers.Written(next);
  EXPECT_TRUE(viewers.Publish("0123456789").empty());
  EXPECT_TRUE(viewers.Publish("0123456789").empty());  // exactly at the limit is allowed
  EXPECT_EQ(viewers.Unsent(next), 20u);
}

TEST(MonitorViewers, NoMoreThanMaxViewersWatchAtOnce) {
  MonitorViewers viewers(/*queue_limit=*/100, /*max_viewers=*/2);
  const std::optional<ViewerId> a = viewers.Add("");
  const std::optional<ViewerId> b = viewers.Add("");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_FALSE(viewers.Add(""));
  viewers.Remove(*a);
  const std::optional<ViewerId> c = viewers.Add("");
  ASSERT_TRUE(c);
  EXPECT_NE(*c, *a);  // a number is never reused
  EXPECT_EQ(viewers.size(), 2u);
}

}  // namespace
}  // namespace marketd
