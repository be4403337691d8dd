#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brindle/expr.hpp"

namespace korva::brindle {
namespace {

std::string error_of(std::string_view text) {
  auto r = read_expr(text);
  return r ? std::string("<read>") : r.error();
}

// The 52 tags in index order, spelled out here so that the message is checked against an
// independent list.
const std::string kAllTags =
    "`Data`, `Const`, `Average`, `Ema`, `Std`, `Rsi`, `PctChange`, `Rise`, `Shift`, "
    "`RollingMax`, `Atr`, `Natr`, `WillR`, `Cci`, `StochK`, `StochD`, `AroonUp`, `AroonDown`, "
    "`Adx`, `PlusDi`, `MinusDi`, `Obv`, `Mfi`, `Vwap`, `Fall`, `IsLargest`, `IsSmallest`, "
    "`Sustain`, `IsEntry`, `IsExit`, `Gt`, `Lt`, `Ge`, `Le`, `And`, `Or`, `Not`, `Add`, `Sub`, "
    "`Mul`, `Div`, `Neg`, `Ceil`, `Rank`, `Mask`, `NormalizeRow`, `HoldUntil`, `Rebalance`, "
    "`Neutralize`, `NeutralizeIndustry`, `IndustryRank`, `GroupbyCategory`";

std::string unknown(std::string_view tag) {
  return "unknown variant `" + std::string(tag) + "`, expected one of " + kAllTags;
}

constexpr const char* kClose = R"({"op": "Data", "name": "close"})";

TEST(ReadExpr, AverageOfData) {
  auto e = read_expr(R"({"op": "Average", "of": {"op": "Data", "name": "close"}, "n": 20})");
  ASSERT_TRUE(e.has_value()) << e.error();
  EXPECT_EQ(e->op(), Op::Average);
  EXPECT_EQ(e->sub(0).op(), Op::Data);
  EXPECT_EQ(e->sub(0).text(0), "close");
  EXPECT_EQ(e->count(1), 20u);
}

TEST(ReadExpr, DefaultsOptionalsAndIgnoredKeys) {
  auto rank = read_expr(R"({"op": "Rank", "of": {"op": "Data", "name": "x"}})");
  ASSERT_TRUE(rank.has_value()) << rank.error();
  EXPECT_TRUE(rank->flag(1));
  EXPECT_TRUE(rank->flag(2));
  auto rank2 =
      read_expr(R"({"op": "Rank", "ascending": false, "of": ["Data", "x"], "pct": false})");
  ASSERT_TRUE(rank2.has_value()) << rank2.error();
  EXPECT_FALSE(rank2->flag(1));
  EXPECT_FALSE(rank2->flag(2));

  auto stoch = read_expr(std::string(R"({"op":"StochD","high":)") + kClose + R"(,"low":)" + kClose +
                         R"(,"close":)" + kClose + R"(,"n":14})");
  ASSERT_TRUE(stoch.has_value()) << stoch.error();
  EXPECT_EQ(stoch->count(3), 14u);
  EXPECT_EQ(stoch->count(4), 3u);

  for (std::string tag : {"Neutralize", "NeutralizeIndustry"}) {
    SCOPED_TRACE(tag);
    std::string by = tag == "Neutralize" ? R"(, "by": [])" : "";
    auto e = read_expr(R"({"op": ")" + tag + R"(", "of": )" + kClose + by + "}");
    ASSERT_TRUE(e.has_value()) << e.error();
    EXPECT_TRUE(e->flag(tag == "Neutralize" ? 2 : 1));
  }

  auto hold = read_expr(std::string(R"({"op": "HoldUntil", "entry": )") + kClose + R"(, "exit": )" +
                        kClose + R"(, "stop_loss": null})");
  ASSERT_TRUE(hold.has_value()) << hold.error();
  EXPECT_EQ(hold->opt_count(2), std::nullopt);
  EXPECT_EQ(hold->opt_sub(3), nullptr);
  for (std::size_t i = 4; i < 8; ++i) EXPECT_EQ(hold->opt_number(i), std::nullopt);

  auto hold2 = read_expr(std::string(R"({"op": "HoldUntil", "entry": )") + kClose +
                         R"(, "exit": )" + kClose + R"(, "nstocks_limit": 5, "rank": )" + kClose +
                         R"(, "stop_loss": 0.1, "trail_stop": 2})");
  ASSERT_TRUE(hold2.has_value()) << hold2.error();
  EXPECT_EQ(hold2->opt_count(2), 5u);
  ASSERT_NE(hold2->opt_sub(3), nullptr);
  EXPECT_EQ(hold2->opt_number(4), 0.1);
  EXPECT_EQ(hold2->opt_number(5), std::nullopt);
  EXPECT_EQ(hold2->opt_number(6), 2.0);

  auto avg = read_expr(std::string(R"({"op": "Average", "of": )") + kClose +
                       R"(, "n": 5, "comment": "x", "extra": {"deep": [1, {}]}})");
  ASSERT_TRUE(avg.has_value()) << avg.error();
  EXPECT_EQ(avg->count(1), 5u);

  auto reb = read_expr(std::string(R"({"op": "Rebalance", "of": )") + kClose + R"(, "freq": "M"})");
  ASSERT_TRUE(reb.has_value()) << reb.error();
  ASSERT_NE(reb->opt_text(1), nullptr);
  EXPECT_EQ(*reb->opt_text(1), "M");
  EXPECT_EQ(reb->opt_sub(2), nullptr);

  auto ir = read_expr(std::string(R"({"op": "IndustryRank", "of": )") + kClose +
                      R"(, "categories": ["tech", "energy"]})");
  ASSERT_TRUE(ir.has_value()) << ir.error();
  ASSERT_NE(ir->opt_texts(1), nullptr);
  EXPECT_EQ(*ir->opt_texts(1), (std::vector<std::string>{"tech", "energy"}));

  auto neu = read_expr(std::string(R"({"op": "Neutralize", "of": )") + kClose + R"(, "by": [)" +
                       kClose + R"(, ["Data", "size"]], "add_const": false})");
  ASSERT_TRUE(neu.has_value()) << neu.error();
  ASSERT_EQ(neu->subs(1).size(), 2u);
  EXPECT_EQ(neu->subs(1)[1].text(0), "size");
  EXPECT_FALSE(neu->flag(2));

  // Keys that are not fields are ignored, even when repeated; keys match once unescaped.
  auto extra = read_expr(R"({"op": "Data", "note": 1, "note": [}], "name": "x"})");
  EXPECT_FALSE(extra.has_value());  // malformed JSON is refused wherever it is
  auto twice = read_expr(R"({"op": "Data", "note": 1, "note": "again", "name": "x"})");
  ASSERT_TRUE(twice.has_value()) << twice.error();
  auto escaped = read_expr(R"({"\u006fp": "Data", "n\u0061me": "x"})");
  ASSERT_TRUE(escaped.has_value()) << escaped.error();
  EXPECT_EQ(escaped->text(0), "x");

  auto c = read_expr(R"({"op": "Const", "value": -3})");
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->number(0), -3.0);
}

TEST(ReadExpr, TagByIndex) {
  auto e = read_expr(std::string(R"({"op": 2, "of": )") + kClose + R"(, "n": 5})");
  ASSERT_TRUE(e.has_value()) << e.error();
  EXPECT_EQ(e->op(), Op::Average);
  auto nested = read_expr(R"({"op": "Neg", "of": {"op": 1, "value": 2.5}})");
  ASSERT_TRUE(nested.has_value()) << nested.error();
  EXPECT_EQ(nested->sub(0).op(), Op::Const);
  auto last = read_expr(R"([51, ["Data", "x"], "mean"])");
  ASSERT_TRUE(last.has_value()) << last.error();
  EXPECT_EQ(last->op(), Op::GroupbyCategory);
  EXPECT_EQ(last->text(1), "mean");
}

// Failures met while the outermost node is read from the text carry the position where the
// reader stopped: a bad outermost tag right after its value, a missing "op" after the closing
// brace, a second "op" right after its key. Later failures carry none.
TEST(ReadExprErrors, MessagesAndPositions) {
  const std::string close = kClose;
  const std::string index_msg = "invalid value: integer `52`, expected variant index 0 <= i < 52";
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      // Field conversions (second stage, no position).
      {R"({"op": "Average", "of": )" + close + R"(, "n": 20.0})",
       "invalid type: floating point `20.0`, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": -5})",
       "invalid value: integer `-5`, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": "20"})",
       "invalid type: string \"20\", expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": true})",
       "invalid type: boolean `true`, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": null})",
       "invalid type: unit value, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": [20]})",
       "invalid type: sequence, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": {}})",
       "invalid type: map, expected usize"},
      // -0 and integers past 64 bits are read as doubles.
      {R"({"op": "Average", "of": )" + close + R"(, "n": -0})",
       "invalid type: floating point `-0.0`, expected usize"},
      {R"({"op": "Average", "of": )" + close + R"(, "n": 18446744073709551616})",
       "invalid type: floating point `18446744073709552000.0`, expected usize"},
      {R"({"op": "Average", "of": 5, "n": 1})",
       "invalid type: integer `5`, expected internally tagged enum Expr"},
      {R"({"op": "Average", "of": null, "n": 1})",
       "invalid type: unit value, expected internally tagged enum Expr"},
      {R"({"op": "Average", "of": "close", "n": 1})",
       "invalid type: string \"close\", expected internally tagged enum Expr"},
      {R"({"op": "Const", "value": "1"})", "invalid type: string \"1\", expected f64"},
      {R"({"op": "Const", "value": null})", "invalid type: unit value, expected f64"},
      {R"({"op": "Data", "name": 5})", "invalid type: integer `5`, expected a string"},
      {R"({"op": "Data", "name": ["x"]})", "invalid type: sequence, expected a string"},
      {R"({"op": "Rank", "of": )" + close + R"(, "pct": 1})",
       "invalid type: integer `1`, expected a boolean"},
      {R"({"op": "Rank", "of": )" + close + R"(, "pct": null})",
       "invalid type: unit value, expected a boolean"},
      {R"({"op": "Neutralize", "of": )" + close + R"(, "by": {}})",
       "invalid type: map, expected a sequence"},
      {R"({"op": "Neutralize", "of": )" + close + R"(, "by": [1]})",
       "invalid type: integer `1`, expected internally tagged enum Expr"},
      {R"({"op": "IndustryRank", "of": )" + close + R"(, "categories": "tech"})",
       "invalid type: string \"tech\", expected a sequence"},
      {R"({"op": "IndustryRank", "of": )" + close + R"(, "categories": ["a", false]})",
       "invalid type: boolean `false`, expected a string"},
      {R"({"op": "HoldUntil", "entry": )" + close + R"(, "exit": )" + close +
           R"(, "nstocks_limit": 2.5})",
       "invalid type: floating point `2.5`, expected usize"},
      {R"({"op": "StochD", "high": 1})",
       "invalid type: integer `1`, expected internally tagged enum Expr"},
      // Missing and duplicate fields.
      {R"({"op": "Neutralize", "of": )" + close + "}", "missing field `by`"},
      {R"({"op": "Average"})", "missing field `of`"},
      {R"({"op": "Average", "of": )" + close + "}", "missing field `n`"},
      {R"({"op": "Average", "n": 1, "n": 2})", "duplicate field `n`"},
      {R"({"op": "HoldUntil", "stop_loss": null, "stop_loss": 1})", "duplicate field `stop_loss`"},
      // Fields are examined in text order; missing ones only afterwards.
      {R"({"op": "Average", "n": -1, "of": 5})", "invalid value: integer `-1`, expected usize"},
      {R"({"op": "Average", "of": 5, "n": -1})",
       "invalid type: integer `5`, expected internally tagged enum Expr"},
      {R"({"op": "Average", "n": 20.0})", "invalid type: floating point `20.0`, expected usize"},
      {R"({"n": 1, "op": "Average", "of": {"name": "x"}})", "missing field `op`"},
      // Nested tags: no position.
      {R"({"op": "Neg", "of": {"op": "average"}})", unknown("average")},
      {R"({"op": "Neg", "of": {"op": 52}})", index_msg},
      {R"({"op": "Neg", "of": {"op": -1}})",
       "invalid type: integer `-1`, expected variant identifier"},
      {R"({"op": "Neg", "of": {"op": null}})",
       "invalid type: unit value, expected variant identifier"},
      {R"({"op": "Neg", "of": {"op": "Data", "op": "Data", "name": "x"}})", "duplicate field `op`"},
      {R"({"op": "Neg", "of": {"op": "Nope", "op": "Data"}})", unknown("Nope")},
      {R"({"op": "Neg", "of": []})", "missing field `op`"},
      {R"({"op": "Neg", "of": [52]})", index_msg},
      // Outermost tag: positioned right after the tag value.
      {R"({"op": "average"})", unknown("average") + " at line 1 column 16"},
      {R"({"op": 52})", index_msg + " at line 1 column 9"},
      {R"({"op":true})",
       "invalid type: boolean `true`, expected variant identifier at line 1 column 10"},
      {R"({"op":-1})",
       "invalid type: integer `-1`, expected variant identifier at line 1 column 8"},
      {R"({"op":2.0})",
       "invalid type: floating point `2.0`, expected variant identifier at line 1 column 9"},
      {R"({"op":[1]})", "invalid type: sequence, expected variant identifier at line 1 column 6"},
      {R"(["Bogus", 1])", unknown("Bogus") + " at line 1 column 8"},
      {R"([52, 1])", index_msg + " at line 1 column 3"},
      {"{\n  \"n\": 5,\n  \"op\": \"Nope\"\n}", unknown("Nope") + " at line 3 column 14"},
      // A bad outermost tag ends the read before any later malformed text.
      {R"({"op": "Bogus", "x": [})", unknown("Bogus") + " at line 1 column 14"},
      {R"({"x": [}, "op": "Bogus"})", "expected value at line 1 column 8"},
      // Outermost "op" missing or doubled.
      {"{}", "missing field `op` at line 1 column 2"},
      {R"({"a":1})", "missing field `op` at line 1 column 7"},
      {R"({"a":1 } )", "missing field `op` at line 1 column 8"},
      {R"({"op":"Data","op":"Const"})", "duplicate field `op` at line 1 column 17"},
      {R"({"op":"Data","op" :"Const"})", "duplicate field `op` at line 1 column 18"},
      // The reader stops after the doubled key's blanks and a brace that follows them, or at
      // the end of the text; the closing brace of a tagless object is consumed too.
      {R"({"op":"Data","op" })", "duplicate field `op` at line 1 column 19"},
      {R"({"op":"Data","op")", "duplicate field `op` at line 1 column 17"},
      {R"({"op":"Data","op",)", "duplicate field `op` at line 1 column 17"},
      {"{\n  \"a\": 1\n}\n", "missing field `op` at line 3 column 1"},
      {"[]", "missing field `op` at line 1 column 2"},
      {"[ ]", "missing field `op` at line 1 column 3"},
      // Outermost value neither object nor array: positioned after it.
      {"5", "invalid type: integer `5`, expected internally tagged enum Expr at line 1 column 1"},
      {"5 x", "invalid type: integer `5`, expected internally tagged enum Expr at line 1 column 1"},
      {" \"abc\"",
       "invalid type: string \"abc\", expected internally tagged enum Expr at line 1 column 6"},
      {"null", "invalid type: unit value, expected internally tagged enum Expr at line 1 column 4"},
      {"-2.5",
       "invalid type: floating point `-2.5`, expected internally tagged enum Expr at line "
       "1 column 4"},
      {"false",
       "invalid type: boolean `false`, expected internally tagged enum Expr at line 1 "
       "column 5"},
      // Malformed JSON anywhere in the text, nested content included.
      {"", "EOF while parsing a value at line 1 column 0"},
      {R"({"op": "Average", "of": {"op": "Data", "name": "x"}, "n": 01})",
       "invalid number at line 1 column 60"},
      {R"({"op": "Average", "of": {"op": "Data", "name": "x",}, "n": 1})",
       "trailing comma at line 1 column 52"},
      {R"({"op": "Average", "of": {"op": "Data" "name": "x"}})",
       "expected `,` or `}` at line 1 column 39"},
      {R"({"op": "Data", "name": "x")", "EOF while parsing an object at line 1 column 26"},
      {R"(["Data", "x")", "EOF while parsing a list at line 1 column 12"},
      {R"(["Data", "x",])", "trailing comma at line 1 column 14"},
      {R"(["Data" "x"])", "expected `,` or `]` at line 1 column 9"},
      {R"({"op": "Data", "name": "x", })", "trailing comma at line 1 column 29"},
      {R"({"op" "Data"})", "expected `:` at line 1 column 7"},
      {R"({op: "Data"})", "key must be a string at line 1 column 2"},
      {R"({"op": Data})", "expected value at line 1 column 8"},
      {R"({"op": "Const", "value": 1e400})", "number out of range at line 1 column 30"},
      {R"({"op": "Data", "name": "\ud800"})", "unexpected end of hex escape at line 1 column 31"},
      // The rest of the text is checked only once the tree is built.
      {R"({"op": "Data", "name": "x"} x)", "trailing characters at line 1 column 29"},
      {R"({"op": "Data", "name": "x"}})", "trailing characters at line 1 column 28"},
      {R"({"op": "Data", "name": 5} x)", "invalid type: integer `5`, expected a string"},
      {R"({"op": "Neg", "of": 1}})",
       "invalid type: integer `1`, expected internally tagged enum Expr"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of(c.text), c.message);
  }
}

