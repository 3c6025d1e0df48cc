// Feeds arbitrary bytes through the agent's whole message path: word reader, dispatch, handlers,
// bid decision and trace, reading from memory and writing to sinks. Traps when a table count or
// text field has left its bounds.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "buyer/driver/agent.h"
#include "buyer/link/commands.h"
#include "buyer/link/log.h"
#include "buyer/link/reader.h"
#include "buyer/market/tables.h"
#include "tests/support/agent_reset.h"

namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t position;
  size_t chunk;
};

ssize_t ReadSource(void* context, char* buffer, size_t size) {
  auto* source = static_cast<Source*>(context);
  size_t n = source->size - source->position;
  if (n > size) n = size;
  if (n > source->chunk) n = source->chunk;
  std::memcpy(buffer, source->data + source->position, n);
  source->position += n;
  return static_cast<ssize_t>(n);
}

ssize_t WriteNowhere(void*, const char*, size_t size) { return static_cast<ssize_t>(size); }

void DiscardLog(const char*, size_t) {}

template <size_t N>
void CheckText(const char (&field)[N]) {
  if (memchr(field, '\0', N) == nullptr) __builtin_trap();
}

void CheckTables() {
  for (int a = 0; a < MAX_AUCTIONS; ++a) {
    if (world.NGoods_to_be_sold[a] < 0 || world.NGoods_to_be_sold[a] > MAX_GOODS) __builtin_trap();
    if (world.NBuyers[a] < 0 || world.NBuyers[a] > MAX_BUYERS) __builtin_trap();
    for (const GoodRecord& good : world.Goods_to_be_sold[a]) {
      CheckText(good.id);
      CheckText(good.kind);
      CheckText(good.seller);
      CheckText(good.buyer_name);
      if (strlen(good.id) > 15 || strlen(good.buyer_name) > 15) __builtin_trap();
    }
    for (const BuyerRecord& buyer : world.Buyers[a]) {
      CheckText(buyer.name);
      if (strlen(buyer.name) > 15) __builtin_trap();
    }
  }
  if (world.current_good < -1 || world.current_good >= MAX_GOODS) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the size of the input's read calls, so block edges land everywhere.
  size_t chunk = 4096;
  if (size > 0) {
    chunk = static_cast<size_t>(data[0] % 64) + 1;
    if (data[0] >= 128) chunk = 4096;
    ++data;
    --size;
  }
  test_support::ResetAgentForTest(DiscardLog);
  Source source{data, size, 0, chunk};
  Input input{ReadSource, &source};
  Output output{WriteNowhere, nullptr};
  InitWorld();
  RunAgent(input, output);
  LogFlush();
  CheckTables();
  return 0;
}
