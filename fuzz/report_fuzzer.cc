// Feeds arbitrary text to the report's results reader, as one document or one session a line
// (the first two sessions); results it accepts are drawn as the session page. A refusal must be
// one line; nothing may crash, whatever the numbers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/session_data.h"
#include "report/session_document.h"
#include "report/session_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (int n = 1; n <= 2; ++n) {
    try {
      const report::SessionData session =
          report::ReadSessionResults(report::SessionDocument(text, n));
      const std::string page = report::SessionReport(session, "fuzz.json");
      if (page.find("<script") != std::string::npos) __builtin_trap();  // input became markup
    } catch (const report::InputError& e) {
      if (std::string_view(e.what()).find('\n') != std::string_view::npos) __builtin_trap();
    }
  }
  return 0;
}
