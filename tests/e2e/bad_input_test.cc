// Hostile and malformed market output, end to end: every row has a defined answer, and in every
// row the agent exits by itself with its whole log.

#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/fake_session.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

struct BadInput {
  const char* name;
  std::string script;
  // Checks on the agent's log and on what the gateway received.
  std::function<void(const std::string& log, const std::string& received)> check;
  bool ends_with_closed_market = true;
};

std::string GoodsEntries(int count) {
  std::string entries;
  for (int i = 0; i < count; ++i) entries += " g" + std::to_string(i) + " k s 1 2";
  return entries;
}

std::string BuyerNames(int count) {
  std::string names;
  for (int i = 0; i < count; ++i) names += " b" + std::to_string(i);
  return names;
}

TEST(BadInput, EveryRowHasItsDefinedAnswer) {
  using namespace std::string_literals;
  const std::string a15(15, 'a'), b16(16, 'b'), c4095(4095, 'c');
  const BadInput rows[] = {
      {"100 KB word keeps its first 4095 bytes",
       "accept\n" + std::string(100000, 'x') + "\nclosed_market\n",
       [](const std::string& log, const std::string&) {
         EXPECT_TRUE(Has(log, "\n\n" + std::string(4095, 'x') + " \n\n"));
         EXPECT_FALSE(Has(log, std::string(4096, 'x')));
       }},
      {"word of NUL bytes is the empty word", "accept\n"s + "\0\0\0\0"s + "\nclosed_market\n",
       [](const std::string& log, const std::string&) {
         EXPECT_TRUE(Has(log, "accept \n\n\n\n \n\n\n\nclosed_market "));
       }},
      {"names and ids of 15, 16 and 4095 characters are cut to 15",
       "open_auction 1\nbuyers " + a15 + " " + b16 + " " + c4095 + "\ngoods " + a15 + " k s 1 2 " +
           b16 + " k s 1 2 " + c4095 + " " + c4095 + " " + c4095 +
           " 1 2\nopen_round 1\nclosed_market\n",
       [&](const std::string& log, const std::string&) {
         EXPECT_TRUE(Has(log, "\n na: " + a15 + " be: 0"));
         EXPECT_TRUE(Has(log, "\n na: " + std::string(15, 'b') + " be: 0"));
         EXPECT_TRUE(Has(log, "\n na: " + std::string(15, 'c') + " be: 0"));
         EXPECT_TRUE(Has(log, "\n id: " + std::string(15, 'b') + " ki: k"));
         const std::string c15(15, 'c');
         EXPECT_TRUE(Has(log, "\n id: " + c15 + " ki: " + c15 + " se: " + c15 + " ip: 1"));
       }},
      {"numbers out of range saturate, junk reads as its digits or 0",
       "open_auction 1\ngoods n1 k s 2147483647 0 n2 k s 2147483648 0 n3 k s -2147483649 0 "
       "n4 k s 99999999999999999999 0 n5 k s 12abc 0 n6 k s abc 0 n7 k s - 0\n"
       "open_round 1\nclosed_market\n",
       [](const std::string& log, const std::string&) {
         EXPECT_TRUE(Has(log, "id: n1 ki: k se: s ip: 2147483647 "));
         EXPECT_TRUE(Has(log, "id: n2 ki: k se: s ip: 2147483647 "));
         EXPECT_TRUE(Has(log, "id: n3 ki: k se: s ip: -2147483648 "));
         EXPECT_TRUE(Has(log, "id: n4 ki: k se: s ip: 2147483647 "));
         EXPECT_TRUE(Has(log, "id: n5 ki: k se: s ip: 12 "));
         EXPECT_TRUE(Has(log, "id: n6 ki: k se: s ip: 0 "));
         EXPECT_TRUE(Has(log, "id: n7 ki: k se: s ip: 0 "));
       }},
      {"201st good and 101st buyer are read, not stored",
       "open_auction 1\ngoods" + GoodsEntries(201) + "\nbuyers" + BuyerNames(101) +
           "\nopen_round 1\ngood g0 k s 1 2\noffer g0 1\nclosed_market\n",
       [](const std::string& log, const std::string& received) {
         EXPECT_EQ(Count(log, "\n id: "), 200u);
         EXPECT_EQ(Count(log, "\n na: "), 100u);
         EXPECT_FALSE(Has(log, "\n id: g200 "));
         EXPECT_EQ(received, kAdmission + "bid\n");  // the reader stayed in step
       }},
      {"sold, out_of_market and unknown good with no current good",
       "open_auction 1\ngoods g k s 1 2\nsold A 5\nout_of_market g 3\ngood zz k s 1 2\n"
       "offer zz 1\nopen_round 1\nclosed_market\n",
       [](const std::string& log, const std::string& received) {
         EXPECT_TRUE(Has(log, "\n id: g ki: k se: s ip: 1 rt: 0 rs: 2 bu:  pi: 0\n"));
         EXPECT_EQ(received, kAdmission);
       }},
      {"CR LF line ends carry no end-of-message marker",
       "accept\r\nopen_auction 1\r\ngoods g k s 1 2\r\ngood g k s 1 2\r\noffer g 1\r\n"
       "closed_market\r\n",
       [](const std::string& log, const std::string& received) {
         // The goods list runs on to the end of input, taking the later lines as entries.
         EXPECT_TRUE(Has(log, "goods g k s 1 2 good g k s 1 2 offer g 1 closed_market "));
         EXPECT_EQ(received, kAdmission);
       },
       /*ends_with_closed_market=*/false},
  };
  for (const BadInput& row : rows) {
    SCOPED_TRACE(row.name);
    Gateway gateway;
    gateway.script = row.script;
    Session s = RunAgainst(gateway);
    EXPECT_EQ(ExitCode(s.run), 0);
    EXPECT_EQ(s.run.err, "");
    EXPECT_EQ(s.run.out.rfind(kAdmissionLog, 0), 0u);
    if (row.ends_with_closed_market) {
      EXPECT_TRUE(EndsWith(s.run.out, "\n\nclosed_market \n\n\n\n"));
    }
    row.check(s.run.out, s.received);
  }
}

