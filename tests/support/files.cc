#include "tests/support/files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ios>
#include <iterator>

#include <unistd.h>

namespace test_support {

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/market-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  try {
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  } catch (const std::ios_base::failure&) {
    return "";  // the read failed midway: /proc/PID/stat of a process reaped meanwhile
  }
}

std::string TestData(const std::string& name) {
  const std::string path = std::string(TESTS_DATA_DIR) + "/" + name;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "missing test fixture %s\n", path.c_str());
    std::abort();
  }
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace test_support
