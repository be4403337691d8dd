#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "json/reader.hpp"
#include "json/value.hpp"

namespace korva::json {
namespace {

std::string error_of(std::string_view text) {
  auto r = read(text);
  return r ? std::string("<read>") : r.error();
}

// Every message of the reader with the position where it stops. Columns count the bytes of
// the line consumed so far: an error found on a byte already consumed (bad literal letter,
// bad escape, control character, end of a number) points at that byte; an error found by
// looking ahead (unexpected byte between tokens, end of text) points at the byte looked at,
// or at the end of the text.
TEST(JsonReadErrors, MessagesAndPositions) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      // End of text.
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"fals", "EOF while parsing a value at line 1 column 4"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[[]  ", "EOF while parsing a list at line 1 column 5"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"ab\\", "EOF while parsing a string at line 1 column 4"},
      {"\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"\"\\uD800\\", "EOF while parsing a string at line 1 column 8"},
      // Tokens.
      {"@", "expected value at line 1 column 1"},
      {"[1,@]", "expected value at line 1 column 4"},
      {"[,1]", "expected value at line 1 column 2"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
      {"nulx", "expected ident at line 1 column 4"},
      {"trUe", "expected ident at line 1 column 3"},
      {"nxll", "expected ident at line 1 column 2"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\"}", "expected `:` at line 1 column 5"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1, ]", "trailing comma at line 1 column 5"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"[]]", "trailing characters at line 1 column 3"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"truex", "trailing characters at line 1 column 5"},
      {"1.5.3", "trailing characters at line 1 column 4"},
      // Numbers. A leading zero may not be followed by digits: the reader refuses the number
      // on seeing the second digit, it does not stop after the zero.
      {"01", "invalid number at line 1 column 2"},
      {"[00]", "invalid number at line 1 column 3"},
      {"-01", "invalid number at line 1 column 3"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"-x", "invalid number at line 1 column 2"},
      {"- 1", "invalid number at line 1 column 2"},
      {"-Infinity", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1ex", "invalid number at line 1 column 3"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"1e400", "number out of range at line 1 column 5"},
      {"-1e400", "number out of range at line 1 column 6"},
      {"[1.7976931348623159e308]", "number out of range at line 1 column 23"},
      {"123456789012345678901234567890e300", "number out of range at line 1 column 34"},
      // An exponent past 32 bits stops at its tenth digit.
      {"[1e99999999999]", "number out of range at line 1 column 13"},
      // Escapes and surrogates.
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u00zz\"", "invalid escape at line 1 column 7"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uD800\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      // Invalid UTF-8 inside a string, reported after the closing quote.
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"[\"a\xc0\xaf\"]", "invalid unicode code point at line 1 column 6"},
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},
      {"\"\xf4\x90\x80\x80\"", "invalid unicode code point at line 1 column 6"},
      {"\"\xe2\x82\"", "invalid unicode code point at line 1 column 4"},
      // Raw control characters, NUL included.
      {"\"a\tb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {std::string("\"a\0b\"", 5),
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      // A raw newline in a string ends the line before the error is placed.
      {"\"a\nb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {std::string("\0", 1), "expected value at line 1 column 1"},
      {std::string("1\0", 2), "trailing characters at line 1 column 2"},
      {std::string("[1,\0]", 5), "expected value at line 1 column 4"},
      // Lines are counted by '\n' only; CR is an ordinary byte of its line.
      {"[1,\n2,\n@]", "expected value at line 3 column 1"},
      {"[\r\n  @", "expected value at line 2 column 3"},
      {"{\n\"a\":1,\n}", "trailing comma at line 3 column 1"},
      {"\n\n", "EOF while parsing a value at line 3 column 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of(c.text), c.message);
  }
}

TEST(JsonReadErrors, RecursionLimitAtThe128thOpenContainer) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {std::string(127, '['), "EOF while parsing a list at line 1 column 127"},
      {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
      {std::string(100000, '['), "recursion limit exceeded at line 1 column 128"},
      {std::string(127, '[') + "{", "recursion limit exceeded at line 1 column 128"},
      {std::string(100000, '{'), "key must be a string at line 1 column 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 4));
    EXPECT_EQ(error_of(c.text), c.message);
  }
  // Objects count like arrays.
  std::string objects;
  for (int i = 0; i < 200; ++i) objects += "{\"k\":";
  // The 128th '{' starts at byte 127 * 5.
  EXPECT_EQ(error_of(objects), "recursion limit exceeded at line 1 column 636");
  // Closed containers give their depth back: many siblings of depth 127 read.
  const std::string sibling = std::string(126, '[') + std::string(126, ']');
  auto r = read("[" + sibling + "," + sibling + "]");
  EXPECT_TRUE(r.has_value());
}

TEST(JsonRead, DeepestNestingReadsBack) {
  const std::string text = std::string(127, '[') + "7" + std::string(127, ']');
  auto r = read(text);
  ASSERT_TRUE(r.has_value()) << r.error();
  const Value* v = &*r;
  for (int i = 0; i < 127; ++i) {
    ASSERT_TRUE(v->is_array());
    ASSERT_EQ(v->as_array().size(), 1u);
    v = &v->as_array()[0];
  }
  EXPECT_EQ(*v, Value(7));
  EXPECT_EQ(write(*r), text);
}

TEST(JsonRead, NumberKinds) {
  constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
  constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
  struct Case {
    std::string text;
    Kind kind;
    std::uint64_t u;
    std::int64_t i;
    double d;
  } cases[] = {
      {"0", Kind::UInt, 0, 0, 0},
      {"42", Kind::UInt, 42, 0, 0},
      {"18446744073709551615", Kind::UInt, kU64Max, 0, 0},
      {"-1", Kind::Int, 0, -1, 0},
      {"-9223372036854775808", Kind::Int, 0, kI64Min, 0},
      // Integers past 64 bits fall back to the nearest double.
      {"18446744073709551616", Kind::Double, 0, 0, 18446744073709551616.0},
      {"-9223372036854775809", Kind::Double, 0, 0, -9223372036854775809.0},
      {"123456789012345678901234567890", Kind::Double, 0, 0, 123456789012345678901234567890.0},
      // Fractions and exponents are doubles, whole or not.
      {"20.0", Kind::Double, 0, 0, 20.0},
      {"1e2", Kind::Double, 0, 0, 100.0},
      {"1E+2", Kind::Double, 0, 0, 100.0},
      {"-1.5e-3", Kind::Double, 0, 0, -1.5e-3},
      {"0.1", Kind::Double, 0, 0, 0.1},
      {"1.7976931348623157e308", Kind::Double, 0, 0, 1.7976931348623157e308},
      {"5e-324", Kind::Double, 0, 0, 5e-324},
      {"1e-400", Kind::Double, 0, 0, 0.0},
      {"1e-99999999999999", Kind::Double, 0, 0, 0.0},
      {"0e99999999999999", Kind::Double, 0, 0, 0.0},
      {"0.000e400", Kind::Double, 0, 0, 0.0},
      // Correct rounding, including halfway cases and long digit strings.
      {"9007199254740993.0", Kind::Double, 0, 0, 9007199254740992.0},
      {"2.2250738585072011e-308", Kind::Double, 0, 0, 2.2250738585072011e-308},
      {"0.1000000000000000055511151231257827021181583404541015625", Kind::Double, 0, 0, 0.1},
      // 253 zeros after the point, then the digit: 1e-254 scaled by 1e400.
      {"0." + std::string(253, '0') + "1e400", Kind::Double, 0, 0, 1e146},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = read(c.text);
    ASSERT_TRUE(r.has_value()) << r.error();
    ASSERT_EQ(r->kind(), c.kind);
    switch (c.kind) {
      case Kind::UInt:
        EXPECT_EQ(r->as_uint(), c.u);
        break;
      case Kind::Int:
        EXPECT_EQ(r->as_int(), c.i);
        break;
      default:
        EXPECT_EQ(r->as_double(), c.d);
        break;
    }
  }
}

TEST(JsonRead, NegativeZeroIsADouble) {
  for (std::string text : {"-0", "-0.0", "-1e-400"}) {
    SCOPED_TRACE(text);
    auto r = read(text);
    ASSERT_TRUE(r.has_value());
    ASSERT_TRUE(r->is_double());
    EXPECT_EQ(r->as_double(), 0.0);
    EXPECT_TRUE(std::signbit(r->as_double()));
  }
}

TEST(JsonRead, StringsDecodeEscapes) {
  struct Case {
    std::string text;
    std::string value;
  } cases[] = {
      {R"("")", ""},
      {R"("plain")", "plain"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
      {R"("\uD83D\uDE00")", "\xf0\x9f\x98\x80"},
      {R"("\udbff\udfff")", "\xf4\x8f\xbf\xbf"},
      {R"("a\u0000b")", std::string("a\0b", 3)},
      {"\"raw \xc3\xa9 \xf0\x9f\x98\x80\"", "raw \xc3\xa9 \xf0\x9f\x98\x80"},
      {"\"\x7f\"", "\x7f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = read(c.text);
    ASSERT_TRUE(r.has_value()) << r.error();
    ASSERT_TRUE(r->is_string());
    EXPECT_EQ(r->as_string(), c.value);
  }
}

TEST(JsonRead, ObjectsSortKeysAndKeepTheLastDuplicate) {
  auto r = read(
      " {\"op\" : \"Average\",\n \"of\":{\"b\":[1, -2, 2.5, true, false, null]},\"n\":20 ,"
      "\"n\":21}\r\n");
  ASSERT_TRUE(r.has_value()) << r.error();
  EXPECT_EQ(write(*r), R"({"n":21,"of":{"b":[1,-2,2.5,true,false,null]},"op":"Average"})");
  const Object& o = r->as_object();
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(o.begin()->first, "n");
  // Escaped keys compare by their decoded bytes.
  auto k = read(R"({"\u006fp":1,"op":2})");
  ASSERT_TRUE(k.has_value());
  EXPECT_EQ(write(*k), R"({"op":2})");
}

TEST(JsonRead, EmptyContainersAndBlanks) {
  struct Case {
    std::string text;
    std::string written;
  } cases[] = {
      {"[]", "[]"},           {"{}", "{}"},     {" [ ] ", "[]"},  {"\t{ \n}\r", "{}"},
      {"[[],{}]", "[[],{}]"}, {"true", "true"}, {"null", "null"}, {" \"x\" ", "\"x\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = read(c.text);
    ASSERT_TRUE(r.has_value()) << r.error();
    EXPECT_EQ(write(*r), c.written);
  }
}

TEST(JsonRead, LongInputIsReadWhole) {
  std::string text = "[";
  for (int i = 0; i < 100000; ++i) text += (i ? ",\"s" : "\"s") + std::to_string(i) + "\"";
  text += "]";
  auto r = read(text);
  ASSERT_TRUE(r.has_value());
  ASSERT_EQ(r->as_array().size(), 100000u);
  EXPECT_EQ(r->as_array().back(), Value("s99999"));
}

}  // namespace
}  // namespace korva::json
