#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "brindle/lexer.hpp"

namespace korva::brindle {
namespace {

using K = TokenKind;

struct Tok {
  TokenKind kind;
  std::string text;  // Ident, Str, Op
  double num;        // Num
  std::size_t line, col;
};

Tok id(std::string s, std::size_t line, std::size_t col) {
  return {K::Ident, std::move(s), 0, line, col};
}
Tok num(double v, std::size_t line, std::size_t col) {
  return {K::Num, "", v, line, col};
}
Tok str(std::string s, std::size_t line, std::size_t col) {
  return {K::Str, std::move(s), 0, line, col};
}
Tok op(std::string s, std::size_t line, std::size_t col) {
  return {K::Op, std::move(s), 0, line, col};
}
Tok tk(TokenKind k, std::size_t line, std::size_t col) {
  return {k, "", 0, line, col};
}

struct Case {
  const char* name;
  std::string src;
  std::vector<Tok> want;
};

void expect_tokens(const Case& c) {
  SCOPED_TRACE(c.name);
  auto got = lex(c.src);
  ASSERT_TRUE(got.has_value()) << got.error().display();
  ASSERT_EQ(got->size(), c.want.size());
  for (std::size_t i = 0; i < c.want.size(); ++i) {
    SCOPED_TRACE(i);
    const Token& g = (*got)[i];
    const Tok& w = c.want[i];
    EXPECT_EQ(token_kind_name(g.kind), token_kind_name(w.kind));
    if (w.kind == K::Num) {
      EXPECT_EQ(g.num, w.num);
    } else if (w.kind == K::Ident || w.kind == K::Str || w.kind == K::Op) {
      EXPECT_EQ(g.text, w.text);
    }
    EXPECT_EQ(g.line, w.line);
    EXPECT_EQ(g.col, w.col);
  }
}

TEST(Lexer, TokensWithPositions) {
  const Case cases[] = {
      {"call",
       "sma(close, 20)",
       {id("sma", 1, 1), tk(K::LParen, 1, 4), id("close", 1, 5), tk(K::Comma, 1, 10),
        num(20, 1, 12), tk(K::RParen, 1, 14), tk(K::Eof, 1, 15)}},
      {"empty", "", {tk(K::Eof, 1, 1)}},
      {"blanks", " \t\r", {tk(K::Eof, 1, 4)}},
      {"two char operator",
       "a >= b",
       {id("a", 1, 1), op(">=", 1, 3), id("b", 1, 6), tk(K::Eof, 1, 7)}},
      {"operator then eq",
       "a > = b",
       {id("a", 1, 1), op(">", 1, 3), tk(K::Eq, 1, 5), id("b", 1, 7), tk(K::Eof, 1, 8)}},
      {"double eq", "==", {tk(K::Eq, 1, 1), tk(K::Eq, 1, 2), tk(K::Eof, 1, 3)}},
      {"all punctuation",
       "()[],=+-*/<><=",
       {tk(K::LParen, 1, 1), tk(K::RParen, 1, 2), tk(K::LBracket, 1, 3), tk(K::RBracket, 1, 4),
        tk(K::Comma, 1, 5), tk(K::Eq, 1, 6), op("+", 1, 7), op("-", 1, 8), op("*", 1, 9),
        op("/", 1, 10), op("<", 1, 11), op(">", 1, 12), op("<=", 1, 13), tk(K::Eof, 1, 15)}},
      {"comment", "x # note\ny", {id("x", 1, 1), id("y", 2, 1), tk(K::Eof, 2, 2)}},
      {"comment at end keeps column", "ab #c", {id("ab", 1, 1), tk(K::Eof, 1, 4)}},
      {"comment hides quote and tokens", "# \"( $\nz", {id("z", 2, 1), tk(K::Eof, 2, 2)}},
      {"let keyword only exact",
       "let letter = 1",
       {tk(K::Let, 1, 1), id("letter", 1, 5), tk(K::Eq, 1, 12), num(1, 1, 14), tk(K::Eof, 1, 15)}},
      {"words are names",
       "true false not and or _x9 LET",
       {id("true", 1, 1), id("false", 1, 6), id("not", 1, 12), id("and", 1, 16), id("or", 1, 20),
        id("_x9", 1, 23), id("LET", 1, 27), tk(K::Eof, 1, 30)}},
      {"minus is never part of a number", "-5", {op("-", 1, 1), num(5, 1, 2), tk(K::Eof, 1, 3)}},
      {"number then name", "2x", {num(2, 1, 1), id("x", 1, 2), tk(K::Eof, 1, 3)}},
      {"e without digits ends the number", "2e", {num(2, 1, 1), id("e", 1, 2), tk(K::Eof, 1, 3)}},
      {"e with bare sign ends the number",
       "1e+x",
       {num(1, 1, 1), id("e", 1, 2), op("+", 1, 3), id("x", 1, 4), tk(K::Eof, 1, 5)}},
      {"separator columns", "1_000.5 x", {num(1000.5, 1, 1), id("x", 1, 9), tk(K::Eof, 1, 10)}},
      {"trailing point", "1. x", {num(1, 1, 1), id("x", 1, 4), tk(K::Eof, 1, 5)}},
      {"string", "\"ME\" x", {str("ME", 1, 1), id("x", 1, 6), tk(K::Eof, 1, 7)}},
      {"string keeps hash and has no escapes", "\"a#\\b\"", {str("a#\\b", 1, 1), tk(K::Eof, 1, 7)}},
      // The column runs on from the opening quote as if the literal were one line long, and
      // the line stays that of the opening quote.
      {"string with line feed",
       "x \"a\nb\" y",
       {id("x", 1, 1), str("a\nb", 1, 3), id("y", 1, 9), tk(K::Eof, 1, 10)}},
      {"line feed after string",
       "\"a\nb\"\nz",
       {str("a\nb", 1, 1), id("z", 2, 1), tk(K::Eof, 2, 2)}},
      // Columns count characters, not bytes: "é" is two bytes, "€" three, "😀" four.
      {"unicode in string",
       "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\" x",
       {str("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 1, 1), id("x", 1, 7), tk(K::Eof, 1, 8)}},
      {"unicode in comment",
       "a # \xE2\x82\xAC\xE2\x82\xAC\nb",
       {id("a", 1, 1), id("b", 2, 1), tk(K::Eof, 2, 2)}},
      {"invalid utf8 in string reads as replacement",
       "\"\xFF\" x",
       {str("\xEF\xBF\xBD", 1, 1), id("x", 1, 5), tk(K::Eof, 1, 6)}},
  };
  for (const Case& c : cases) expect_tokens(c);
}

TEST(Lexer, NumberLiterals) {
  struct NumCase {
    const char* src;
    double value;
  } cases[] = {
      {"20", 20},
      {"1_000.5", 1000.5},
      {"1e-3", 0.001},
      {"1E+2", 100},
      {"1e5", 1e5},
      {"0.1", 0.1},
      {"1.e2", 100},
      {"1_e5", 1e5},  // separators are dropped wherever they stand
      {"12_345_678", 12345678},
      // Correctly rounded: halfway between 2^53 and 2^53 + 2 rounds to even.
      {"9007199254740993", 9007199254740992.0},
      {"0.30000000000000004", 0.30000000000000004},
      {"2.2250738585072014e-308", 2.2250738585072014e-308},
      {"4.9e-324", 4.9e-324},
      {"1e400", std::numeric_limits<double>::infinity()},
      {"123456789e301", std::numeric_limits<double>::infinity()},
      {"1e-400", 0.0},
      {"0.0000001e-330", 0.0},
      {"0e999", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.src);
    auto got = lex(c.src);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    ASSERT_EQ(got->size(), 2u);
    EXPECT_EQ((*got)[0].kind, K::Num);
    EXPECT_EQ((*got)[0].num, c.value);
    EXPECT_EQ((*got)[1].col, std::string(c.src).size() + 1);
  }
}

TEST(Lexer, Errors) {
  struct ErrCase {
    std::string src;
    std::string message;
    std::size_t line, col;
  } cases[] = {
      {"$", "unexpected character `$`", 1, 1},
      {"a\n  !b", "unexpected character `!`", 2, 3},
      {"a . b", "unexpected character `.`", 1, 3},
      {"x & y", "unexpected character `&`", 1, 3},
      {"a\fb", "unexpected character `\f`", 1, 2},
      {"\xC3\xA9t\xC3\xA9", "unexpected character `\xC3\xA9`", 1, 1},
      {"\"\xC3\xA9\" \xE2\x82\xAC", "unexpected character `\xE2\x82\xAC`", 1, 5},
      {"x \xFF", "unexpected character `\xEF\xBF\xBD`", 1, 3},
      {"x \"abc", "unterminated string", 1, 3},
      {"a\n \"", "unterminated string", 2, 2},
      {"1.2.3", "invalid number `1.2.3`", 1, 1},
      {"x + 1..5", "invalid number `1..5`", 1, 5},
      {"1_0.2_0.3", "invalid number `10.20.3`", 1, 1},
      {"1e5.5", "invalid number `1e5.5`", 1, 1},
      {"1e5e5", "invalid number `1e5e5`", 1, 1},
      // The first error stops scanning.
      {"$ \"", "unexpected character `$`", 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.src);
    auto got = lex(c.src);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().message, c.message);
    EXPECT_EQ(got.error().line, c.line);
    EXPECT_EQ(got.error().col, c.col);
  }
}

TEST(Lexer, KindNamesInOrder) {
  const char* want[] = {"Num",      "Ident",    "Str",   "Op", "LParen", "RParen",
                        "LBracket", "RBracket", "Comma", "Eq", "Let",    "Eof"};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(i)), want[i]);
  }
}

}  // namespace
}  // namespace korva::brindle