TEST(BadInput, AuctionNumbersOutsideTheTables) {
  const struct {
    const char* number;
    bool ends_by_loop_test;  // an index above 20 ends the agent once the auction ends
  } rows[] = {{"0", false}, {"22", true}, {"-5", false}, {"2147483647", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.number);
    const std::string n = row.number;
    Gateway gateway;
    gateway.script = "open_auction " + n +
                     "\nbuyers X\ngoods g k s 1 2\ngood g k s 1 2\noffer g 1\nopen_round 1\n"
                     "end_auction " +
                     n + "\nnext_auction_word\n";
    Session s = RunAgainst(gateway);
    EXPECT_EQ(ExitCode(s.run), 0);
    EXPECT_EQ(s.received, kAdmission);           // never bids without a table row
    EXPECT_EQ(Count(s.run.out, "\n na: "), 0u);  // the trace shows the 21 real rows
    EXPECT_EQ(Count(s.run.out, "------GOODS-------"), 21u);
    EXPECT_EQ(Has(s.run.out, "next_auction_word"), !row.ends_by_loop_test);
    EXPECT_TRUE(Has(s.run.out, "end_auction " + n + " "));
  }
}

TEST(BadInput, TenMegabytesOfRandomBytes) {
  std::mt19937 random(20261210);
  std::string noise(10 * 1024 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xff);
  Gateway gateway;
  gateway.script = noise;
  Session s = RunAgainst(gateway);
  EXPECT_EQ(ExitCode(s.run), 0);
  EXPECT_EQ(s.run.out.rfind(kAdmissionLog, 0), 0u);
  EXPECT_GT(s.run.out.size(), noise.size() / 2);  // the words were echoed, not dropped
}

}  // namespace
