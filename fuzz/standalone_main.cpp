// Runs the fuzz target without libFuzzer: every file named on the command line, then a
// number of random mutations of a few built-in seeds (deterministic).
//   g++ -std=c++23 -g -O1 -fsanitize=address,undefined -Isrc fuzz/json_reader_fuzz.cpp \
//     fuzz/standalone_main.cpp src/json/*.cpp src/brindle/expr.cpp src/brindle/expr_reader.cpp
//   ./a.out [files...] [-n iterations]
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run(const std::string& s) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

const char* const kSeeds[] = {
    R"({"op": "Average", "of": {"op": "Data", "name": "close"}, "n": 20})",
    R"(["HoldUntil", ["Data", "a"], ["Data", "b"], null, null, 0.05, 1e3, -2, 3.5e-1])",
    R"({"op": "Neutralize", "of": ["Data", "x"], "by": [["Data", "y"]], "add_const": false})",
    R"({"op": "IndustryRank", "of": {"op": 0, "name": "\u00e9\ud83d\ude00"}, "categories": ["a"]})",
    R"([1, -0, 18446744073709551616, -9223372036854775809, 1.5e300, 5e-324, "\\\"\n", {}, []])",
};

const char kAlphabet[] = "{}[]:,\"\\ 0123456789-+.eEtruefalsnl\n\t\x01\x80\xff";

}  // namespace

int main(int argc, char** argv) {
  long iterations = 200000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-n" && i + 1 < argc) {
      iterations = std::stol(argv[++i]);
      continue;
    }
    std::ifstream in(arg, std::ios::binary);
    run(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::mt19937_64 rng(12345);
  for (const char* seed : kSeeds) run(seed);
  for (long it = 0; it < iterations; ++it) {
    std::string s = kSeeds[rng() % std::size(kSeeds)];
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !s.empty(); ++e) {
      const std::size_t at = rng() % s.size();
      switch (rng() % 4) {
        case 0:
          s[at] = kAlphabet[rng() % (sizeof kAlphabet - 1)];
          break;
        case 1:
          s.insert(at, 1, kAlphabet[rng() % (sizeof kAlphabet - 1)]);
          break;
        case 2:
          s.erase(at, 1 + rng() % 3);
          break;
        default:
          s.insert(at, s.substr(rng() % s.size(), rng() % 16));
          break;
      }
    }
    run(s);
  }
  std::printf("ran %ld mutated inputs\n", iterations);
  return 0;
}
