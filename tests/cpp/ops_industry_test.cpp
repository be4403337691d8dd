#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/ops/neutralize.hpp"

namespace korva::ops {
namespace {

constexpr double nan = kNaN;
constexpr double inf = std::numeric_limits<double>::infinity();
const std::string kOther(kOtherIndustry);

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

void expect_cells_near(const Matrix& got, const std::vector<double>& want, double tol = 1e-12) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got.data()[i])) << got.data()[i];
    } else {
      EXPECT_NEAR(got.data()[i], want[i], tol);
    }
  }
}

const IndustryMap kBankTech{{"A", "bank"}, {"B", "bank"}, {"C", "tech"}, {"D", "tech"}};
const Symbols kAbcd{"A", "B", "C", "D"};

TEST(IndustryOther, IsTheChineseWordForOther) {
  EXPECT_EQ(kOther, "\u5176\u4ed6");
  EXPECT_EQ(kOther.size(), 6u);
}

TEST(GroupColsByIndustry, GroupsInOrderOfFirstAppearance) {
  const Symbols syms{"A", "B", "C", "D", "E"};
  const IndustryMap map{{"A", "x"}, {"B", "y"}, {"C", "x"}, {"Z", "z"}};
  struct Case {
    const char* name;
    std::vector<std::size_t> columns;
    std::vector<IndustryGroup> want;
  } cases[] = {
      {"given order", {3, 1, 0, 2, 4}, {{kOther, {3, 4}}, {"y", {1}}, {"x", {0, 2}}}},
      {"column order", {0, 1, 2, 3, 4}, {{"x", {0, 2}}, {"y", {1}}, {kOther, {3, 4}}}},
      {"subset", {2, 0}, {{"x", {2, 0}}}},
      {"none", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(group_cols_by_industry(syms, map, c.columns), c.want);
  }
}

TEST(NeutralizeIndustry, DemeansWithinIndustry) {
  struct Case {
    const char* name;
    IndustryMap map;
    std::vector<double> values;
    std::vector<double> want;
  } cases[] = {
      {"two industries", kBankTech, {1, 3, 10, 20}, {-1, 1, -5, 5}},
      {"one industry",
       {{"A", "x"}, {"B", "x"}, {"C", "x"}, {"D", "x"}},
       {1, 3, 10, 20},
       {nan, nan, nan, nan}},
      {"empty map is one industry", {}, {1, 3, 10, 20}, {nan, nan, nan, nan}},
      // Unmapped C and D form their own industry beside the bank.
      {"unmapped symbols", {{"A", "bank"}, {"B", "bank"}}, {1, 3, 10, 20}, {-1, 1, -5, 5}},
      // Non-finite values take no part and stay NaN; a lone member gives 0.
      {"lone member", kBankTech, {1, nan, inf, 20}, {0, nan, nan, 0}},
      {"one finite value", kBankTech, {nan, nan, 5, nan}, {nan, nan, nan, nan}},
      // Both finite values in one industry.
      {"finite values in one industry", kBankTech, {1, 3, nan, -inf}, {nan, nan, nan, nan}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel got = neutralize_industry(make({20240102}, kAbcd, c.values), c.map);
    EXPECT_EQ(got.dates, Dates{20240102});
    EXPECT_EQ(got.symbols, kAbcd);
    expect_cells_near(got.data, c.want);
  }
}

TEST(IndustryRank, RanksWithinIndustry) {
  const std::vector<std::string> tech{"tech"};
  const std::vector<std::string> none{};
  const std::vector<std::string> other{kOther};
  struct Case {
    const char* name;
    IndustryMap map;
    std::vector<double> values;
    const std::vector<std::string>* categories;
    std::vector<double> want;
  } cases[] = {
      {"two industries", kBankTech, {1, 3, 10, 20}, nullptr, {0.5, 1.0, 0.5, 1.0}},
      {"one industry", {}, {20, 3, 10, 1}, nullptr, {1.0, 0.5, 0.75, 0.25}},
      {"categories filter", kBankTech, {1, 3, 10, 20}, &tech, {nan, nan, 0.5, 1.0}},
      {"empty categories rank nothing", kBankTech, {1, 3, 10, 20}, &none, {nan, nan, nan, nan}},
      {"other is a category",
       {{"A", "bank"}},
       {1, 3, 10, 20},
       &other,
       {nan, 1.0 / 3.0, 2.0 / 3.0, 1.0}},
      // Ties share the average position: (0 + 1.5) / 3 for both 2s.
      {"ties", {}, {2, 5, 2, nan}, nullptr, {0.5, 1.0, 0.5, nan}},
      // -0.0 equals 0.0.
      {"signed zeros tie", {}, {0.0, -0.0, -1, 1}, nullptr, {0.625, 0.625, 0.25, 1.0}},
      {"lone member", kBankTech, {nan, 7, inf, nan}, nullptr, {nan, 1.0, nan, nan}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel got = industry_rank(make({1}, kAbcd, c.values), c.map, c.categories);
    EXPECT_EQ(got.symbols, kAbcd);
    expect_cells_near(got.data, c.want);
  }
}

TEST(IndustryRank, LargeGroupsMatchTheCountingDefinition) {
  // 200 symbols in 7 industries with many ties, over 3 dates: compare with a direct count
  // of smaller and equal members.
  const std::size_t m = 200, t = 3;
  Symbols syms;
  IndustryMap map;
  for (std::size_t s = 0; s < m; ++s) {
    syms.push_back("S" + std::to_string(s));
    if (s % 7 != 0) map[syms.back()] = "ind" + std::to_string(s % 7);
  }
  std::vector<double> cells(t * m);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    cells[i] = i % 11 == 0 ? nan : double((i * 37) % 13);
  }
  Panel p = make({1, 2, 3}, syms, cells);
  Panel got = industry_rank(p, map, nullptr);
  auto industry_of = [&](std::size_t s) {
    auto it = map.find(syms[s]);
    return it == map.end() ? kOther : it->second;
  };
  for (std::size_t d = 0; d < t; ++d) {
    for (std::size_t s = 0; s < m; ++s) {
      const double v = p.data(d, s);
      if (std::isnan(v)) {
        EXPECT_TRUE(std::isnan(got.data(d, s)));
        continue;
      }
      double smaller = 0, equal = 0, members = 0;
      for (std::size_t o = 0; o < m; ++o) {
        const double w = p.data(d, o);
        if (std::isnan(w) || industry_of(o) != industry_of(s)) continue;
        ++members;
        smaller += w < v;
        equal += w == v;
      }
      EXPECT_EQ(got.data(d, s), (smaller + (equal + 1) / 2) / members) << d << " " << s;
    }
  }
}

TEST(GroupbyCategory, AggregatesPerIndustry) {
  struct Case {
    const char* name;
    IndustryMap map;
    std::vector<double> values;
    const char* agg;
    Symbols want_symbols;
    std::vector<double> want;
  } cases[] = {
      {"mean", kBankTech, {1, 3, 10, 20}, "mean", {"bank", "tech"}, {2, 15}},
      {"sum", kBankTech, {1, 3, 10, 20}, "sum", {"bank", "tech"}, {4, 30}},
      {"std",
       kBankTech,
       {1, 3, 10, 20},
       "std",
       {"bank", "tech"},
       {std::sqrt(2.0), std::sqrt(50.0)}},
      {"std of one value",
       kBankTech,
       {1, nan, 10, 20},
       "std",
       {"bank", "tech"},
       {nan, std::sqrt(50.0)}},
      {"no finite member", kBankTech, {nan, inf, 10, 20}, "mean", {"bank", "tech"}, {nan, 15}},
      {"empty map", {}, {1, 3, 10, 20}, "sum", {kOther}, {34}},
      // Ascending byte order: upper case before lower case, UTF-8 after ASCII.
      {"byte order",
       {{"A", "tech"}, {"B", "Zeta"}, {"C", "bank"}},
       {1, 2, 3, 4},
       "sum",
       {"Zeta", "bank", "tech", kOther},
       {2, 3, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = groupby_category(make({7}, kAbcd, c.values), c.map, c.agg);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    EXPECT_EQ(got->dates, Dates{7});
    EXPECT_EQ(got->symbols, c.want_symbols);
    expect_cells_near(got->data, c.want);
  }
}

TEST(GroupbyCategory, UnknownAggregationFailsOnlyWithValues) {
  auto bad = groupby_category(make({1, 2}, kAbcd, {nan, nan, nan, nan, nan, 1, nan, nan}),
                              kBankTech, "median");
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().display(), "eval error: bad groupby agg 'median'");

  auto empty = groupby_category(make({1}, kAbcd, {nan, inf, nan, -inf}), kBankTech, "Mean");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->symbols, (Symbols{"bank", "tech"}));
  expect_cells_near(empty->data, {nan, nan});
}

TEST(Aggregate, NamedAggregations) {
  const std::vector<double> v{1, 2, 6};
  EXPECT_EQ(aggregate("mean", v).value(), 3.0);
  EXPECT_EQ(aggregate("sum", v).value(), 9.0);
  EXPECT_NEAR(aggregate("std", v).value(), std::sqrt(7.0), 1e-12);
  EXPECT_TRUE(std::isnan(aggregate("std", std::vector<double>{4}).value()));
  for (const char* name : {"median", "MEAN", "", "mean "}) {
    SCOPED_TRACE(name);
    auto r = aggregate(name, v);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), "bad groupby agg '" + std::string(name) + "'");
  }
}

}  // namespace
}  // namespace korva::ops
