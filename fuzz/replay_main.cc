// Runs a fuzz target's entry point once on each input, without the fuzzer: the named seeds and the
// regressions replay in any build, with any compiler.
//
//   TARGET_replay PATH...   each PATH a file, or a folder whose regular files are read in name
//   order
//
// Each input's name is printed before it runs, so a crash names its input. A check inside the entry
// point that fails ends the process (a trap); the exit status is then non-zero. Exits 1 when a path
// cannot be read or the paths hold no input at all (a replay of nothing proves nothing), 2 when no
// path is given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The inputs PATH names: itself, or the regular files of a folder in name order. False when PATH
// cannot be read.
bool CollectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (!fs::is_regular_file(path, error)) {
      std::cerr << "replay: " << path.string() << ": not a file or folder\n";
      return false;
    }
    inputs.push_back(path);
    return true;
  }
  std::vector<fs::path> files;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(it->path());
  }
  if (error) {
    std::cerr << "replay: " << path.string() << ": " << error.message() << "\n";
    return false;
  }
  std::sort(files.begin(), files.end());
  inputs.insert(inputs.end(), files.begin(), files.end());
  return true;
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " PATH...  (files, or folders of files)\n";
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], inputs)) return 1;
  }
  if (inputs.empty()) {
    std::cerr << "replay: no input in the paths given\n";
    return 1;
  }
  std::vector<uint8_t> bytes;
  for (const fs::path& input : inputs) {
    if (!ReadFile(input, bytes)) {
      std::cerr << "replay: " << input.string() << ": cannot read\n";
      return 1;
    }
    std::cout << input.string() << " (" << bytes.size() << " bytes)" << std::endl;
    // An empty vector's data() may be null; the entry point is promised a valid pointer.
    static const uint8_t kEmpty = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kEmpty : bytes.data(), bytes.size());
  }
  std::cout << inputs.size() << " inputs replayed\n";
  return 0;
}