TEST(ReadExprErrors, UnknownTagListsAllTagsInIndexOrder) {
  std::string msg = error_of(R"({"op": "Neg", "of": {"op": "average"}})");
  EXPECT_EQ(msg, unknown("average"));
  EXPECT_TRUE(
      msg.starts_with("unknown variant `average`, expected one of `Data`, `Const`, "
                      "`Average`"));
  EXPECT_TRUE(msg.ends_with("`GroupbyCategory`"));
  // Tags are case-sensitive.
  EXPECT_EQ(error_of(R"(["data", "x"])"), unknown("data") + " at line 1 column 7");
}

// Floating point values in messages: shortest digits, positional notation, at least one
// fractional digit.
TEST(ReadExprErrors, FloatingPointRendering) {
  struct Case {
    std::string number;
    std::string shown;
  } cases[] = {
      {"20.0", "20.0"},
      {"2e1", "20.0"},
      {"0.1", "0.1"},
      {"-2.5", "-2.5"},
      {"1e21", "1000000000000000000000.0"},
      {"1e-7", "0.0000001"},
      {"123.456", "123.456"},
      {"1e-400", "0.0"},
      {"1.5e300", "15" + std::string(299, '0') + ".0"},
      {"5e-324", "0." + std::string(323, '0') + "5"},
      {"0.30000000000000004", "0.30000000000000004"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(error_of(R"({"op": "Average", "of": ["Data", "x"], "n": )" + c.number + "}"),
              "invalid type: floating point `" + c.shown + "`, expected usize");
  }
}

TEST(ReadExprErrors, StringsShownQuotedWithEscapes) {
  struct Case {
    std::string json;
    std::string shown;
  } cases[] = {
      {R"("x")", R"("x")"},
      {R"("a\"b")", R"("a\"b")"},
      {R"("back\\slash")", R"("back\\slash")"},
      {R"("l1\nl2\t\r")", R"("l1\nl2\t\r")"},
      {R"("nul\u0000 esc\u001b del\u007f")", R"("nul\0 esc\u{1b} del\u{7f}")"},
      {R"("it's")", R"("it's")"},
      {"\"caf\xc3\xa9 \xf0\x9f\x98\x80\"", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(error_of(R"({"op": "Average", "of": ["Data", "x"], "n": )" + c.json + "}"),
              "invalid type: string " + c.shown + ", expected usize");
  }
}

TEST(ReadExpr, ArrayFormAtEveryLevel) {
  auto e = read_expr(R"(["Average", ["Data", "close"], 20])");
  ASSERT_TRUE(e.has_value()) << e.error();
  EXPECT_EQ(e->op(), Op::Average);
  EXPECT_EQ(e->sub(0).text(0), "close");
  EXPECT_EQ(e->count(1), 20u);

  auto mixed = read_expr(R"({"op": "Gt", "l": ["Const", 1], "r": [37, {"op": "Data", "name": "a"},
                            ["Data", "b"]]})");
  ASSERT_TRUE(mixed.has_value()) << mixed.error();
  EXPECT_EQ(mixed->sub(1).op(), Op::Add);
  EXPECT_EQ(mixed->sub(1).sub(1).text(0), "b");

  // Trailing elements may be left off for defaulted fields and the trailing optionals.
  auto rank = read_expr(R"(["Rank", ["Data", "x"]])");
  ASSERT_TRUE(rank.has_value()) << rank.error();
  EXPECT_TRUE(rank->flag(1));
  EXPECT_TRUE(rank->flag(2));
  auto rank1 = read_expr(R"(["Rank", ["Data", "x"], false])");
  ASSERT_TRUE(rank1.has_value()) << rank1.error();
  EXPECT_FALSE(rank1->flag(1));
  EXPECT_TRUE(rank1->flag(2));
  auto hold = read_expr(R"(["HoldUntil", ["Data", "a"], ["Data", "b"], null, null, 0.05])");
  ASSERT_TRUE(hold.has_value()) << hold.error();
  EXPECT_EQ(hold->opt_count(2), std::nullopt);
  EXPECT_EQ(hold->opt_number(4), 0.05);
  EXPECT_EQ(hold->opt_number(7), std::nullopt);
  auto reb = read_expr(R"(["Rebalance", ["Data", "a"]])");
  ASSERT_TRUE(reb.has_value()) << reb.error();
  EXPECT_EQ(reb->opt_text(1), nullptr);
  auto sustain = read_expr(R"(["Sustain", ["Data", "a"], 5, null])");
  ASSERT_TRUE(sustain.has_value()) << sustain.error();
  EXPECT_EQ(sustain->opt_count(2), std::nullopt);
  auto stoch = read_expr(R"(["StochD", ["Data","h"], ["Data","l"], ["Data","c"], 9])");
  ASSERT_TRUE(stoch.has_value()) << stoch.error();
  EXPECT_EQ(stoch->count(4), 3u);
  auto ir = read_expr(R"(["IndustryRank", ["Data", "a"]])");
  ASSERT_TRUE(ir.has_value()) << ir.error();
  EXPECT_EQ(ir->opt_texts(1), nullptr);
  auto neu = read_expr(R"(["Neutralize", ["Data", "a"], []])");
  ASSERT_TRUE(neu.has_value()) << neu.error();
  EXPECT_TRUE(neu->flag(2));
}

