#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/scenario.h"

namespace market {

ScenarioLoad LoadScenarioFile(const std::string& path) {
  ScenarioLoad load;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    load.error = {path, 0, "is a folder, not a scenario file"};
    return load;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    load.error = {path, 0, "cannot open the file: " + std::string(std::strerror(errno))};
    return load;
  }
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) {
    load.error = {path, 0, "cannot read the file"};
    return load;
  }
  return ParseScenario(text, path);
}

}  // namespace market
