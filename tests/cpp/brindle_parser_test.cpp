#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brindle/parser.hpp"

namespace korva::brindle {
namespace {

// Compact JSON of expected nodes, keys in byte order as the parser's objects keep them.
std::string D(const std::string& name) {
  return R"({"name":")" + name + R"(","op":"Data"})";
}
std::string C(const std::string& value) {
  return R"({"op":"Const","value":)" + value + "}";
}
std::string bin(const std::string& tag, const std::string& l, const std::string& r) {
  return R"({"l":)" + l + R"(,"op":")" + tag + R"(","r":)" + r + "}";
}
std::string un(const std::string& tag, const std::string& of) {
  return R"({"of":)" + of + R"(,"op":")" + tag + R"("})";
}
std::string avg(const std::string& of, const std::string& n) {
  return R"({"n":)" + n + R"(,"of":)" + of + R"(,"op":"Average"})";
}

struct Ok {
  std::string src;
  std::string json;
};

TEST(Parser, BuildsTrees) {
  const Ok cases[] = {
      {"sma(close, 20)", avg(D("close"), "20")},
      {"average(close, n=20)", avg(D("close"), "20")},
      {"sma (close, 20,)", avg(D("close"), "20")},
      {"sma(close, n=5, n=20)", avg(D("close"), "20")},
      {"sma(close, 2.5)", avg(D("close"), "2.5")},
      {"sma(close, 20.0)", avg(D("close"), "20")},
      {"close > sma(close, 20) and volume > 0",
       bin("And", bin("Gt", D("close"), avg(D("close"), "20")), bin("Gt", D("volume"), C("0")))},
      // Prefix minus takes in sums and products, not comparisons.
      {"-close + 1", un("Neg", bin("Add", D("close"), C("1")))},
      {"(-close) + 1", bin("Add", un("Neg", D("close")), C("1"))},
      {"a * -b + c", bin("Mul", D("a"), un("Neg", bin("Add", D("b"), D("c"))))},
      {"-a * b", un("Neg", bin("Mul", D("a"), D("b")))},
      {"-a < b", bin("Lt", un("Neg", D("a")), D("b"))},
      {"-5", un("Neg", C("5"))},
      {"- - a", un("Neg", un("Neg", D("a")))},
      {"a - -b", bin("Sub", D("a"), un("Neg", D("b")))},
      // `not` binds looser than comparisons and tighter than `and`.
      {"not a > b", un("Not", bin("Gt", D("a"), D("b")))},
      {"not a and b", bin("And", un("Not", D("a")), D("b"))},
      {"not not a", un("Not", un("Not", D("a")))},
      {"not a + b", un("Not", bin("Add", D("a"), D("b")))},
      {"not(x)", un("Not", D("x"))},
      // Left associativity and the binding powers.
      {"a - b - c", bin("Sub", bin("Sub", D("a"), D("b")), D("c"))},
      {"a / b / c", bin("Div", bin("Div", D("a"), D("b")), D("c"))},
      {"a < b < c", bin("Lt", bin("Lt", D("a"), D("b")), D("c"))},
      {"a or b and c", bin("Or", D("a"), bin("And", D("b"), D("c")))},
      {"a and b or c", bin("Or", bin("And", D("a"), D("b")), D("c"))},
      {"a + b * c", bin("Add", D("a"), bin("Mul", D("b"), D("c")))},
      {"a * b + c", bin("Add", bin("Mul", D("a"), D("b")), D("c"))},
      {"a + b >= c * d or e <= f",
       bin("Or", bin("Ge", bin("Add", D("a"), D("b")), bin("Mul", D("c"), D("d"))),
           bin("Le", D("e"), D("f")))},
      {"(a + b) * c", bin("Mul", bin("Add", D("a"), D("b")), D("c"))},
      {"(5) + x", bin("Add", C("5"), D("x"))},
      {"x + 0.5", bin("Add", D("x"), C("0.5"))},
      // Keyword and optional arguments.
      {"rank(x, pct=false)", R"({"of":)" + D("x") + R"(,"op":"Rank","pct":false})"},
      {"rank(x, true, false)",
       R"({"ascending":false,"of":)" + D("x") + R"(,"op":"Rank","pct":true})"},
      {"hold_until(a, b, stop_loss=0.1)",
       R"({"entry":)" + D("a") + R"(,"exit":)" + D("b") + R"(,"op":"HoldUntil","stop_loss":0.1})"},
      {"hold_until(a, b, 5, r)", R"({"entry":)" + D("a") + R"(,"exit":)" + D("b") +
                                     R"(,"nstocks_limit":5,"op":"HoldUntil","rank":)" + D("r") +
                                     "}"},
      {"neutralize(x, by=[size, value])", R"({"by":[)" + D("size") + "," + D("value") +
                                              R"(],"of":)" + D("x") + R"(,"op":"Neutralize"})"},
      {"neutralize(x, by=[size value])", R"({"by":[)" + D("size") + "," + D("value") +
                                             R"(],"of":)" + D("x") + R"(,"op":"Neutralize"})"},
      {"neutralize(x, by=[1,], add_const=false)",
       R"({"add_const":false,"by":[)" + C("1") + R"(],"of":)" + D("x") + R"(,"op":"Neutralize"})"},
      {"neutralize(x, [])", R"({"by":[],"of":)" + D("x") + R"(,"op":"Neutralize"})"},
      {"rebalance(x, freq=\"ME\")", R"({"freq":"ME","of":)" + D("x") + R"(,"op":"Rebalance"})"},
      {"groupby_category(x, \"mean\")",
       R"({"agg":"mean","of":)" + D("x") + R"(,"op":"GroupbyCategory"})"},
      {"industry_rank(x, categories=[\"a\", \"b\"])",
       R"({"categories":["a","b"],"of":)" + D("x") + R"(,"op":"IndustryRank"})"},
      {"stoch_d(h, l, c, 14)", R"({"close":)" + D("c") + R"(,"high":)" + D("h") + R"(,"low":)" +
                                   D("l") + R"(,"n":14,"op":"StochD"})"},
      {"sustain(x, 10, nsatisfy=3)",
       R"({"nsatisfy":3,"nwindow":10,"of":)" + D("x") + R"(,"op":"Sustain"})"},
      {"obv(close, volume)",
       R"({"close":)" + D("close") + R"(,"op":"Obv","volume":)" + D("volume") + "}"},
      // Bindings are substituted; a name is bound only after its own expression.
      {"let fast = sma(close, 5)\nlet slow = sma(close, 20)\nfast > slow and volume > 0",
       bin("And", bin("Gt", avg(D("close"), "5"), avg(D("close"), "20")),
           bin("Gt", D("volume"), C("0")))},
      {"let x = x + 1\nx", bin("Add", D("x"), C("1"))},
      {"let k = 5\nx * k", bin("Mul", D("x"), C("5"))},
      {"let a = close\nopen", D("open")},
      {"let a = sma(close, 5)\na > a", bin("Gt", avg(D("close"), "5"), avg(D("close"), "5"))},
      {"# comment\nlet a = close # c\n\n  a # trailing", D("close")},
      // `let` binds any name, but `true`/`false` and a name before "(" keep their meaning.
      {"let sma = close\nsma(sma, 2)", avg(D("close"), "2")},
  };
  for (const Ok& c : cases) {
    SCOPED_TRACE(c.src);
    auto got = parse(c.src);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    EXPECT_EQ(json::write(*got), c.json);
  }
}

TEST(Parser, NumberLiteralsBecomeIntegersOnlyWhenWholeAndSmall) {
  struct Case {
    const char* src;
    json::Kind kind;
    double value;
  } cases[] = {
      {"x + 20", json::Kind::UInt, 20},
      {"x + 20.0", json::Kind::UInt, 20},
      {"x + 0", json::Kind::UInt, 0},
      {"x + 1e3", json::Kind::UInt, 1000},
      {"x + 9006999999999999", json::Kind::UInt, 9006999999999999.0},
      {"x + 9007000000000000", json::Kind::Double, 9007000000000000.0},
      {"x + 1e16", json::Kind::Double, 1e16},
      {"x + 2.5", json::Kind::Double, 2.5},
      {"x + 1e-400", json::Kind::UInt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.src);
    auto got = parse(c.src);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    const json::Value& v = *got->as_object().find("r")->as_object().find("value");
    EXPECT_EQ(v.kind(), c.kind);
    EXPECT_EQ(v.to_double(), c.value);
  }
}

struct Err {
  std::string src;
  std::string message;
  std::size_t line, col;
};

void expect_error(const Err& c) {
  SCOPED_TRACE(c.src);
  auto got = parse(c.src);
  ASSERT_FALSE(got.has_value()) << json::write(*got);
  EXPECT_EQ(got.error().message, c.message);
  EXPECT_EQ(got.error().line, c.line);
  EXPECT_EQ(got.error().col, c.col);
}

TEST(Parser, Errors) {
  const Err cases[] = {
      // Bare constants are refused at the end of input.
      {"5", "a strategy must be an expression, not a bare constant", 1, 2},
      {"true", "a strategy must be an expression, not a bare constant", 1, 5},
      {"\"s\"", "a strategy must be an expression, not a bare constant", 1, 4},
      {"(5)", "a strategy must be an expression, not a bare constant", 1, 4},
      {"let a = x\n1e999", "a strategy must be an expression, not a bare constant", 2, 6},
      // Bindings.
      {"let 5 = x\nx", "expected name after `let`", 1, 5},
      {"let", "expected name after `let`", 1, 4},
      {"let x", "expected `=` in let binding", 1, 6},
      {"let x 5 + 3", "expected `=` in let binding", 1, 9},
      {"let x = close\nlet x = open\nx", "`x` is already defined", 2, 5},
      {"let x = true\nx", "a boolean cannot stand alone as an expression", 2, 1},
      {"let x = [a]\nx", "unexpected token LBracket", 1, 9},
      {"let n = 20\nsma(close, n)", "`n` must be a number", 2, 1},
      {"let f = close\nf(1)", "unknown op `f`", 2, 1},
      // Expressions.
      {"x y", "unexpected trailing input", 1, 3},
      {"x = 1", "unexpected trailing input", 1, 3},
      {"x )", "unexpected trailing input", 1, 3},
      {"+x", "unexpected operator `+`", 1, 1},
      {"x + * y", "unexpected operator `*`", 1, 5},
      {"x >= <= y", "unexpected operator `<=`", 1, 6},
      {")", "unexpected token RParen", 1, 1},
      {"", "unexpected token Eof", 1, 1},
      {"x +", "unexpected token Eof", 1, 4},
      {"x and", "unexpected token Eof", 1, 6},
      {"x + let", "unexpected token Let", 1, 5},
      {"x + ,", "unexpected token Comma", 1, 5},
      {"(close", "expected `)`", 1, 7},
      {"(a b)", "expected `)`", 1, 5},
      {"(a b c", "expected `)`", 1, 6},
      {"x + true", "a boolean cannot stand alone as an expression", 1, 9},
      {"x and \"s\"", "a string cannot stand alone as an expression", 1, 10},
      {"1e999 + x", "invalid expression: null", 1, 10},
      {"-true", "a boolean cannot stand alone as an expression", 1, 6},
      {"not \"a\" > 1", "a string cannot stand alone as an expression", 1, 12},
      // Calls.
      {"foo(close)", "unknown op `foo`", 1, 1},
      {"SMA(close, 5)", "unknown op `SMA`", 1, 1},
      {"sma(close 20)", "expected `,` or `)`", 1, 11},
      {"sma(x, 5", "expected `,` or `)`", 1, 9},
      {"sma(,)", "unexpected token Comma", 1, 5},
      {"neutralize(x, by=[a", "unexpected token Eof", 1, 20},
      {"sma(close, n=20, 5)", "positional argument after keyword argument", 1, 18},
      {"sma(close, 20, n=5)", "`Average` has no field `n`", 1, 1},
      {"sma(close, 20, m=5)", "`Average` has no field `m`", 1, 1},
      {"sma(close)", "`Average` requires `n`", 1, 1},
      {"x + sma(close)", "`Average` requires `n`", 1, 5},
      {"sma(close, 1, 2)", "`Average` takes at most 2 positional args", 1, 1},
      {"sustain(x, 1, 2, 3)", "`Sustain` takes at most 3 positional args", 1, 1},
      {"neutralize(x)", "`Neutralize` requires `by`", 1, 1},
      {"groupby_category(x)", "`GroupbyCategory` requires `agg`", 1, 1},
      // A missing required argument is reported before a stray keyword.
      {"sma(close, m=5)", "`Average` requires `n`", 1, 1},
      {"shift(close, -1)", "`n` must be a number", 1, 1},
      {"sma(close, \"5\")", "`n` must be a number", 1, 1},
      {"sma(close, 1e999)", "`n` must be a number", 1, 1},
      {"stoch_d(h, l, c, 14, d=x)", "`d` must be a number", 1, 1},
      {"rank(x, pct=1)", "`pct` must be true/false", 1, 1},
      {"rebalance(x, freq=1)", "`freq` must be a string", 1, 1},
      {"groupby_category(x, mean)", "`agg` must be a string", 1, 1},
      {"neutralize(x, by=y)", "`by` must be a list `[ ... ]`", 1, 1},
      {"industry_rank(x, categories=\"a\")", "`categories` must be a list of strings", 1, 1},
      {"neutralize(x, by=[y, true, \"s\"])", "a boolean cannot stand alone as an expression", 1, 1},
      {"sma(\"x\", 5)", "a string cannot stand alone as an expression", 1, 1},
      {"sma([x], 5)", "invalid expression: [{\"name\":\"x\",\"op\":\"Data\"}]", 1, 1},
      {"mask(x, by=[])", "invalid expression: []", 1, 1},
      {"rank(x, on=y)", "`Rank` has no field `on`", 1, 1},
      // The earliest leftover keyword is named; values of later unknown keywords are still
      // parsed, so their errors come first.
      {"sma(close, 5, q=1, r=2, n=3)", "`Average` has no field `q`", 1, 1},
      {"sma(close, n=5, q=1, r=2, q=3)", "`Average` has no field `q`", 1, 1},
      {"sma(close, 5, q=1, r=sma(y))", "`Average` requires `n`", 1, 22},
      {"sma(close, 5, q=1, r=[a, true], s=2)", "`Average` has no field `q`", 1, 1},
      {"sma(close, q=1, r=2)", "`Average` requires `n`", 1, 1},
      // Lexer errors pass through unchanged.
      {"sma(close, $)", "unexpected character `$`", 1, 12},
      {"x + \"abc", "unterminated string", 1, 5},
      {"x + 1.2.3", "invalid number `1.2.3`", 1, 5},
  };
  for (const Err& c : cases) expect_error(c);
}

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(Parser, NestingIsBoundedAt256Levels) {
  const std::size_t n = kMaxNesting;
  ASSERT_EQ(n, 256u);
  // At the limit everything parses.
  const std::string at_limit[] = {
      repeat("(", n) + "x" + repeat(")", n),
      repeat("-", n) + "x",
      repeat("not ", n) + "x",
      repeat("ceil(", n) + "x" + repeat(")", n),
      repeat("ceil(", n - 2) + "neutralize(x, by=[])" + repeat(")", n - 2),
      // The deepest native recursion per level: every binding power between two calls.
      repeat("a or b and c < d + e * ceil(", n) + "x" + repeat(")", n),
  };
  for (const std::string& src : at_limit) {
    SCOPED_TRACE(src.substr(0, 20));
    auto got = parse(src);
    EXPECT_TRUE(got.has_value()) << got.error().display();
  }
  // One more level fails at the token that opens it.
  const Err over[] = {
      {repeat("(", n + 1) + "x" + repeat(")", n + 1), "expression nested too deeply", 1, n + 1},
      {repeat("-", n + 1) + "x", "expression nested too deeply", 1, n + 1},
      {repeat("not ", n + 1) + "x", "expression nested too deeply", 1, 4 * n + 1},
      {repeat("ceil(", n + 1) + "x" + repeat(")", n + 1), "expression nested too deeply", 1,
       5 * n + 1},
      {repeat("ceil(", n - 1) + "neutralize(x, by=[x])" + repeat(")", n - 1),
       "expression nested too deeply", 1, 5 * (n - 1) + 18},
      {repeat("(-", n / 2) + "(x" + repeat(")", n / 2 + 1), "expression nested too deeply", 1,
       n + 1},
      {"x +\n" + repeat("(", 100000), "expression nested too deeply", 2, n + 1},
      {repeat("- ", 100000) + "x", "expression nested too deeply", 1, 2 * n + 1},
  };
  for (const Err& c : over) expect_error(c);
  // Sibling nesting does not add up.
  std::string siblings = "x";
  for (int i = 0; i < 1000; ++i) siblings += " + " + repeat("(", 200) + "y" + repeat(")", 200);
  EXPECT_TRUE(parse(siblings).has_value());
}

TEST(Parser, ManyDistinctKeywordsInOneCall) {
  // 200 000 different keyword names: each one is looked up among the function's own
  // arguments, not among all the keywords before it.
  std::string src = "sma(close, 5";
  for (int i = 0; i < 200000; ++i) src += ", k" + std::to_string(i) + "=1";
  src += ")";
  expect_error({src, "`Average` has no field `k0`", 1, 1});
}

TEST(Parser, DeepTreesFromFlatSourceParseWithoutRecursion) {
  // A long left-associative chain is a tree as deep as the chain is long.
  const std::size_t terms = 50000;
  std::string src = "x" + repeat(" + x", terms - 1);
  auto got = parse(src);
  ASSERT_TRUE(got.has_value());
  std::size_t depth = 0;
  for (const json::Value* v = &*got; v != nullptr && v->is_object(); v = v->as_object().find("l")) {
    ++depth;
  }
  EXPECT_EQ(depth, terms);  // terms - 1 Add nodes and the innermost Data

  // Substituting a binding copies a deep tree.
  auto copied = parse("let a = x" + repeat(" - x", 50000) + "\nnot a");
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(value_count(*copied), 2 + (50000 * 5 + 3));
}

TEST(Parser, SubstitutionSizeIsBounded) {
  // Every binding doubles the tree; a0 holds 8 values (Add, its tag, two Data nodes of 3),
  // and a_i holds 10 * 2^i - 2. Binding i copies a_(i-1) twice, so after binding i the
  // copies total 20 * (2^i - 1) - 4i: 655280 after a15. In binding 16, the first a15
  // (327678 values) still fits under 1000000 and the second does not.
  std::string src = "let a0 = x + x\n";
  for (int i = 1; i <= 60; ++i) {
    src += "let a" + std::to_string(i) + " = a" + std::to_string(i - 1) + " + a" +
           std::to_string(i - 1) + "\n";
  }
  src += "a60";
  expect_error({src, std::string(kTooLargeMessage), 17, 17});

  std::string small = "let a0 = x + x\n";
  for (int i = 1; i <= 15; ++i) {
    small += "let a" + std::to_string(i) + " = a" + std::to_string(i - 1) + " + a" +
             std::to_string(i - 1) + "\n";
  }
  auto ok = parse(small + "a15");
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(value_count(*ok), 10u * 32768u - 2u);
}

TEST(Parser, AnalysisListsUnusedBindingsAndSeriesReferences) {
  auto a = parse_analyzed("let a = close\nlet b = sma(vol, 5) > a\nlet c = b\nopen + b");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->unused_lets, (std::vector<NameRef>{{"c", 3, 5}}));
  EXPECT_EQ(a->series_refs,
            (std::vector<NameRef>{{"close", 1, 9}, {"vol", 2, 13}, {"open", 4, 1}}));

