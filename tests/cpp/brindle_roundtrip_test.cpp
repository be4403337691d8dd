// Property: for random brindle programs, printing the parsed tree and parsing the text
// again gives the same tree, and printing is idempotent.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "brindle/catalogue.hpp"
#include "brindle/parser.hpp"
#include "brindle/printer.hpp"

namespace korva::brindle {
namespace {

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  std::string program() {
    bindings_ = 0;
    std::string src;
    const int lets = pick(4);
    for (int i = 0; i < lets; ++i) {
      src += "let b" + std::to_string(i) + " = " + expr(3) + (pick(2) ? "  # note\n" : "\n");
      ++bindings_;
    }
    // The body must be a node, not a bare constant. It starts with a name: a "(" or "-"
    // right after a binding would continue that binding's expression.
    return src + series() + " + (" + expr(4) + ")";
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string series() {
    static const char* kNames[] = {"close", "open", "high", "volume", "x_1", "_a", "Foo", "e"};
    if (bindings_ > 0 && pick(3) == 0) return "b" + std::to_string(pick(bindings_));
    return kNames[pick(8)];
  }

  std::string number() {
    static const char* kForms[] = {"0",
                                   "7",
                                   "20",
                                   "1_000",
                                   "2.5",
                                   "0.001",
                                   "1e-7",
                                   "2.5E+20",
                                   "1e16",
                                   "20.0",
                                   "1.",
                                   "9007000000000000",
                                   "9006999999999999",
                                   "12345678901234567890",
                                   "0.1e1",
                                   "3_000.000_5"};
    if (pick(3) == 0) {
      // A random positive finite double, written with 17 significant digits.
      double d;
      do {
        d = std::bit_cast<double>(rng_() & 0x7FFFFFFFFFFFFFFFull);
      } while (!std::isfinite(d));
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", d);
      return buf;
    }
    return kForms[pick(std::size(kForms))];
  }

  std::string expr(int depth) {
    const int choice = depth <= 0 ? pick(2) : pick(8);
    switch (choice) {
      case 0:
        return series();
      case 1:
        return number();
      case 2:
      case 3: {
        static const char* kOps[] = {"+", "-", "*", "/", "<", ">", "<=", ">=", "and", "or"};
        const std::string l = expr(depth - 1);
        const std::string r = expr(depth - 1);
        const std::string op = kOps[pick(10)];
        return pick(2) ? l + " " + op + " " + r : "(" + l + " " + op + " " + r + ")";
      }
      case 4:
        return (pick(2) ? "-" : "not ") + expr(depth - 1);
      case 5:
        return "(" + expr(depth - 1) + ")";
      default:
        return call(depth);
    }
  }

  std::string value(const ArgSpec& arg, int depth) {
    switch (arg.kind) {
      case ArgKind::Expr:
      case ArgKind::OptExpr:
        return expr(depth - 1);
      case ArgKind::ExprList: {
        std::string out = "[";
        const int n = pick(4);
        for (int i = 0; i < n; ++i) {
          // Commas between elements are optional, except before a "(" or "-", which would
          // continue the previous element.
          const std::string item = expr(depth - 1);
          const bool need_comma = item[0] == '(' || item[0] == '-';
          if (i > 0) out += need_comma || pick(2) ? ", " : " ";
          out += item;
        }
        return out + (n > 0 && pick(4) == 0 ? ",]" : "]");
      }
      case ArgKind::Number:
      case ArgKind::OptNumber:
        return number();
      case ArgKind::Bool:
        return pick(2) ? "true" : "false";
      case ArgKind::Str:
      case ArgKind::OptStr:
        return pick(2) ? "\"ME\"" : "\"a b#c\"";
      case ArgKind::StrList:
        return pick(2) ? "[]" : "[\"tech\", \"x\"]";
    }
    return "";
  }

  std::string call(int depth) {
    const auto table = ops();
    const OpSpec& spec = table[pick(static_cast<int>(table.size()))];
    const auto& names = spec.names;
    std::string out(names[pick(static_cast<int>(names.size()))]);
    out += "(";
    std::vector<std::string> args;
    bool keywords = false;
    std::vector<std::string> keyword_args;
    for (const ArgSpec& arg : spec.args) {
      if (is_optional(arg.kind) && pick(2) == 0) {
        keywords = true;
        continue;
      }
      if (!keywords && pick(4) != 0) {
        args.push_back(value(arg, depth));
      } else {
        keywords = true;
        keyword_args.push_back(std::string(arg.name) + "=" + value(arg, depth));
      }
    }
    std::shuffle(keyword_args.begin(), keyword_args.end(), rng_);
    args.insert(args.end(), keyword_args.begin(), keyword_args.end());
    for (std::size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + args[i];
    return out + (pick(4) == 0 && !args.empty() ? ",)" : ")");
  }

  std::mt19937_64 rng_;
  int bindings_ = 0;
};

TEST(BrindleRoundTrip, PrintedTreesParseBackToTheSameTree) {
  Generator gen(0x5EED'B21D'1E00ull);
  for (int i = 0; i < 1500; ++i) {
    const std::string src = gen.program();
    auto first = parse(src);
    ASSERT_TRUE(first.has_value()) << src << "\n" << first.error().display();
    const std::string text = format(*first);
    auto second = parse(text);
    ASSERT_TRUE(second.has_value()) << src << "\n---\n" << text << "\n" << second.error().display();
    ASSERT_EQ(json::write(*second), json::write(*first)) << src << "\n---\n" << text;
    ASSERT_EQ(format(*second), text);
  }
}

}  // namespace
}  // namespace korva::brindle
