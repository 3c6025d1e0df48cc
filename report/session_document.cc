#include "report/session_document.h"

#include <string>

#include <nlohmann/json.hpp>

#include "report/session_data.h"

namespace report {
namespace {

bool Blank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// The non-blank lines of the text, in order, handed to `visit` until it returns false.
template <typename Visit>
void Lines(std::string_view text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (!Blank(line) && !visit(line)) return;
    start = end + 1;
  }
}

}  // namespace

std::string_view SessionDocument(std::string_view text, int session) {
  if (session < 1) throw InputError("results: sessions are numbered from 1");
  // One document a line when the first line is a whole JSON object on its own; otherwise the
  // file is one document (maybe laid out over several lines).
  std::string_view first;
  Lines(text, [&](std::string_view line) {
    first = line;
    return false;
  });
  const nlohmann::json parsed = nlohmann::json::parse(first, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    if (session != 1) {
      throw InputError("results: session " + std::to_string(session) +
                       " asked for, but the file holds one session");
    }
    return text;
  }
  int count = 0;
  std::string_view chosen;
  Lines(text, [&](std::string_view line) {
    if (++count == session) chosen = line;
    return true;
  });
  if (session > count) {
    throw InputError("results: session " + std::to_string(session) +
                     " asked for, but the file holds " + std::to_string(count) +
                     (count == 1 ? " session" : " sessions"));
  }
  return chosen;
}

}  // namespace report