  auto b = parse_analyzed("let a = close\nlet b = open\nclose + close");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->unused_lets, (std::vector<NameRef>{{"a", 1, 5}, {"b", 2, 5}}));
  EXPECT_EQ(
      b->series_refs,
      (std::vector<NameRef>{{"close", 1, 9}, {"open", 2, 9}, {"close", 3, 1}, {"close", 3, 9}}));

  // A name used inside its own binding is the series, and the binding stays unused.
  auto c = parse_analyzed("let x = x + 1\ny");
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->unused_lets, (std::vector<NameRef>{{"x", 1, 5}}));
  EXPECT_EQ(c->series_refs, (std::vector<NameRef>{{"x", 1, 9}, {"y", 2, 1}}));
}

TEST(Parser, PromoteAndBuildDirectly) {
  EXPECT_EQ(json::write(*promote(json::Value(2.5))), C("2.5"));
  EXPECT_EQ(json::write(*promote(json::Value(-3))), C("-3"));
  EXPECT_EQ(promote(json::Value()).error(), "invalid expression: null");
  EXPECT_EQ(promote(json::Value(false)).error(), "a boolean cannot stand alone as an expression");

  const OpSpec& rank = *find_op_by_name("rank");
  std::vector<KeywordArg> kw;
  kw.push_back({"zzz", json::Value(1)});
  kw.push_back({"pct", json::Value(true)});
  std::vector<json::Value> pos;
  pos.emplace_back(json::Value(7));
  auto node = build(rank, std::move(pos), std::move(kw));
  EXPECT_EQ(node.error(), "`Rank` has no field `zzz`");
}

}  // namespace
}  // namespace korva::brindle
