// Feeds arbitrary text to the scenario loader; a scenario it accepts is planned as the gateway
// would plan it, so every accepted value must also be usable.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/plan.h"
#include "engine/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  market::ScenarioLoad load = market::ParseScenario(text, "fuzz.toml");
  if (load.scenario) {
    market::BuildPlan(*load.scenario, load.scenario->seed);
  } else if (load.error.ToString().find('\n') != std::string::npos) {
    __builtin_trap();  // an error must stay one line
  }
  return 0;
}