TEST(ReadExprErrors, ArrayFormLengths) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {R"(["Average", ["Data", "close"]])",
       "invalid length 1, expected struct variant Expr::Average with 2 elements"},
      {R"(["Data"])", "invalid length 0, expected struct variant Expr::Data with 1 element"},
      {R"(["Average", ["Data", "close"], 20, 1])",
       "invalid length 3, expected 2 elements in sequence"},
      {R"(["Data", "x", "y"])", "invalid length 2, expected 1 element in sequence"},
      // nstocks_limit, rank and nsatisfy need their element (null for none).
      {R"(["HoldUntil", ["Data", "a"], ["Data", "b"]])",
       "invalid length 2, expected struct variant Expr::HoldUntil with 8 elements"},
      {R"(["HoldUntil", ["Data", "a"], ["Data", "b"], null])",
       "invalid length 3, expected struct variant Expr::HoldUntil with 8 elements"},
      {R"(["HoldUntil", ["Data","a"], ["Data","b"], null, null, 1, 2, 3, 4, 5])",
       "invalid length 9, expected 8 elements in sequence"},
      {R"(["Sustain", ["Data", "a"], 5])",
       "invalid length 2, expected struct variant Expr::Sustain with 3 elements"},
      {R"(["Neutralize", ["Data", "a"]])",
       "invalid length 1, expected struct variant Expr::Neutralize with 3 elements"},
      {R"(["Rank", ["Data", "x"], true, true, true])",
       "invalid length 4, expected 3 elements in sequence"},
      // A nested array form fails the same way, without position.
      {R"({"op": "Neg", "of": ["Average", ["Data", "x"]]})",
       "invalid length 1, expected struct variant Expr::Average with 2 elements"},
      // Elements are converted before the length is judged.
      {R"(["Average", 5])", "invalid type: integer `5`, expected internally tagged enum Expr"},
      {R"(["Data", 1, 2])", "invalid type: integer `1`, expected a string"},
      {R"(["Const", "x"])", "invalid type: string \"x\", expected f64"},
      {R"(["Rank", ["Data", "x"], null])", "invalid type: unit value, expected a boolean"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of(c.text), c.message);
  }
}

