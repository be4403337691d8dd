// Fuzz target for the two readers of untrusted JSON text: json::read and brindle::read_expr.
//
// Properties checked on every input, beyond not crashing:
//   - a failure message always ends with the " at line L column C" position suffix;
//   - a value that reads is written back compactly, and that text reads back to an equal
//     value that is written identically (every number keeps its value and kind);
//   - read_expr never fails with a positioned message on text the JSON reader accepts,
//     unless the message is about the outermost node.
//
// libFuzzer build (not part of the CMake build):
//   clang++ -std=c++23 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/json_reader_fuzz.cpp src/json/*.cpp src/brindle/expr.cpp src/brindle/expr_reader.cpp
// Without libFuzzer, link fuzz/standalone_main.cpp instead of -fsanitize=fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "brindle/expr.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"

namespace {

bool has_position(const std::string& message) {
  const std::size_t at = message.rfind(" at line ");
  return at != std::string::npos && message.find(" column ", at) != std::string::npos;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto value = korva::json::read(text);
  if (!value) {
    check(has_position(value.error()));
  } else {
    const std::string written = korva::json::write(*value);
    auto again = korva::json::read(written);
    check(again.has_value());
    check(*again == *value);
    check(korva::json::write(*again) == written);
  }

  auto expr = korva::brindle::read_expr(text);
  if (!expr && value && has_position(expr.error())) {
    // Text that is valid JSON can only fail the first stage on its outermost node.
    const std::string& m = expr.error();
    check(m.starts_with("missing field `op`") || m.starts_with("duplicate field `op`") ||
          m.starts_with("unknown variant") || m.starts_with("invalid value") ||
          m.starts_with("invalid type"));
  }
  return 0;
}
