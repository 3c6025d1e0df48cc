#include "tournament/db/session_codec.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tournament/db/sqlite_db.h"

namespace tournament {
namespace {

// Goods read back as SQL sees them: winners by name, values in the order given, whether or not
// that order is the session's buyers order, extreme numbers kept.
TEST(SessionCodec, GoodsReadBackAsWritten) {
  GoodsEncoder out;
  out.Add("sold", "Vera", 2600, 1, 2);
  out.Value("Vera", 2300);
  out.Value("Otto", -5);
  out.Add("unsold", "", std::nullopt, 0, 0);
  out.Value("Otto", 700);  // only the second buyer: written with its index
  out.Value("Vera", 600);  // out of order
  out.Add("pending", "", std::nullopt, 0, 0);
  out.Add("interrupted", "B\"o", std::numeric_limits<int64_t>::max(), 3, 0);
  out.Value("B\"o", std::numeric_limits<int64_t>::min());
  const std::string column = out.Take();
  EXPECT_EQ(GoodsJson(column),
            "[[\"sold\",\"Vera\",2600,1,2,{\"Vera\":2300,\"Otto\":-5}],"
            "[\"unsold\",null,null,0,0,{\"Otto\":700,\"Vera\":600}],"
            "[\"pending\",null,null,0,0,{}],"
            "[\"interrupted\",\"B\\\"o\",9223372036854775807,3,0,"
            "{\"B\\\"o\":-9223372036854775808}]]");
  EXPECT_EQ(GoodsJson(GoodsEncoder().Take()), "[]");
  EXPECT_THROW(GoodsEncoder().Add("lost", "", std::nullopt, 0, 0), CodecError);
}

TEST(SessionCodec, EntriesReadBackAsWritten) {
  ParticipantRow rival;
  rival.purchases = 2;
  rival.spend = 4000;
  rival.benefit = -300;
  rival.fines = 600;
  rival.surplus = -900;
  rival.sanctions = 1;
  rival.expulsions = 1;
  ParticipantRow agent;
  agent.logged_in = true;
  agent.bids = 12;
  agent.faults = 1;
  agent.left = true;
  agent.dropped = "too many faults";
  agent.response_count = 11;
  agent.response_median_us = 0;  // present though zero
  agent.status = "crashed";
  agent.exit_signal = 9;
  agent.stderr_tail = "boom\n";
  agent.late_ticks = 0;  // on the stepped clock, none late
  EXPECT_EQ(EntriesJson(EncodeEntries({rival, agent})),
            "[[2,4000,-300,600,-900,1,1,0,0,0,0,\"\",0,null,null,\"\",null,null,\"\",null],"
            "[0,0,0,0,0,0,0,1,12,1,1,\"too many faults\",11,0,null,\"crashed\",null,9,"
            "\"boom\\u000a\",0]]");
  EXPECT_EQ(EntriesJson(EncodeEntries({})), "[]");
}

// Bytes that are not a column this library wrote (a damaged or hand-made file) are refused with a
// message, never read past their end, and a count cannot make the reader reserve memory.
TEST(SessionCodec, DamagedColumnsAreRefused) {
  GoodsEncoder out;
  out.Add("sold", "Vera", 2600, 0, 0);
  out.Value("Vera", 2300);
  const std::string good = out.Take();
  const std::string entries = EncodeEntries({ParticipantRow{}});
  struct Case {
    const char* what;
    std::string goods;
    std::string entries;
  };
  const std::vector<Case> cases = {
      {"cut short", good.substr(0, good.size() - 1), entries.substr(0, entries.size() - 1)},
      {"bytes left over", good + '\0', entries + '\0'},
      {"a count past the end", std::string("\x7f", 1), std::string("\xff\xff\xff\x7f", 4)},
      {"an overlong number", std::string(11, '\x80'), std::string(11, '\xff')},
      // No buyers, one good sold to buyer 1.
      {"a winner that is no buyer; an entry cut after its flag",
       std::string("\x00\x01\x01\x02", 4) + std::string(4, '\0'),
       std::string("\x01", 1) + std::string(7, '\0') + '\x02'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(GoodsJson(c.goods), CodecError);
    EXPECT_THROW(EntriesJson(c.entries), CodecError);
  }
  // Through SQL, the same is an error of the query, not of the process.
  Db db(test_support::MakeTempDir() + "/t.db", true);
  Statement q = db.Prepare("SELECT session_goods(?), session_entries(?)");
  q.BindBlob(1, cases[0].goods).BindBlob(2, entries);
  EXPECT_THROW(q.Step(), DbError);
  Statement ok = db.Prepare("SELECT session_goods(?), session_entries(?)");
  ok.BindBlob(1, good).BindBlob(2, entries);
  ASSERT_TRUE(ok.Step());
  EXPECT_EQ(ok.Text(0), "[[\"sold\",\"Vera\",2600,0,0,{\"Vera\":2300}]]");
}

}  // namespace
}  // namespace tournament
