#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/reader.hpp"
#include "json/value.hpp"

namespace korva::json {
namespace {

TEST(JsonObject, KeysIterateInByteOrderWhateverTheInsertionOrder) {
  Object o;
  o.insert("op", Value("Average"));
  o.insert("of", Value(1));
  o.insert("n", Value(20));
  std::vector<std::string> keys;
  for (const auto& [k, v] : o) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"n", "of", "op"}));
  EXPECT_EQ(write(Value(o)), R"({"n":20,"of":1,"op":"Average"})");

  // Bytes, not letters: upper case before lower case, UTF-8 after ASCII, prefixes first.
  Object b;
  for (std::string k : {"\xc3\xa9", "a", "B", "ab", "", "z"}) b.insert(k, Value(true));
  keys.clear();
  for (const auto& [k, v] : b) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "B", "a", "ab", "z", "\xc3\xa9"}));
}

TEST(JsonObject, InsertReplacesAndFindLooksUp) {
  Object o;
  o.insert("k", Value(1));
  o.insert("k", Value("two"));
  EXPECT_EQ(o.size(), 1u);
  ASSERT_NE(o.find("k"), nullptr);
  EXPECT_EQ(*o.find("k"), Value("two"));
  EXPECT_EQ(o.find("missing"), nullptr);
  EXPECT_TRUE(o.contains("k"));
}

TEST(JsonObject, FromEntriesSortsAndKeepsTheLastOfEqualKeys) {
  std::vector<Object::Entry> entries;
  entries.emplace_back("op", Value("Average"));
  entries.emplace_back("n", Value(1));
  entries.emplace_back("of", Value(2));
  entries.emplace_back("n", Value(3));
  Object o = Object::from_entries(std::move(entries));
  EXPECT_EQ(write(Value(o)), R"({"n":3,"of":2,"op":"Average"})");

  // Many keys in descending order stay cheap and end up ascending.
  std::vector<Object::Entry> many;
  for (int i = 200000; i > 0; --i) many.emplace_back(std::to_string(i), Value(i));
  Object big = Object::from_entries(std::move(many));
  ASSERT_EQ(big.size(), 200000u);
  EXPECT_EQ(big.begin()->first, "1");
  EXPECT_EQ(*big.find("200000"), Value(200000));
}

TEST(JsonValue, NumberKinds) {
  struct Case {
    Value value;
    Kind kind;
    std::string written;
  } cases[] = {
      {Value(5), Kind::UInt, "5"},
      {Value(std::int64_t{0}), Kind::UInt, "0"},
      {Value(std::int64_t{-5}), Kind::Int, "-5"},
      {Value(std::numeric_limits<std::int64_t>::min()), Kind::Int, "-9223372036854775808"},
      {Value(std::numeric_limits<std::uint64_t>::max()), Kind::UInt, "18446744073709551615"},
      {Value(20.0), Kind::Double, "20.0"},
      {Value(-0.5), Kind::Double, "-0.5"},
      {Value(std::nan("")), Kind::Null, "null"},
      {Value(std::numeric_limits<double>::infinity()), Kind::Null, "null"},
      {Value(-std::numeric_limits<double>::infinity()), Kind::Null, "null"},
      {Value(true), Kind::Bool, "true"},
      {Value(), Kind::Null, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(c.value.kind(), c.kind);
    EXPECT_EQ(write(c.value), c.written);
  }
  EXPECT_EQ(Value(7).to_double(), 7.0);
  EXPECT_EQ(Value(-7).to_double(), -7.0);
  EXPECT_TRUE(std::isnan(Value("x").to_double()));
}

// Every written number reads back to the same value and the same kind.
TEST(JsonWrite, DoublesReadBackBitForBit) {
  const double cases[] = {
      0.0,
      -0.0,
      0.1,
      1.0 / 3.0,
      20.0,
      -20.0,
      1e21,
      1e22,
      1.5e300,
      1e-7,
      123456789012345680000.0,
      9007199254740993.0,
      18446744073709551616.0,
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
      std::numeric_limits<double>::min(),
      std::numeric_limits<double>::denorm_min(),
      -std::numeric_limits<double>::denorm_min(),
      2.2250738585072009e-308,
      std::nextafter(1.0, 2.0),
      std::nextafter(1e23, 0.0),
  };
  for (double d : cases) {
    SCOPED_TRACE(d);
    const std::string text = write(Value(d));
    auto back = read(text);
    ASSERT_TRUE(back.has_value()) << text << ": " << back.error();
    ASSERT_TRUE(back->is_double()) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back->as_double()), std::bit_cast<std::uint64_t>(d))
        << text;
  }
}

TEST(JsonWrite, IntegersReadBackWithTheirKind) {
  const Value cases[] = {
      Value(0),
      Value(1),
      Value(std::numeric_limits<std::uint64_t>::max()),
      Value(std::uint64_t{1} << 63),
      Value(-1),
      Value(std::numeric_limits<std::int64_t>::min()),
      Value(std::numeric_limits<std::int64_t>::min() + 1),
  };
  for (const Value& v : cases) {
    const std::string text = write(v);
    SCOPED_TRACE(text);
    auto back = read(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->kind(), v.kind());
    EXPECT_EQ(*back, v);
  }
}

