// Replays fuzz inputs without libFuzzer: every regular file of the folders named on the command
// line (a folder that does not exist holds none) goes to LLVMFuzzerTestOneInput once. A fault
// aborts the program, which fails the test; otherwise it prints how many inputs it ran, and finding
// none fails too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path folder(argv[i]);
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "Cannot read %s\n", path.c_str());
      return 1;
    }
    std::fprintf(stderr, "Running %s\n", path.c_str());
    // A copy of exactly the input's size, so that a read past its end is caught by sanitizers.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  // No input at all means a wrong folder, not a pass.
  return inputs.empty() ? 1 : 0;
}