// Every variant reads from the table's own description in both forms, by name and by index.
TEST(ReadExpr, EveryVariantReadsInBothForms) {
  auto sample = [](const FieldSpec& f) -> std::string {
    switch (f.kind) {
      case FieldKind::Subtree:
        return R"({"op": "Data", "name": "s"})";
      case FieldKind::SubtreeList:
        return R"([["Data", "t"]])";
      case FieldKind::Count:
        return "7";
      case FieldKind::Number:
        return "1.5";
      case FieldKind::Flag:
        return "false";
      case FieldKind::Text:
        return R"("txt")";
      case FieldKind::TextList:
        return R"(["u", "v"])";
    }
    return "null";
  };
  for (std::size_t i = 0; i < kVariantCount; ++i) {
    const VariantSpec& v = variants()[i];
    SCOPED_TRACE(std::string(v.tag));
    std::string obj = R"({"op": ")" + std::string(v.tag) + "\"";
    std::string arr = "[" + std::to_string(i);
    for (const FieldSpec& f : v.fields) {
      obj += ", \"" + std::string(f.name) + "\": " + sample(f);
      arr += ", " + sample(f);
    }
    obj += "}";
    arr += "]";
    for (const std::string& text : {obj, arr}) {
      auto e = read_expr(text);
      ASSERT_TRUE(e.has_value()) << text << ": " << e.error();
      EXPECT_EQ(e->op(), static_cast<Op>(i));
      ASSERT_EQ(e->fields().size(), v.fields.size());
      for (std::size_t f = 0; f < v.fields.size(); ++f) {
        switch (v.fields[f].kind) {
          case FieldKind::Subtree:
            EXPECT_EQ(e->sub(f).text(0), "s");
            break;
          case FieldKind::SubtreeList:
            EXPECT_EQ(e->subs(f).at(0).text(0), "t");
            break;
          case FieldKind::Count:
            EXPECT_EQ(std::get<std::uint64_t>(e->fields()[f]), 7u);
            break;
          case FieldKind::Number:
            EXPECT_EQ(std::get<double>(e->fields()[f]), 1.5);
            break;
          case FieldKind::Flag:
            EXPECT_FALSE(e->flag(f));
            break;
          case FieldKind::Text:
            EXPECT_EQ(e->text(f), "txt");
            break;
          case FieldKind::TextList:
            EXPECT_EQ(std::get<std::vector<std::string>>(e->fields()[f]).size(), 2u);
            break;
        }
      }
    }
  }
}

