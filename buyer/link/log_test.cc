#include "buyer/link/log.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/agent_fixture.h"

namespace {

using test_support::AgentTest;

TEST(FormatInt, MatchesPrintf) {
  for (int32_t value : {0, 1, -1, 9, 10, -10, 50000, 2000, 123456789, INT32_MAX, INT32_MIN}) {
    char text[12];
    size_t length = FormatInt(value, text);
    EXPECT_EQ(std::string(text, length), std::to_string(value));
  }
}

using LogTest = AgentTest;

TEST_F(LogTest, KeepsOrderAcrossBufferSizes) {
  std::string expected;
  for (size_t size : {size_t{10}, size_t{70000}, size_t{3}, size_t{65536}, size_t{65535}}) {
    std::string piece(size, static_cast<char>('a' + size % 26));
    LogWrite(piece.data(), piece.size());
    LogInt(-42);
    expected += piece + "-42";
  }
  EXPECT_EQ(Log(), expected);
}

// Records every write the log makes, so a test sees how the bytes were cut.
std::vector<std::string>* recorded_writes = nullptr;
void RecordWrite(const char* data, size_t size) { recorded_writes->emplace_back(data, size); }

class LogPieceTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    recorded_writes = &writes_;
    SetLogSink(RecordWrite);
  }
  void TearDown() override {
    SetLogSink(nullptr);
    recorded_writes = nullptr;
    AgentTest::TearDown();
  }
  std::string Joined() const {
    std::string all;
    for (const std::string& w : writes_) all += w;
    return all;
  }
  std::vector<std::string> writes_;
};

// Appends size bytes in one of the three ways the agent logs; returns what was appended.
enum class Way { kWrite, kReserve, kInt };
std::string Append(Way way, size_t size, char fill) {
  std::string bytes(size, fill);
  switch (way) {
    case Way::kWrite:
      LogWrite(bytes.data(), bytes.size());
      break;
    case Way::kReserve: {
      // Reserve more than is used, as the trace and the reader do.
      char* room = LogReserve(size + 7);
      std::memcpy(room, bytes.data(), size);
      LogCommit(size);
      break;
    }
    case Way::kInt:
      LogInt(-7);
      bytes = "-7";
      break;
  }
  return bytes;
}

// The log hands out whole pieces as soon as they fill, nothing smaller before a flush, and every
// byte in order, whatever the sizes appended and wherever the buffer's end falls.
TEST_F(LogPieceTest, WritesWholePiecesInOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<Way, size_t>> appends;
    int repeat;
  };
  const std::vector<Case> cases = {
      {"single bytes", {{Way::kWrite, 1}}, 100000},
      {"words and numbers", {{Way::kReserve, 5}, {Way::kInt, 0}, {Way::kWrite, 1}}, 30000},
      {"largest reservations", {{Way::kReserve, LOG_RESERVE_MAX - 7}}, 60},
      {"odd sizes", {{Way::kReserve, 4000}, {Way::kWrite, 333}, {Way::kReserve, 1}}, 90},
      {"larger than the buffer", {{Way::kWrite, 70000}, {Way::kWrite, 65536}, {Way::kWrite, 3}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writes_.clear();
    std::string expected;
    char fill = 'a';
    for (int r = 0; r < c.repeat; ++r) {
      for (const auto& [way, size] : c.appends) {
        expected += Append(way, size, fill);
        fill = fill == 'z' ? 'a' : static_cast<char>(fill + 1);
      }
    }
    const size_t whole = expected.size() / LOG_PIECE_SIZE;
    ASSERT_EQ(writes_.size(), whole);
    for (const std::string& w : writes_) ASSERT_EQ(w.size(), LOG_PIECE_SIZE);
    LogFlush();
    ASSERT_EQ(writes_.size(), expected.size() % LOG_PIECE_SIZE == 0 ? whole : whole + 1);
    EXPECT_EQ(Joined(), expected);
  }
}

// Less than one piece stays buffered: no write between a bid and the next read of the market.
TEST_F(LogPieceTest, HoldsLessThanAPieceUntilFlushed) {
  std::string expected = Append(Way::kWrite, LOG_PIECE_SIZE - 1, 'x');
  EXPECT_TRUE(writes_.empty());
  expected += Append(Way::kReserve, 1, 'y');
  ASSERT_EQ(writes_.size(), 1u);
  expected += Append(Way::kWrite, 10, 'z');
  ASSERT_EQ(writes_.size(), 1u);
  LogFlush();
  ASSERT_EQ(writes_.size(), 2u);
  EXPECT_EQ(writes_[1], std::string(10, 'z'));
  EXPECT_EQ(Joined(), expected);
}

// A reservation beyond LOG_RESERVE_MAX, even beyond the whole buffer, still logs exactly the
// bytes committed, after what was logged before and before what follows.
TEST_F(LogTest, ReservationAboveTheLimitKeepsBytesAndOrder) {
  for (size_t size : {LOG_RESERVE_MAX + 1, size_t{65536}, size_t{200000}}) {
    SCOPED_TRACE(size);
    LogText("<");
    char* room = LogReserve(size);
    std::string bytes(size, 'q');
    bytes[0] = 'A';
    bytes[size - 1] = 'Z';
    std::memcpy(room, bytes.data(), size);
    LogCommit(size);
    LogText(">");
    room = LogReserve(4);
    std::memcpy(room, "ok", 2);
    LogCommit(2);
    EXPECT_EQ(Log(), "<" + bytes + ">ok");
  }
}

using LogDeathTest = LogTest;

TEST_F(LogDeathTest, BrokenReservationContractEndsTheProcess) {
  EXPECT_DEATH(
      {
        LogReserve(10);
        LogCommit(11);
      },
      "commit of more bytes than were reserved");
  EXPECT_DEATH(
      {
        LogReserve(LOG_RESERVE_MAX + 10);
        LogCommit(LOG_RESERVE_MAX + 11);
      },
      "commit of more bytes than were reserved");
  EXPECT_DEATH(LogCommit(1), "commit of more bytes than were reserved");
  EXPECT_DEATH(
      {
        LogReserve(10);
        LogReserve(10);
      },
      "reservation made before the last one was committed");
}

}  // namespace
