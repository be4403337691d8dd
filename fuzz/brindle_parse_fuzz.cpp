// libFuzzer target for the brindle front end (not part of the default build):
//   clang++ -std=c++23 -g -O1 -fsanitize=fuzzer,address,undefined -I src \
//     fuzz/brindle_parse_fuzz.cpp src/brindle/*.cpp src/json/*.cpp -o brindle_parse_fuzz
//
// Any input must parse or fail with a positioned error, never crash; a parsed tree must
// print, and the printed text of a tree that is not too deep must parse back to the same
// tree. Linting must agree with parsing about whether the source is valid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "brindle/linter.hpp"
#include "brindle/parser.hpp"
#include "brindle/printer.hpp"

using namespace korva::brindle;

namespace {

// Series names the printer writes as plain text but the parser reads differently.
bool has_reserved_series(const Analysis& a) {
  for (const NameRef& r : a.series_refs) {
    if (r.name == "let" || r.name == "not" || r.name == "and" || r.name == "or" ||
        r.name == "true" || r.name == "false") {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view src(reinterpret_cast<const char*>(data), size);
  auto analysis = parse_analyzed(src);
  const std::vector<std::string> series{"close", "open"};
  auto findings = lint(src, &series);
  if (analysis.has_value() != findings.has_value()) std::abort();
  if (!analysis) {
    if (analysis.error().line == 0 || analysis.error().col == 0) std::abort();
    return 0;
  }
  const std::string text = format(analysis->expr);
  // Each tree level prints as at most two levels of source nesting ("(-" and "(not ").
  if (tree_stats(analysis->expr).depth > kMaxNesting / 2 || has_reserved_series(*analysis)) {
    return 0;
  }
  auto again = parse(text);
  // StrList elements are not checked by the parser, so a list of anything but strings may
  // not read back; everything else must.
  if (!again) {
    if (text.find("categories=") != std::string::npos) return 0;
    std::abort();
  }
  if (korva::json::write(*again) != korva::json::write(analysis->expr)) {
    if (text.find("categories=") != std::string::npos) return 0;
    std::abort();
  }
  return 0;
}
