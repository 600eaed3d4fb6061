// Replays a fuzz target's corpus without libFuzzer: every file of the
// folders given (sorted by name) goes once through LLVMFuzzerTestOneInput.
// Built with the normal compiler into the sanitizer build of the tests, so
// each committed input is checked by AddressSanitizer and
// UndefinedBehaviorSanitizer on every test run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_regular_file(argv[i], error)) {
      inputs.emplace_back(argv[i]);
      continue;
    }
    for (fs::directory_iterator it(argv[i], error), end; !error && it != end; it.increment(error))
      if (it->is_regular_file()) inputs.push_back(it->path());
    if (error) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i], error.message().c_str());
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "%s: no inputs (usage: %s CORPUS_DIR|FILE ...)\n", argv[0], argv[0]);
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  std::size_t bytes = 0;
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
      return 1;
    }
    // A copy of exactly the file's size, so that a read past its end is
    // seen by AddressSanitizer as it is under libFuzzer.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), data.size());
    bytes += data.size();
  }
  std::printf("replayed %zu inputs (%zu bytes)\n", inputs.size(), bytes);
  return 0;
}