// Each tree level is one object; a list adds one more. 127 open containers are allowed.
TEST(ReadExpr, NestingLimit) {
  const std::string prefix = R"({"op":"Neg","of":)";  // 17 bytes
  auto chain = [&](int negs) {
    std::string t;
    for (int i = 0; i < negs; ++i) t += prefix;
    t += R"({"op":"Data","name":"x"})";
    t += std::string(static_cast<std::size_t>(negs), '}');
    return t;
  };
  auto ok = read_expr(chain(126));
  ASSERT_TRUE(ok.has_value()) << ok.error();
  const Expr* e = &*ok;
  int depth = 0;
  while (e->op() == Op::Neg) {
    e = &e->sub(0);
    ++depth;
  }
  EXPECT_EQ(depth, 126);
  EXPECT_EQ(e->text(0), "x");
  // The 128th object opens at byte 127 * 17.
  EXPECT_EQ(error_of(chain(127)),
            "recursion limit exceeded at line 1 column " + std::to_string(127 * 17 + 1));
  EXPECT_EQ(error_of(R"({"op":"Neg","of":)" + std::string(100000, '[')),
            "recursion limit exceeded at line 1 column 144");
  // An array as the outermost array's tag is refused before it is read.
  EXPECT_EQ(error_of(std::string(100000, '[')),
            "invalid type: sequence, expected variant identifier at line 1 column 1");
  EXPECT_EQ(error_of(R"(["Neg", )" + std::string(100000, '[')),
            "recursion limit exceeded at line 1 column 135");

  // A list inside a Neutralize adds one level: 125 Negs + Neutralize + list + Data = 128.
  std::string with_list;
  for (int i = 0; i < 125; ++i) with_list += prefix;
  with_list +=
      R"({"op":"Neutralize","of":{"op":"Data","name":"x"},"by":[{"op":"Data","name":"y"}]})";
  with_list += std::string(125, '}');
  EXPECT_TRUE(error_of(with_list).starts_with("recursion limit exceeded at line 1 column "));
  EXPECT_TRUE(read_expr(with_list.substr(17, with_list.size() - 18)).has_value());
}

