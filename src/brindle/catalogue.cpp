#include "brindle/catalogue.hpp"

#include <array>

namespace korva::brindle {

namespace {

using K = ArgKind;

constexpr ArgSpec arg(std::string_view name) {
  return {K::Expr, name};
}
constexpr ArgSpec opt_arg(std::string_view name) {
  return {K::OptExpr, name};
}
constexpr ArgSpec list_arg(std::string_view name) {
  return {K::ExprList, name};
}
constexpr ArgSpec num(std::string_view name) {
  return {K::Number, name};
}
constexpr ArgSpec opt_num(std::string_view name) {
  return {K::OptNumber, name};
}
constexpr ArgSpec flag(std::string_view name) {
  return {K::Bool, name};
}
constexpr ArgSpec str(std::string_view name) {
  return {K::Str, name};
}
constexpr ArgSpec opt_str(std::string_view name) {
  return {K::OptStr, name};
}
constexpr ArgSpec str_list(std::string_view name) {
  return {K::StrList, name};
}

// Argument lists shared by several entries.
constexpr ArgSpec kOfN[] = {arg("of"), num("n")};
constexpr ArgSpec kHlcN[] = {arg("high"), arg("low"), arg("close"), num("n")};
constexpr ArgSpec kHlcvN[] = {arg("high"), arg("low"), arg("close"), arg("volume"), num("n")};
constexpr ArgSpec kOf[] = {arg("of")};
constexpr ArgSpec kStochD[] = {arg("high"), arg("low"), arg("close"), num("n"), opt_num("d")};
constexpr ArgSpec kHighN[] = {arg("high"), num("n")};
constexpr ArgSpec kLowN[] = {arg("low"), num("n")};
constexpr ArgSpec kObv[] = {arg("close"), arg("volume")};
constexpr ArgSpec kSustain[] = {arg("of"), num("nwindow"), opt_num("nsatisfy")};
constexpr ArgSpec kRank[] = {arg("of"), flag("pct"), flag("ascending")};
constexpr ArgSpec kMask[] = {arg("of"), arg("by")};
constexpr ArgSpec kHoldUntil[] = {arg("entry"),
                                  arg("exit"),
                                  opt_num("nstocks_limit"),
                                  opt_arg("rank"),
                                  opt_num("stop_loss"),
                                  opt_num("take_profit"),
                                  opt_num("trail_stop"),
                                  opt_num("trail_stop_activation")};
constexpr ArgSpec kRebalance[] = {arg("of"), opt_str("freq"), opt_arg("on")};
constexpr ArgSpec kNeutralize[] = {arg("of"), list_arg("by"), flag("add_const")};
constexpr ArgSpec kNeutralizeIndustry[] = {arg("of"), flag("add_const")};
constexpr ArgSpec kIndustryRank[] = {arg("of"), str_list("categories")};
constexpr ArgSpec kGroupby[] = {arg("of"), str("agg")};

// Name lists: one array per entry, canonical name first.
constexpr std::string_view kSma[] = {"sma", "average"};
constexpr std::string_view kEma[] = {"ema"};
constexpr std::string_view kStd[] = {"std"};
constexpr std::string_view kRsi[] = {"rsi"};
constexpr std::string_view kPctChange[] = {"pct_change"};
constexpr std::string_view kRise[] = {"rise"};
constexpr std::string_view kFall[] = {"fall"};
constexpr std::string_view kShift[] = {"shift"};
constexpr std::string_view kRollingMax[] = {"rolling_max"};
constexpr std::string_view kAtr[] = {"atr"};
constexpr std::string_view kNatr[] = {"natr"};
constexpr std::string_view kWillr[] = {"willr"};
constexpr std::string_view kCci[] = {"cci"};
constexpr std::string_view kStochKName[] = {"stoch_k"};
constexpr std::string_view kStochDName[] = {"stoch_d"};
constexpr std::string_view kAroonUp[] = {"aroon_up"};
constexpr std::string_view kAroonDown[] = {"aroon_down"};
constexpr std::string_view kAdx[] = {"adx"};
constexpr std::string_view kPlusDi[] = {"plus_di"};
constexpr std::string_view kMinusDi[] = {"minus_di"};
constexpr std::string_view kObvName[] = {"obv"};
constexpr std::string_view kMfi[] = {"mfi"};
constexpr std::string_view kVwap[] = {"vwap"};
constexpr std::string_view kIsLargest[] = {"is_largest"};
constexpr std::string_view kIsSmallest[] = {"is_smallest"};
constexpr std::string_view kSustainName[] = {"sustain"};
constexpr std::string_view kIsEntry[] = {"is_entry"};
constexpr std::string_view kIsExit[] = {"is_exit"};
constexpr std::string_view kCeil[] = {"ceil"};
constexpr std::string_view kRankName[] = {"rank"};
constexpr std::string_view kMaskName[] = {"mask"};
constexpr std::string_view kNormalizeRow[] = {"normalize_row"};
constexpr std::string_view kHoldUntilName[] = {"hold_until"};
constexpr std::string_view kRebalanceName[] = {"rebalance"};
constexpr std::string_view kNeutralizeName[] = {"neutralize"};
constexpr std::string_view kNeutralizeIndustryName[] = {"neutralize_industry"};
constexpr std::string_view kIndustryRankName[] = {"industry_rank"};
constexpr std::string_view kGroupbyName[] = {"groupby_category"};

constexpr OpSpec kOps[] = {
    {kSma, Op::Average, kOfN, "Simple moving average of `of` over `n` days."},
    {kEma, Op::Ema, kOfN, "Exponential moving average of `of` over `n` days."},
    {kStd, Op::Std, kOfN, "Rolling standard deviation of `of` over `n` days."},
    {kRsi, Op::Rsi, kOfN, "Relative Strength Index of `of` over `n` days."},
    {kPctChange, Op::PctChange, kOfN, "Percentage change of `of` over `n` days."},
    {kRise, Op::Rise, kOfN, "1 where `of` rose for `n` consecutive days, else 0."},
    {kFall, Op::Fall, kOfN, "1 where `of` fell for `n` consecutive days, else 0."},
    {kShift, Op::Shift, kOfN, "`of` lagged forward by `n` days."},
    {kRollingMax, Op::RollingMax, kOfN, "Rolling maximum of `of` over `n` days."},
    {kAtr, Op::Atr, kHlcN, "Average True Range over `n` days from high/low/close."},
    {kNatr, Op::Natr, kHlcN, "Normalized ATR (percent) over `n` days."},
    {kWillr, Op::WillR, kHlcN, "Williams %R over `n` days."},
    {kCci, Op::Cci, kHlcN, "Commodity Channel Index over `n` days."},
    {kStochKName, Op::StochK, kHlcN, "Stochastic %K over `n` days."},
    {kStochDName, Op::StochD, kStochD,
     "Stochastic %D: `d`-day average of %K over `n` days (d defaults to 3)."},
    {kAroonUp, Op::AroonUp, kHighN, "Aroon Up over `n` days from high."},
    {kAroonDown, Op::AroonDown, kLowN, "Aroon Down over `n` days from low."},
    {kAdx, Op::Adx, kHlcN, "Average Directional Index over `n` days."},
    {kPlusDi, Op::PlusDi, kHlcN, "Plus Directional Indicator (+DI) over `n` days."},
    {kMinusDi, Op::MinusDi, kHlcN, "Minus Directional Indicator (-DI) over `n` days."},
    {kObvName, Op::Obv, kObv, "On-Balance Volume from close and volume."},
    {kMfi, Op::Mfi, kHlcvN, "Money Flow Index over `n` days."},
    {kVwap, Op::Vwap, kHlcvN,
     "Volume-Weighted Average Price over `n` days from high/low/close/volume."},
    {kIsLargest, Op::IsLargest, kOfN,
     "1 for the `n` highest values per row (cross-section), else 0."},
    {kIsSmallest, Op::IsSmallest, kOfN,
     "1 for the `n` lowest values per row (cross-section), else 0."},
    {kSustainName, Op::Sustain, kSustain,
     "1 where `of` held true at least `nsatisfy` times within the last `nwindow` rows."},
    {kIsEntry, Op::IsEntry, kOf, "1 on the row where `of` turns false->true (rising edge)."},
    {kIsExit, Op::IsExit, kOf, "1 on the row where `of` turns true->false (falling edge)."},
    {kCeil, Op::Ceil, kOf, "Ceiling of `of`."},
    {kRankName, Op::Rank, kRank,
     "Cross-sectional rank of `of` per row; `pct` for 0..1 percentile (default true), "
     "`ascending` sets direction (default true)."},
    {kMaskName, Op::Mask, kMask, "`of` kept only where `by` is true; elsewhere dropped."},
    {kNormalizeRow, Op::NormalizeRow, kOf,
     "Scale each row so gross weight (sum of |w|) is 1 \u2014 turns a raw signal into "
     "explicit portfolio weights. NaN preserved; zero rows unchanged."},
    {kHoldUntilName, Op::HoldUntil, kHoldUntil,
     "Stateful rotation: enter on `entry`, exit on `exit`, hold up to `nstocks_limit` "
     "(prioritised by `rank`), with optional "
     "stop_loss/take_profit/trail_stop/trail_stop_activation."},
    {kRebalanceName, Op::Rebalance, kRebalance,
     "Hold `of`, refreshing on calendar `freq` (W/ME/QE) or on dates where `on` is true."},
    {kNeutralizeName, Op::Neutralize, kNeutralize,
     "Cross-sectionally regress `of` against the `by` factors, optionally adding a constant "
     "(default true)."},
    {kNeutralizeIndustryName, Op::NeutralizeIndustry, kNeutralizeIndustry,
     "Neutralize `of` within each industry/sector (add_const defaults to true)."},
    {kIndustryRankName, Op::IndustryRank, kIndustryRank,
     "Rank `of` within each industry, optionally limited to `categories`."},
    {kGroupbyName, Op::GroupbyCategory, kGroupby,
     "Aggregate `of` within each industry using `agg` (e.g. mean)."},
};

constexpr BinOpSpec kBinOps[] = {
    {">", Op::Gt},  {"<", Op::Lt},  {">=", Op::Ge}, {"<=", Op::Le}, {"and", Op::And},
    {"or", Op::Or}, {"+", Op::Add}, {"-", Op::Sub}, {"*", Op::Mul}, {"/", Op::Div},
};

static_assert(std::size(kOps) == 38);
static_assert(std::size(kBinOps) == 10);

}  // namespace

std::span<const OpSpec> ops() {
  return kOps;
}
std::span<const BinOpSpec> binops() {
  return kBinOps;
}

const OpSpec* find_op_by_name(std::string_view name) {
  for (const OpSpec& spec : kOps) {
    for (std::string_view n : spec.names) {
      if (n == name) return &spec;
    }
  }
  return nullptr;
}

const OpSpec* find_op_by_tag(Op op) {
  for (const OpSpec& spec : kOps) {
    if (spec.op == op) return &spec;
  }
  return nullptr;
}

const OpSpec* find_op_by_tag(std::string_view tag) {
  std::optional<Op> op = op_from_tag(tag);
  return op ? find_op_by_tag(*op) : nullptr;
}

std::optional<Op> binop_tag(std::string_view symbol) {
  for (const BinOpSpec& b : kBinOps) {
    if (b.symbol == symbol) return b.op;
  }
  return std::nullopt;
}

std::optional<std::string_view> binop_symbol_for_tag(Op op) {
  for (const BinOpSpec& b : kBinOps) {
    if (b.op == op) return b.symbol;
  }
  return std::nullopt;
}

std::optional<std::string_view> binop_symbol_for_tag(std::string_view tag) {
  std::optional<Op> op = op_from_tag(tag);
  return op ? binop_symbol_for_tag(*op) : std::nullopt;
}

}  // namespace korva::brindle