TEST(JsonWrite, StringsEscapeAndReadBack) {
  struct Case {
    std::string value;
    std::string written;
  } cases[] = {
      {"plain", R"("plain")"},
      {"q\"b\\", R"("q\"b\\")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {std::string("\0\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x7f \xc3\xa9 \xf0\x9f\x98\x80", "\"\x7f \xc3\xa9 \xf0\x9f\x98\x80\""},
      {"/", R"("/")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(write(Value(c.value)), c.written);
    auto back = read(c.written);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(back->as_string(), c.value);
  }
}

TEST(JsonWrite, CompactAndRoundTrips) {
  Object inner;
  inner.insert("z", Value(Array{Value(1), Value(-2), Value(2.5), Value(), Value(false)}));
  inner.insert("a", Value(Object()));
  Object outer;
  outer.insert("tree", Value(inner));
  outer.insert("list", Value(Array{Value("x"), Value(Array())}));
  const Value v(outer);
  const std::string text = write(v);
  EXPECT_EQ(text, R"({"list":["x",[]],"tree":{"a":{},"z":[1,-2,2.5,null,false]}})");
  auto back = read(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, v);
  EXPECT_EQ(write(*back), text);
}

// Values nested far deeper than the reader accepts are still written and destroyed without
// exhausting the stack; reading such text back stops at the nesting limit.
TEST(JsonValue, DeepValuesWriteAndDestroySafely) {
  constexpr int kDepth = 100000;
  Value v(Array{});
  for (int i = 0; i < kDepth; ++i) {
    Array wrap;
    wrap.push_back(std::move(v));
    v = Value(std::move(wrap));
  }
  std::string text = write(v);
  ASSERT_EQ(text.size(), 2u * (kDepth + 1));
  EXPECT_EQ(text.substr(0, 3), "[[[");
  EXPECT_EQ(text.substr(text.size() - 3), "]]]");
  EXPECT_EQ(read(text).error(), "recursion limit exceeded at line 1 column 128");

  Value o = Value(Object());
  for (int i = 0; i < kDepth; ++i) {
    Object wrap;
    wrap.insert("k", std::move(o));
    o = Value(std::move(wrap));
  }
  EXPECT_EQ(write(o).size(), 6u * kDepth + 2);
}

// Copies and comparisons of values nested far deeper than the stack could follow by
// recursion: arrays, objects and both mixed, with a difference at the innermost leaf.
TEST(JsonValue, DeepValuesCopyAndCompareSafely) {
  constexpr int kDepth = 50000;
  struct Case {
    const char* name;
    bool objects;
    bool mixed;
  } cases[] = {{"arrays", false, false}, {"objects", true, false}, {"mixed", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Value original(1);
    for (int i = 0; i < kDepth; ++i) {
      if (c.objects || (c.mixed && i % 2 == 0)) {
        Object wrap;
        wrap.insert("k", std::move(original));
        wrap.insert("a", Value(i));
        original = Value(std::move(wrap));
      } else {
        Array wrap;
        wrap.push_back(Value(i));
        wrap.push_back(std::move(original));
        original = Value(std::move(wrap));
      }
    }
    auto child_of = [](Value& v) -> Value* {
      if (v.is_array()) return &v.as_array()[1];
      if (v.is_object()) return v.as_object().find("k");
      return nullptr;
    };

    Value copy(original);
    EXPECT_TRUE(copy == original);
    EXPECT_EQ(write(copy), write(original));
    // A difference at the innermost leaf is found.
    Value* leaf = &copy;
    while (Value* next = child_of(*leaf)) leaf = next;
    ASSERT_EQ(*leaf, Value(1));
    *leaf = Value(2);
    EXPECT_FALSE(copy == original);

    // Assigning a value's own descendant to it copies before replacing.
    Value assigned("x");
    assigned = original;
    EXPECT_TRUE(assigned == original);
    const Value expected(*child_of(assigned));
    assigned = *child_of(assigned);
    EXPECT_TRUE(assigned == expected);
  }
}

TEST(JsonValue, EqualityDistinguishesKindsKeysAndSizes) {
  struct Case {
    Value a, b;
    bool equal;
  } cases[] = {
      {Value(1), Value(1.0), false},
      {Value(1), Value(1), true},
      {Value(-1), Value(-1), true},
      {Value(0.0), Value(-0.0), true},
      {Value("a"), Value("a"), true},
      {Value(), Value(false), false},
      {Value(Array{Value(1)}), Value(Array{Value(1), Value(2)}), false},
      {Value(Array{Value(1), Value(2)}), Value(Array{Value(2), Value(1)}), false},
      {Value(Object::from_entries({{"a", Value(1)}})),
       Value(Object::from_entries({{"b", Value(1)}})), false},
      {Value(Object::from_entries({{"a", Value(1)}, {"b", Value()}})),
       Value(Object::from_entries({{"b", Value()}, {"a", Value(1)}})), true},
      {Value(Object()), Value(Array()), false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal);
    EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal);
  }
}

}  // namespace
}  // namespace korva::json
