#include "marketd/monitor_feed.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace marketd {
namespace {

using nlohmann::json;

json Event(const std::string& text) {
  EXPECT_EQ(text.find('\n'), std::string::npos) << text;
  json event = json::parse(text);
  event.erase("seq");
  return event;
}

// A feed that has seen an auction open with a good on offer.
MonitorFeed Opened() {
  MonitorFeed feed;
  for (const char* line : {"open_auction 2", "buyers Ann Bob", "goods g1 wine Ana 2600 2300",
                           "open_round 1", "good g1 wine Ana 2600 2300", "offer g1 2600"}) {
    feed.OnBroadcast(line);
  }
  return feed;
}

TEST(MonitorFeed, EachMarketLineBecomesOneTypedEvent) {
  struct Case {
    std::string line;
    json expected;
  };
  const std::vector<Case> cases = {
      {"open_auction 3", {{"type", "open_auction"}, {"auction", 3}}},
      {"open_round 2", {{"type", "open_round"}, {"round", 2}}},
      {"end_round 2", {{"type", "end_round"}, {"round", 2}}},
      {"end_auction 3", {{"type", "end_auction"}, {"auction", 3}}},
      {"buyers Ann Bob", {{"type", "buyers"}, {"buyers", {"Ann", "Bob"}}}},
      {"goods g1 wine Ana 2600 2300 g2 oil Ben 900 x",
       {{"type", "goods"},
        {"goods",
         {{{"id", "g1"}, {"kind", "wine"}, {"seller", "Ana"}, {"initial", 2600}, {"resale", 2300}},
          {{"id", "g2"}, {"kind", "oil"}, {"seller", "Ben"}, {"initial", 900}, {"resale", "x"}}}}}},
      {"good g2 oil Ben 900 700",
       {{"type", "good"},
        {"good", "g2"},
        {"kind", "oil"},
        {"seller", "Ben"},
        {"initial", 900},
        {"resale", 700}}},
      {"offer g1 2500", {{"type", "offer"}, {"good", "g1"}, {"price", 2500}}},
      {"collision g1 2650", {{"type", "collision"}, {"good", "g1"}, {"price", 2650}}},
      {"out_of_market g1 1000", {{"type", "out_of_market"}, {"good", "g1"}, {"reserve", 1000}}},
      {"sold Bob 2600", {{"type", "sold"}, {"buyer", "Bob"}, {"good", "g1"}, {"price", 2600}}},
      {"sanction Bob 900", {{"type", "sanction"}, {"buyer", "Bob"}, {"fine", 900}}},
      {"expulsion Bob", {{"type", "expulsion"}, {"buyer", "Bob"}}},
      {"closed_market", {{"type", "closed_market"}}},
      // Anything else is passed on as its text; so is a known word with the wrong shape.
      {"news <b>hi</b>", {{"type", "line"}, {"line", "news <b>hi</b>"}}},
      {"offer g1", {{"type", "line"}, {"line", "offer g1"}}},
      {"", {{"type", "line"}, {"line", ""}}},
  };
  for (const Case& c : cases) {
    MonitorFeed feed = Opened();
    EXPECT_EQ(Event(feed.OnBroadcast(c.line)), c.expected) << c.line;
  }
}

TEST(MonitorFeed, EventsAreNumberedInOrderAndTheSnapshotCarriesTheLastNumber) {
  MonitorFeed feed;
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(json::parse(feed.OnBroadcast("offer g1 " + std::to_string(1000 - i)))["seq"], i);
  }
  EXPECT_EQ(json::parse(feed.OnBid("Ann"))["seq"], 6);
  EXPECT_EQ(json::parse(feed.OnFinished())["seq"], 7);
  EXPECT_EQ(json::parse(feed.State())["seq"], 7);
  EXPECT_EQ(feed.seq(), 7);
}

TEST(MonitorFeed, ABidIsPricedOnlyWhileAGoodIsOnOffer) {
  MonitorFeed feed = Opened();
  feed.OnBroadcast("offer g1 2500");
  EXPECT_EQ(Event(feed.OnBid("Ann")),
            json({{"type", "bid"}, {"buyer", "Ann"}, {"good", "g1"}, {"price", 2500}}));
  feed.OnBroadcast("sold Ann 2500");
  EXPECT_EQ(Event(feed.OnBid("Ann")), json({{"type", "bid"}, {"buyer", "Ann"}}));
}

TEST(MonitorFeed, TheSnapshotShowsTheGoodTheBuyersAndTheirPurchases) {
  MonitorFeed feed = Opened();
  feed.OnBroadcast("offer g1 2400");
  json state = json::parse(feed.State());
  EXPECT_EQ(state["auction"], 2);
  EXPECT_EQ(state["round"], 1);
  EXPECT_EQ(state["offers"], 2);
  EXPECT_EQ(state["good"]["id"], "g1");
  EXPECT_EQ(state["good"]["price"], 2400);
  EXPECT_EQ(state["good"]["initial"], 2600);

  feed.OnBroadcast("sold Bob 2400");
  feed.OnBroadcast("buyers Bob Cy");  // Ann left, Cy is new
  feed.OnBroadcast("closed_market");
  feed.OnFinished();
  state = json::parse(feed.State());
  EXPECT_TRUE(state["good"].is_null());
  EXPECT_TRUE(state["closed"]);
  EXPECT_TRUE(state["finished"]);
  const json expected = json::array(
      {{{"login", "Ann"}, {"present", false}, {"bought", json::array()}},
       {{"login", "Bob"}, {"present", true}, {"bought", {{{"good", "g1"}, {"price", 2400}}}}},
       {{"login", "Cy"}, {"present", true}, {"bought", json::array()}}});
  EXPECT_EQ(state["buyers"], expected);
}

TEST(MonitorFeed, TheSnapshotKeepsOnlyTheLastEvents) {
  MonitorFeed feed;
  for (int price = 1000; price > 900; --price)
    feed.OnBroadcast("offer g1 " + std::to_string(price));
  const json state = json::parse(feed.State());
  ASSERT_EQ(state["recent"].size(), MonitorFeed::kRecentEvents);
  EXPECT_EQ(state["recent"].back()["seq"], 100);
  EXPECT_EQ(state["recent"].back()["price"], 901);
  EXPECT_EQ(state["recent"].front()["seq"], 100 - static_cast<int>(MonitorFeed::kRecentEvents) + 1);
}

// Logins and goods are outside text: whatever their bytes, the event stays one line of valid JSON
// that says what they were, and the snapshot does too.
TEST(MonitorFeed, OutsideTextIsEscapedAndBadBytesAreReplaced) {
  MonitorFeed feed;
  const std::string odd = "<img\"src=x\\onerror=alert(1)>";
  const std::string bad = "Zo\xff\xfe";
  EXPECT_EQ(Event(feed.OnBroadcast("buyers " + odd + " " + bad))["buyers"][0], odd);
  const json event = Event(feed.OnBid(bad));
  EXPECT_EQ(event["buyer"], "Zo\xEF\xBF\xBD\xEF\xBF\xBD");  // U+FFFD twice
  EXPECT_EQ(Event(feed.OnBroadcast("weird \r\x01 line"))["line"], "weird \r\x01 line");
  const json state = json::parse(feed.State());
  EXPECT_EQ(state["buyers"][0]["login"], odd);
  EXPECT_EQ(state["recent"].size(), 3u);
}

}  // namespace
}  // namespace marketd
