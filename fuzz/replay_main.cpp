// A plain driver for a fuzz target: feeds it every file of the folders (or the files) it is given,
// once each, so the test build checks the seed corpora without libFuzzer. A finding aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::filesystem::path& file) {
  // Named first, so that an input that aborts the run is known.
  std::printf("%s\n", file.string().c_str());
  std::fflush(stdout);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return 1;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (!std::filesystem::is_directory(path)) {
      failures += Replay(path);
      ++inputs;
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      if (entry.is_regular_file()) {
        failures += Replay(entry.path());
        ++inputs;
      }
    }
  }
  std::printf("replayed %d inputs\n", inputs);
  // No input at all means a wrong folder, not a clean corpus.
  return failures == 0 && inputs > 0 ? 0 : 1;
}
