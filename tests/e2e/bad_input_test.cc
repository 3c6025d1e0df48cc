// Hostile and malformed market output, end to end: every row has a defined answer, and in every
// row the agent exits by itself with its whole log. Numbers, cut names, full tables and auction
// numbers without a row are covered by the reader's and the handlers' unit tables.

#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/fake_session.h"

namespace {

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

TEST(BadInput, EveryRowHasItsDefinedAnswer) {
  using namespace std::string_literals;
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