TEST(ReadExpr, NulCharacters) {
  auto e = read_expr(R"({"op": "Data", "name": "a\u0000b"})");
  ASSERT_TRUE(e.has_value()) << e.error();
  EXPECT_EQ(e->text(0), std::string("a\0b", 3));
  EXPECT_EQ(error_of(std::string("{\"op\": \"Data\", \"name\": \"a\0b\"}", 29)),
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 26");
  EXPECT_EQ(error_of(std::string("{\"op\": \"Data\", \"name\": \"x\"}\0", 28)),
            "trailing characters at line 1 column 28");
  EXPECT_EQ(error_of(std::string("\0", 1)), "expected value at line 1 column 1");
  EXPECT_EQ(error_of(R"({"op": "Data\u0000"})"),
            // The tag is shown as it is, NUL included.
            "unknown variant `Data" + std::string(1, '\0') + "`, expected one of " + kAllTags +
                " at line 1 column 19");
}

TEST(ReadExpr, SurrogatesInStrings) {
  auto e = read_expr(R"({"op": "Data", "name": "\ud83d\ude00"})");
  ASSERT_TRUE(e.has_value()) << e.error();
  EXPECT_EQ(e->text(0), "\xf0\x9f\x98\x80");
  EXPECT_EQ(error_of(R"({"op": "Data", "name": "\udc00"})"),
            "lone leading surrogate in hex escape at line 1 column 30");
  EXPECT_EQ(error_of(R"({"op": "Data", "name": "\ud800\u0020"})"),
            "lone leading surrogate in hex escape at line 1 column 36");
}

}  // namespace
}  // namespace korva::brindle
