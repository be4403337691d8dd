// Parse time of a 1 MB brindle program of 20 000 `let` bindings, next to baselines
// measured in the same run: one plain pass over the source bytes, and lexing alone. Also
// lints the same program and prints a large tree.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "brindle/lexer.hpp"
#include "brindle/linter.hpp"
#include "brindle/parser.hpp"
#include "brindle/printer.hpp"

namespace {

using korva::brindle::lex;
using korva::brindle::lint;
using korva::brindle::parse;

std::string make_program() {
  std::string src;
  // 100 base bindings; the other bindings each use one of them, so substitution stays
  // linear in the program size.
  for (int i = 0; i < 100; ++i) {
    src += "let b" + std::to_string(i) + " = sma(close, " + std::to_string(i + 1) +
           ") / ema(open, 12)  # base signal\n";
  }
  for (int i = 100; i < 20000; ++i) {
    src += "let v" + std::to_string(i) + " = b" + std::to_string(i % 100) + " - rsi(high, " +
           std::to_string(i % 50 + 2) + ") * 0.5 > volume and not x_" + std::to_string(i % 7) +
           "\n";
  }
  src += "rank(v19999, pct=false) + v19998 * v19997";
  return src;
}

template <typename F>
double best_seconds(int reps, F&& f) {
  double best = 1e300;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main() {
  const std::string src = make_program();
  std::printf("program: %zu bytes, 20000 bindings\n", src.size());

  volatile unsigned long sink = 0;
  const double scan = best_seconds(20, [&] {
    unsigned long h = 0;
    for (unsigned char c : src) h = h * 31 + c;
    sink = sink + h;
  });
  const double lexing = best_seconds(5, [&] {
    auto t = lex(src);
    sink = sink + (t ? t->size() : 0);
  });
  const double parsing = best_seconds(5, [&] {
    auto t = parse(src);
    sink = sink + (t ? 1 : 0);
  });
  const std::vector<std::string> series{"close", "open", "high", "volume"};
  const double linting = best_seconds(5, [&] {
    auto l = lint(src, &series);
    sink = sink + (l ? l->size() : 0);
  });
  // Printing: a 20 000-term sum of calls (the program above substitutes to a small body).
  std::string sum = "sma(close, 1)";
  for (int i = 1; i < 20000; ++i) {
    sum += " + rank(ema(x_" + std::to_string(i % 7) + ", " + std::to_string(i % 50 + 2) +
           "), pct=false) * 0.5";
  }
  auto tree = parse(sum);
  if (!tree) {
    std::printf("parse failed: %s\n", tree.error().display().c_str());
    return 1;
  }
  std::size_t printed = 0;
  const double printing = best_seconds(5, [&] {
    printed = korva::brindle::format(*tree).size();
    sink = sink + printed;
  });

  std::printf("byte scan : %9.3f ms (baseline)\n", scan * 1e3);
  std::printf("lex       : %9.3f ms  (%6.1fx baseline)\n", lexing * 1e3, lexing / scan);
  std::printf("parse     : %9.3f ms  (%6.1fx baseline, %5.1fx lex)\n", parsing * 1e3,
              parsing / scan, parsing / lexing);
  std::printf("lint      : %9.3f ms  (%6.1fx baseline)\n", linting * 1e3, linting / scan);
  std::printf("format    : %9.3f ms  (%zu bytes of text from a 20000-term sum)\n", printing * 1e3,
              printed);
  return 0;
}
