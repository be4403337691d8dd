#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "brindle/parser.hpp"
#include "brindle/printer.hpp"

namespace korva::brindle {
namespace {

using json::Value;

Value obj(std::initializer_list<std::pair<const char*, Value>> members) {
  json::Object o;
  for (const auto& [k, v] : members) o.insert(k, v);
  return Value(std::move(o));
}
Value data(const char* name) {
  return obj({{"op", "Data"}, {"name", name}});
}
Value cnst(Value v) {
  json::Object o;
  o.insert("op", "Const");
  o.insert("value", std::move(v));
  return Value(std::move(o));
}
Value bin(const char* tag, Value l, Value r) {
  return obj({{"op", tag}, {"l", std::move(l)}, {"r", std::move(r)}});
}
// These two move their children in (no copy), so that deep trees build in linear time.
Value un(const char* tag, Value of) {
  json::Object o;
  o.insert("op", tag);
  o.insert("of", std::move(of));
  return Value(std::move(o));
}
Value avg(Value of, Value n) {
  json::Object o;
  o.insert("op", "Average");
  o.insert("of", std::move(of));
  o.insert("n", std::move(n));
  return Value(std::move(o));
}
Value arr(std::initializer_list<Value> items) {
  return Value(json::Array(items));
}

struct Case {
  const char* name;
  Value tree;
  std::string text;
};

TEST(Printer, CanonicalText) {
  const Value a_plus_1 = bin("Add", data("a"), cnst(1));
  const Case cases[] = {
      {"call", avg(data("close"), 20), "sma(close, 20)"},
      {"infix", bin("Gt", data("a"), cnst(1.5)), "(a > 1.5)"},
      {"nested infix", bin("And", bin("Gt", data("a"), cnst(1.5)), bin("Lt", data("b"), cnst(2))),
       "((a > 1.5) and (b < 2))"},
      {"every infix symbol",
       bin("Or", bin("Ge", data("a"), data("b")),
           bin("Le", bin("Sub", data("c"), data("d")),
               bin("Div", bin("Mul", data("e"), data("f")), data("g")))),
       "((a >= b) or ((c - d) <= ((e * f) / g)))"},
      {"neg", un("Neg", data("x")), "(-x)"},
      {"not", un("Not", data("x")), "(not x)"},
      {"neg of const", un("Neg", cnst(5)), "(-5)"},
      {"multi-line call", avg(a_plus_1, 5), "sma(\n  (a + 1),\n  5\n)"},
      {"nested multi-line calls", avg(avg(a_plus_1, 2), 3),
       "sma(\n  sma(\n    (a + 1),\n    2\n  ),\n  3\n)"},
      {"operators keep their parent's depth", bin("Gt", avg(a_plus_1, 5), cnst(1)),
       "(sma(\n  (a + 1),\n  5\n) > 1)"},
      {"const and data arguments stay on one line", avg(cnst(5), 3), "sma(5, 3)"},
      {"ceil stays on one line", un("Ceil", a_plus_1), "ceil((a + 1))"},
      {"ceil is compound inside a call", avg(un("Ceil", data("x")), 5), "sma(\n  ceil(x),\n  5\n)"},
      {"rank flag", obj({{"op", "Rank"}, {"of", data("x")}, {"pct", false}}), "rank(x, pct=false)"},
      {"rank both flags",
       obj({{"op", "Rank"}, {"of", data("x")}, {"pct", true}, {"ascending", false}}),
       "rank(x, pct=true, ascending=false)"},
      {"rank second flag", obj({{"op", "Rank"}, {"of", data("x")}, {"ascending", false}}),
       "rank(x, ascending=false)"},
      {"stoch_d",
       obj({{"op", "StochD"},
            {"high", data("high")},
            {"low", data("low")},
            {"close", data("close")},
            {"n", 14},
            {"d", 3}}),
       "stoch_d(high, low, close, 14, d=3)"},
      {"hold_until",
       obj({{"op", "HoldUntil"},
            {"entry", data("e")},
            {"exit", data("x")},
            {"rank", data("r")},
            {"stop_loss", 0.05}}),
       "hold_until(e, x, rank=r, stop_loss=0.05)"},
      {"hold_until limit",
       obj({{"op", "HoldUntil"}, {"entry", data("e")}, {"exit", data("x")}, {"nstocks_limit", 5}}),
       "hold_until(e, x, nstocks_limit=5)"},
      {"rebalance", obj({{"op", "Rebalance"}, {"of", data("x")}, {"freq", "ME"}}),
       "rebalance(x, freq=\"ME\")"},
      {"rebalance on compound",
       obj({{"op", "Rebalance"}, {"of", data("x")}, {"on", bin("Gt", data("a"), data("b"))}}),
       "rebalance(\n  x,\n  on=(a > b)\n)"},
      {"groupby", obj({{"op", "GroupbyCategory"}, {"of", data("x")}, {"agg", "mean"}}),
       "groupby_category(x, \"mean\")"},
      {"strings are not escaped",
       obj({{"op", "GroupbyCategory"}, {"of", data("x")}, {"agg", "a\"b\\"}}),
       "groupby_category(x, \"a\"b\\\")"},
      {"sustain", obj({{"op", "Sustain"}, {"of", data("x")}, {"nwindow", 10}, {"nsatisfy", 3}}),
       "sustain(x, 10, nsatisfy=3)"},
      {"neutralize",
       obj({{"op", "Neutralize"}, {"of", data("x")}, {"by", arr({data("a"), data("b")})}}),
       "neutralize(x, by=[a, b])"},
      {"neutralize compound list",
       obj({{"op", "Neutralize"},
            {"of", data("x")},
            {"by", arr({a_plus_1, data("b")})},
            {"add_const", false}}),
       "neutralize(\n  x,\n  by=[(a + 1), b],\n  add_const=false\n)"},
      {"neutralize list not a list", obj({{"op", "Neutralize"}, {"of", data("x")}, {"by", 5}}),
       "neutralize(x, by=[])"},
      {"industry_rank",
       obj({{"op", "IndustryRank"}, {"of", data("x")}, {"categories", arr({"a", "b"})}}),
       "industry_rank(x, categories=[\"a\", \"b\"])"},
      {"industry_rank odd categories",
       obj({{"op", "IndustryRank"}, {"of", data("x")}, {"categories", arr({1, data("q")})}}),
       "industry_rank(x, categories=[1, {\"name\":\"q\",\"op\":\"Data\"}])"},
      {"industry_rank categories not a list",
       obj({{"op", "IndustryRank"}, {"of", data("x")}, {"categories", "a"}}),
       "industry_rank(x, categories=[])"},
      // An absent argument turns every later one into a keyword.
      {"absent first argument", obj({{"op", "Average"}, {"n", 20}}), "sma(n=20)"},
      {"absent middle argument",
       obj({{"op", "Atr"}, {"high", data("h")}, {"close", data("c")}, {"n", 14}}),
       "atr(h, close=c, n=14)"},
      {"no arguments", obj({{"op", "NormalizeRow"}}), "normalize_row()"},
      {"extra keys ignored", obj({{"op", "Average"}, {"of", data("c")}, {"n", 2}, {"zz", 1}}),
       "sma(c, 2)"},
      {"argument that is not a node", avg(Value(7), 2), "sma(7, 2)"},
      {"null argument is present", obj({{"op", "Rebalance"}, {"of", data("x")}, {"on", nullptr}}),
       "rebalance(x, on=null)"},
      // Constants.
      {"const double whole", cnst(20.0), "20.0"},
      {"const integer", cnst(20), "20"},
      {"const 1e16", cnst(1e16), "1e+16"},
      {"const negative", cnst(-3), "-3"},
      {"const missing value", obj({{"op", "Const"}}), "null"},
      // Fallbacks.
      {"unknown tag", obj({{"op", "Foo"}, {"of", data("x")}}), "(/* unprintable op Foo */)"},
      {"bare number", Value(5), "5"},
      {"object without op", obj({{"a", 1}}), "{\"a\":1}"},
      {"op not a string", obj({{"op", 2}, {"of", data("x")}, {"n", 5}}),
       "{\"n\":5,\"of\":{\"name\":\"x\",\"op\":\"Data\"},\"op\":2}"},
      {"array form", arr({"Data", "x"}), "[\"Data\",\"x\"]"},
      {"data without name", obj({{"op", "Data"}}), "?"},
      {"data with non-string name", obj({{"op", "Data"}, {"name", 5}}), "?"},
      {"neg without operand", obj({{"op", "Neg"}}), "(-null)"},
      {"infix without right operand", obj({{"op", "Gt"}, {"l", data("a")}}), "(a > null)"},
      {"infix over non-nodes", bin("Add", Value("s"), Value(true)), "(\"s\" + true)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(format(c.tree), c.text);
  }
}

TEST(Printer, FormatAtIndentsByDepth) {
  const Value tree = avg(bin("Add", data("a"), cnst(1)), 5);
  EXPECT_EQ(format_at(tree, 2), "sma(\n      (a + 1),\n      5\n    )");
  EXPECT_EQ(format_at(data("x"), 7), "x");
}

TEST(Printer, Literals) {
  struct LitCase {
    Value value;
    std::string text;
  } cases[] = {
      {Value(), "null"},
      {Value(true), "true"},
      {Value(false), "false"},
      {Value(std::uint64_t{18446744073709551615u}), "18446744073709551615"},
      {Value(std::int64_t{-5}), "-5"},
      {Value(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {Value(0.5), "0.5"},
      {Value(20.0), "20.0"},
      {Value(100.0), "100.0"},
      {Value(123.456), "123.456"},
      {Value(-2.5), "-2.5"},
      {Value(0.1 + 0.2), "0.30000000000000004"},
      {Value(0.0), "0.0"},
      {Value(-0.0), "-0.0"},
      // Positional for decimal exponents -5..15, scientific outside.
      {Value(1e-5), "0.00001"},
      {Value(1.25e-5), "0.0000125"},
      {Value(1e-6), "1e-6"},
      {Value(1.5e-7), "1.5e-7"},
      {Value(1e15), "1000000000000000.0"},
      {Value(9007199254740992.0), "9007199254740992.0"},
      {Value(1234567890123456.8), "1234567890123456.8"},
      {Value(1e16), "1e+16"},
      {Value(-1e16), "-1e+16"},
      {Value(1.2345678901234568e17), "1.2345678901234568e+17"},
      {Value(2.5e100), "2.5e+100"},
      {Value(1.7976931348623157e308), "1.7976931348623157e+308"},
      {Value(5e-324), "5e-324"},
      {Value("a b"), "\"a b\""},
      {arr({1, "a", Value()}), "[1,\"a\",null]"},
      {obj({{"b", 1}, {"a", arr({})}}), "{\"a\":[],\"b\":1}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(literal(c.value), c.text);
  }
}

TEST(Printer, NonFiniteDoublesPrintAsNull) {
  const double cases[] = {std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
  for (double d : cases) {
    std::string out;
    append_double(d, out);
    EXPECT_EQ(out, "null");
  }
}

TEST(Printer, ReparsingGivesTheSameTree) {
  const char* sources[] = {
      "sma(close, 20)",
      "close > sma(close, 20) and volume > 0",
      "let fast = ema(close, 5)\nlet slow = sma(close, 20)\nrank(fast - slow, pct=false) * -1",
      "hold_until(is_entry(rise(close, 3)), fall(close, 2), 10, rank=rsi(close, 14), "
      "stop_loss=0.05, trail_stop=1e-7)",
      "neutralize(pct_change(close, 5), by=[size, sma(value, 3) / 2], add_const=false)",
      "rebalance(normalize_row(mask(x, y > 0)), freq=\"ME\", on=z)",
      "industry_rank(x, [\"tech\", \"energy\"]) + groupby_category(x, \"mean\")",
      "not a > b or ceil(x) < 1e16 + 12345678901234567890",
      "stoch_d(high, low, close, 14, d=3) - sustain(x > 1, 10, nsatisfy=2.5)",
  };
  for (const char* src : sources) {
    SCOPED_TRACE(src);
    auto first = parse(src);
    ASSERT_TRUE(first.has_value()) << first.error().display();
    const std::string text = format(*first);
    auto second = parse(text);
    ASSERT_TRUE(second.has_value()) << text << "\n" << second.error().display();
    EXPECT_EQ(json::write(*second), json::write(*first)) << text;
    EXPECT_EQ(format(*second), text);
  }
}

TEST(Printer, DeepTreesPrintWithoutRecursion) {
  // Far deeper than any native stack could recurse.
  const std::size_t n = 200000;
  Value v = data("x");
  for (std::size_t i = 0; i < n; ++i) v = un("Neg", std::move(v));
  const std::string text = format(v);
  ASSERT_EQ(text.size(), 3 * n + 1);
  EXPECT_EQ(text.substr(0, 4), "(-(-");
  EXPECT_EQ(text.substr(2 * n - 2, 5), "(-x))");

  // A deep literal inside a Const.
  Value deep = arr({});
  for (int i = 0; i < 100000; ++i) {
    json::Array wrap;
    wrap.push_back(std::move(deep));
    deep = Value(std::move(wrap));
  }
  EXPECT_EQ(format(cnst(std::move(deep))).size(), 2 * 100001u);
}

TEST(Printer, IndentationStopsGrowingAtTheNestingLimit) {
  // 300 nested multi-line calls: every call line is indented by its depth up to 256
  // levels, and the text still reads back as the same calls.
  const std::size_t n = 300;
  Value v = bin("Add", data("a"), cnst(1));
  for (std::size_t i = 0; i < n; ++i) v = avg(std::move(v), 1);
  const std::string text = format(v);
  std::size_t max_indent = 0;
  std::string squeezed;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      const std::string_view line(text.data() + line_start, i - line_start);
      const std::size_t indent = line.find_first_not_of(' ');
      max_indent = std::max(max_indent, indent);
      line_start = i + 1;
    }
    if (i < text.size() && text[i] != ' ' && text[i] != '\n') squeezed += text[i];
  }
  EXPECT_EQ(max_indent, 2 * kMaxIndentLevels);
  std::string want;
  for (std::size_t i = 0; i < n; ++i) want += "sma(";
  want += "(a+1)";
  for (std::size_t i = 0; i < n; ++i) want += ",1)";
  EXPECT_EQ(squeezed, want);
  // Below the limit the indentation is exact: the innermost line of 200 calls.
  Value w = bin("Add", data("a"), cnst(1));
  for (int i = 0; i < 200; ++i) w = avg(std::move(w), 1);
  EXPECT_NE(format(w).find("\n" + std::string(400, ' ') + "(a + 1),\n"), std::string::npos);
}

}  // namespace
}  // namespace korva::brindle
