#include <gtest/gtest.h>

#include <set>
#include <string>

#include "brindle/catalogue.hpp"

namespace korva::brindle {
namespace {

// Renders an entry's arguments in the compact notation of the function table: no mark =
// expression, ? = optional expression, [] = expression list, # = number, #? = optional
// number, b = flag, s = string, s? = optional string, [s] = string list.
std::string signature(const OpSpec& spec) {
  std::string out;
  for (const ArgSpec& a : spec.args) {
    if (!out.empty()) out += ", ";
    out += a.name;
    switch (a.kind) {
      case ArgKind::Expr:
        break;
      case ArgKind::OptExpr:
        out += " ?";
        break;
      case ArgKind::ExprList:
        out += " []";
        break;
      case ArgKind::Number:
        out += " #";
        break;
      case ArgKind::OptNumber:
        out += " #?";
        break;
      case ArgKind::Bool:
        out += " b";
        break;
      case ArgKind::Str:
        out += " s";
        break;
      case ArgKind::OptStr:
        out += " s?";
        break;
      case ArgKind::StrList:
        out += " [s]";
        break;
    }
  }
  return out;
}

struct Entry {
  const char* names;
  const char* tag;
  const char* args;
  const char* doc;
};

// The whole function table, in order.
const Entry kExpected[] = {
    {"sma average", "Average", "of, n #", "Simple moving average of `of` over `n` days."},
    {"ema", "Ema", "of, n #", "Exponential moving average of `of` over `n` days."},
    {"std", "Std", "of, n #", "Rolling standard deviation of `of` over `n` days."},
    {"rsi", "Rsi", "of, n #", "Relative Strength Index of `of` over `n` days."},
    {"pct_change", "PctChange", "of, n #", "Percentage change of `of` over `n` days."},
    {"rise", "Rise", "of, n #", "1 where `of` rose for `n` consecutive days, else 0."},
    {"fall", "Fall", "of, n #", "1 where `of` fell for `n` consecutive days, else 0."},
    {"shift", "Shift", "of, n #", "`of` lagged forward by `n` days."},
    {"rolling_max", "RollingMax", "of, n #", "Rolling maximum of `of` over `n` days."},
    {"atr", "Atr", "high, low, close, n #",
     "Average True Range over `n` days from high/low/close."},
    {"natr", "Natr", "high, low, close, n #", "Normalized ATR (percent) over `n` days."},
    {"willr", "WillR", "high, low, close, n #", "Williams %R over `n` days."},
    {"cci", "Cci", "high, low, close, n #", "Commodity Channel Index over `n` days."},
    {"stoch_k", "StochK", "high, low, close, n #", "Stochastic %K over `n` days."},
    {"stoch_d", "StochD", "high, low, close, n #, d #?",
     "Stochastic %D: `d`-day average of %K over `n` days (d defaults to 3)."},
    {"aroon_up", "AroonUp", "high, n #", "Aroon Up over `n` days from high."},
    {"aroon_down", "AroonDown", "low, n #", "Aroon Down over `n` days from low."},
    {"adx", "Adx", "high, low, close, n #", "Average Directional Index over `n` days."},
    {"plus_di", "PlusDi", "high, low, close, n #",
     "Plus Directional Indicator (+DI) over `n` days."},
    {"minus_di", "MinusDi", "high, low, close, n #",
     "Minus Directional Indicator (-DI) over `n` days."},
    {"obv", "Obv", "close, volume", "On-Balance Volume from close and volume."},
    {"mfi", "Mfi", "high, low, close, volume, n #", "Money Flow Index over `n` days."},
    {"vwap", "Vwap", "high, low, close, volume, n #",
     "Volume-Weighted Average Price over `n` days from high/low/close/volume."},
    {"is_largest", "IsLargest", "of, n #",
     "1 for the `n` highest values per row (cross-section), else 0."},
    {"is_smallest", "IsSmallest", "of, n #",
     "1 for the `n` lowest values per row (cross-section), else 0."},
    {"sustain", "Sustain", "of, nwindow #, nsatisfy #?",
     "1 where `of` held true at least `nsatisfy` times within the last `nwindow` rows."},
    {"is_entry", "IsEntry", "of", "1 on the row where `of` turns false->true (rising edge)."},
    {"is_exit", "IsExit", "of", "1 on the row where `of` turns true->false (falling edge)."},
    {"ceil", "Ceil", "of", "Ceiling of `of`."},
    {"rank", "Rank", "of, pct b, ascending b",
     "Cross-sectional rank of `of` per row; `pct` for 0..1 percentile (default true), "
     "`ascending` sets direction (default true)."},
    {"mask", "Mask", "of, by", "`of` kept only where `by` is true; elsewhere dropped."},
    {"normalize_row", "NormalizeRow", "of",
     "Scale each row so gross weight (sum of |w|) is 1 \xE2\x80\x94 turns a raw signal into "
     "explicit portfolio weights. NaN preserved; zero rows unchanged."},
    {"hold_until", "HoldUntil",
     "entry, exit, nstocks_limit #?, rank ?, stop_loss #?, take_profit #?, trail_stop #?, "
     "trail_stop_activation #?",
     "Stateful rotation: enter on `entry`, exit on `exit`, hold up to `nstocks_limit` "
     "(prioritised by `rank`), with optional "
     "stop_loss/take_profit/trail_stop/trail_stop_activation."},
    {"rebalance", "Rebalance", "of, freq s?, on ?",
     "Hold `of`, refreshing on calendar `freq` (W/ME/QE) or on dates where `on` is true."},
    {"neutralize", "Neutralize", "of, by [], add_const b",
     "Cross-sectionally regress `of` against the `by` factors, optionally adding a constant "
     "(default true)."},
    {"neutralize_industry", "NeutralizeIndustry", "of, add_const b",
     "Neutralize `of` within each industry/sector (add_const defaults to true)."},
    {"industry_rank", "IndustryRank", "of, categories [s]",
     "Rank `of` within each industry, optionally limited to `categories`."},
    {"groupby_category", "GroupbyCategory", "of, agg s",
     "Aggregate `of` within each industry using `agg` (e.g. mean)."},
};

TEST(Catalogue, FunctionTableMatchesEntryByEntry) {
  ASSERT_EQ(ops().size(), std::size(kExpected));
  for (std::size_t i = 0; i < ops().size(); ++i) {
    const OpSpec& spec = ops()[i];
    const Entry& want = kExpected[i];
    SCOPED_TRACE(want.names);
    std::string names;
    for (std::string_view n : spec.names) names += (names.empty() ? "" : " ") + std::string(n);
    EXPECT_EQ(names, want.names);
    EXPECT_EQ(spec.tag(), want.tag);
    EXPECT_EQ(signature(spec), want.args);
    EXPECT_EQ(spec.doc, want.doc);
  }
}

// The kind each field of the variant table calls for.
ArgKind kind_for(const FieldSpec& f) {
  switch (f.kind) {
    case FieldKind::Subtree:
      return f.presence == Presence::Required ? ArgKind::Expr : ArgKind::OptExpr;
    case FieldKind::SubtreeList:
      return ArgKind::ExprList;
    case FieldKind::Count:
      return f.presence == Presence::Required ? ArgKind::Number : ArgKind::OptNumber;
    case FieldKind::Number:
      return ArgKind::OptNumber;  // only optional numbers exist
    case FieldKind::Flag:
      return ArgKind::Bool;
    case FieldKind::Text:
      return f.presence == Presence::Required ? ArgKind::Str : ArgKind::OptStr;
    case FieldKind::TextList:
      return ArgKind::StrList;
  }
  return ArgKind::Expr;
}

TEST(Catalogue, EntriesAgreeWithTheVariantTable) {
  std::set<std::string_view> seen_names;
  for (const OpSpec& spec : ops()) {
    SCOPED_TRACE(std::string(spec.canonical_name()));
    ASSERT_FALSE(spec.names.empty());
    ASSERT_FALSE(spec.args.empty());
    for (std::string_view n : spec.names) EXPECT_TRUE(seen_names.insert(n).second) << n;
    const VariantSpec& v = variant(spec.op);
    ASSERT_EQ(spec.args.size(), v.fields.size());
    for (std::size_t i = 0; i < v.fields.size(); ++i) {
      EXPECT_EQ(spec.args[i].name, v.fields[i].name);
      EXPECT_EQ(spec.args[i].kind, kind_for(v.fields[i])) << v.fields[i].name;
    }
  }
}

TEST(Catalogue, InfixTableInOrder) {
  const std::pair<const char*, const char*> want[] = {
      {">", "Gt"},  {"<", "Lt"},  {">=", "Ge"}, {"<=", "Le"}, {"and", "And"},
      {"or", "Or"}, {"+", "Add"}, {"-", "Sub"}, {"*", "Mul"}, {"/", "Div"}};
  ASSERT_EQ(binops().size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(binops()[i].symbol, want[i].first);
    EXPECT_EQ(tag_name(binops()[i].op), want[i].second);
    EXPECT_EQ(binop_tag(want[i].first), binops()[i].op);
    EXPECT_EQ(binop_symbol_for_tag(want[i].second), want[i].first);
    EXPECT_EQ(find_op_by_tag(want[i].second), nullptr);
  }
}

TEST(Catalogue, LookupsByNameAndTag) {
  const OpSpec* sma = find_op_by_name("sma");
  ASSERT_NE(sma, nullptr);
  EXPECT_EQ(find_op_by_name("average"), sma);
  EXPECT_EQ(find_op_by_tag("Average"), sma);
  EXPECT_EQ(find_op_by_tag(Op::Average), sma);
  EXPECT_EQ(sma->canonical_name(), "sma");
  EXPECT_EQ(find_op_by_name("groupby_category")->op, Op::GroupbyCategory);

  for (const char* missing : {"SMA", "Sma", "", "sma ", "Average", "not", "and"}) {
    EXPECT_EQ(find_op_by_name(missing), nullptr) << missing;
  }
  for (const char* tag : {"Data", "Const", "Not", "Neg", "average", "Foo", ""}) {
    EXPECT_EQ(find_op_by_tag(tag), nullptr) << tag;
  }
  EXPECT_EQ(find_op_by_tag("Ceil")->canonical_name(), "ceil");
}

TEST(Catalogue, InfixLookupsAreExact) {
  EXPECT_EQ(binop_tag("and"), Op::And);
  for (const char* s : {"&&", "==", "not", "AND", "=", "=>", ""}) {
    EXPECT_EQ(binop_tag(s), std::nullopt) << s;
  }
  EXPECT_EQ(binop_symbol_for_tag("Ge"), ">=");
  for (const char* t : {"Neg", "Not", "Average", "ge", "Foo"}) {
    EXPECT_EQ(binop_symbol_for_tag(t), std::nullopt) << t;
  }
}

}  // namespace
}  // namespace korva::brindle
