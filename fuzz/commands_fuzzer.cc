// Feeds arbitrary bytes to the gateway's command path: the bounded line reader, the command
// parser and the market engine serving one connection on a fake clock, as the gateway does.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/scenario.h"
#include "wire/line_reader.h"

namespace {

const market::Scenario& DefaultScenario() {
  static const market::Scenario scenario =
      *market::ParseScenario(market::DefaultScenarioText(), market::kDefaultScenarioName).scenario;
  return scenario;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks how many bytes each read hands over, and the clock's pace per line.
  size_t chunk = 4096;
  int64_t step_ms = 5;
  if (size > 0) {
    chunk = static_cast<size_t>(data[0] % 32) + 1;
    if (data[0] >= 128) chunk = 4096;
    step_ms = data[0] % 50;
    ++data;
    --size;
  }
  constexpr market::ClientId kAgent = 0;
  market::Engine engine(DefaultScenario(), 7);
  engine.Connect(kAgent, "CLogin");
  wire::LineReader reader;
  market::Nanos now{0};
  std::vector<wire::Line> lines;
  auto handle = [&] {
    for (const wire::Line& line : lines) {
      if (line.overlong) {
        engine.RecordIgnored(kAgent, line.text, "line longer than 4096 bytes");
      } else {
        engine.OnLine(kAgent, line.text);
      }
      if (engine.stage() == market::Engine::Stage::kLobby && engine.Admitted(kAgent)) {
        engine.Start(now);
      }
      now += std::chrono::milliseconds(step_ms);
      engine.Advance(now);
      engine.TakeOutgoing();
    }
    lines.clear();
  };
  for (size_t at = 0; at < size; at += chunk) {
    size_t n = size - at < chunk ? size - at : chunk;
    reader.Feed(std::string_view(reinterpret_cast<const char*>(data) + at, n), &lines);
    handle();
  }
  reader.Finish(&lines);
  handle();
  engine.Disconnect(kAgent);
  engine.Abandon("fuzz input ended");
  engine.TakeOutgoing();
  return 0;
}
