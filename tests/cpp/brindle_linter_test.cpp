#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "brindle/linter.hpp"

namespace korva::brindle {
namespace {

struct Case {
  const char* name;
  std::string src;
  std::optional<std::vector<std::string>> series;
  std::vector<Lint> want;
};

TEST(Linter, Findings) {
  using S = std::vector<std::string>;
  const Case cases[] = {
      {"unused binding", "let a = close\nclose", std::nullopt, {{1, 5, "unused let binding `a`"}}},
      {"used binding", "let a = close\na", S{"close"}, {}},
      {"suggestions",
       "sma(closee, 5) > volum",
       S{"close", "volume"},
       {{1, 5, "unknown series `closee` \xE2\x80\x94 did you mean `close`?"},
        {1, 18, "unknown series `volum` \xE2\x80\x94 did you mean `volume`?"}}},
      {"no suggestion beyond distance 2", "xyz", S{"close"}, {{1, 1, "unknown series `xyz`"}}},
      {"distance 2 still suggests",
       "clo",
       S{"close"},
       {{1, 1, "unknown series `clo` \xE2\x80\x94 did you mean `close`?"}}},
      {"first candidate wins a tie",
       "aa",
       S{"ab", "ac"},
       {{1, 1, "unknown series `aa` \xE2\x80\x94 did you mean `ab`?"}}},
      {"closer candidate wins over earlier",
       "abcd",
       S{"abxy", "abcx"},
       {{1, 1, "unknown series `abcd` \xE2\x80\x94 did you mean `abcx`?"}}},
      {"empty series list",
       "a + b + a",
       S{},
       {{1, 1, "unknown series `a`"}, {1, 5, "unknown series `b`"}}},
      {"series absent", "a + b", std::nullopt, {}},
      {"reported once at first occurrence",
       "close2 + close2",
       S{"close"},
       {{1, 1, "unknown series `close2` \xE2\x80\x94 did you mean `close`?"}}},
      {"case-sensitive",
       "Close",
       S{"close"},
       {{1, 1, "unknown series `Close` \xE2\x80\x94 did you mean `close`?"}}},
      // References inside bindings count, used or not; findings are sorted by position.
      {"sorted by position",
       "let u = foo\nlet v = 1\nbar",
       S{"close"},
       {{1, 5, "unused let binding `u`"},
        {1, 9, "unknown series `foo`"},
        {2, 5, "unused let binding `v`"},
        {3, 1, "unknown series `bar`"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = lint(c.src, c.series ? &*c.series : nullptr);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    EXPECT_EQ(*got, c.want);
  }
}

TEST(Linter, UnparsableSourceGivesTheParseError) {
  const std::vector<std::string> series{"close"};
  auto got = lint("let a = close\nsma(", &series);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error(), (ParseError{"unexpected token Eof", 2, 5}));
}

TEST(Linter, Levenshtein) {
  struct D {
    const char* a;
    const char* b;
    std::size_t d;
  } cases[] = {
      {"kitten", "sitting", 3},
      {"", "abc", 3},
      {"abc", "", 3},
      {"", "", 0},
      {"Close", "close", 1},
      {"flaw", "lawn", 2},
      {"close", "close", 0},
      {"ab", "ba", 2},
      // Characters, not bytes: "é" (two bytes) against "e" is one substitution.
      {"caf\xC3\xA9", "cafe", 1},
      {"\xE2\x82\xAC", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(levenshtein(c.a, c.b), c.d);
    EXPECT_EQ(levenshtein(c.b, c.a), c.d);
    for (std::size_t limit : {0u, 1u, 2u, 3u}) {
      SCOPED_TRACE(limit);
      EXPECT_EQ(levenshtein_within(c.a, c.b, limit), std::min(c.d, limit + 1));
      EXPECT_EQ(levenshtein_within(c.b, c.a, limit), std::min(c.d, limit + 1));
    }
  }
}

TEST(Linter, BandedDistanceAgreesWithTheFullOne) {
  // Random short words over a three-letter alphabet meet every kind of edit; the banded
  // distance must equal the full one wherever it is within the limit.
  std::mt19937_64 rng(7);
  auto word = [&] {
    std::string w(rng() % 7, 'a');
    for (char& ch : w) ch = static_cast<char>('a' + rng() % 3);
    return w;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = word();
    const std::string b = word();
    const std::size_t limit = rng() % 4;
    SCOPED_TRACE(a + " / " + b + " / " + std::to_string(limit));
    ASSERT_EQ(levenshtein_within(a, b, limit), std::min(levenshtein(a, b), limit + 1));
  }
}

TEST(Linter, LongNamesAreComparedInLinearTime) {
  // Two 200 000-character names: the full table would hold 4e10 cells.
  const std::string name(200000, 'q');
  std::string near = name;
  near[100000] = 'r';
  const std::vector<std::string> series{std::string(199999, 'q') + "st", near};
  auto got = lint(name, &series);
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].message,
            "unknown series `" + name + "` \xE2\x80\x94 did you mean `" + near + "`?");
}

}  // namespace
}  // namespace korva::brindle
