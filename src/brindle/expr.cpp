#include "brindle/expr.hpp"

namespace korva::brindle {

namespace {

using K = FieldKind;
using P = Presence;

constexpr FieldSpec req(std::string_view name, FieldKind kind) { return {name, kind}; }
constexpr FieldSpec opt(std::string_view name, FieldKind kind, bool trailing = false) {
  return {name, kind, P::Optional, 0, false, trailing};
}
constexpr FieldSpec def_count(std::string_view name, std::uint64_t value) {
  return {name, K::Count, P::Defaulted, value, false, true};
}
constexpr FieldSpec def_flag(std::string_view name, bool value) {
  return {name, K::Flag, P::Defaulted, 0, value, true};
}

constexpr FieldSpec kData[] = {req("name", K::Text)};
constexpr FieldSpec kConst[] = {req("value", K::Number)};
constexpr FieldSpec kOfN[] = {req("of", K::Subtree), req("n", K::Count)};
constexpr FieldSpec kHlcN[] = {req("high", K::Subtree), req("low", K::Subtree),
                               req("close", K::Subtree), req("n", K::Count)};
constexpr FieldSpec kStochD[] = {req("high", K::Subtree), req("low", K::Subtree),
                                 req("close", K::Subtree), req("n", K::Count),
                                 def_count("d", 3)};
constexpr FieldSpec kHighN[] = {req("high", K::Subtree), req("n", K::Count)};
constexpr FieldSpec kLowN[] = {req("low", K::Subtree), req("n", K::Count)};
constexpr FieldSpec kObv[] = {req("close", K::Subtree), req("volume", K::Subtree)};
constexpr FieldSpec kHlcvN[] = {req("high", K::Subtree), req("low", K::Subtree),
                                req("close", K::Subtree), req("volume", K::Subtree),
                                req("n", K::Count)};
constexpr FieldSpec kSustain[] = {req("of", K::Subtree), req("nwindow", K::Count),
                                  opt("nsatisfy", K::Count)};
constexpr FieldSpec kOf[] = {req("of", K::Subtree)};
constexpr FieldSpec kLR[] = {req("l", K::Subtree), req("r", K::Subtree)};
constexpr FieldSpec kRank[] = {req("of", K::Subtree), def_flag("pct", true),
                               def_flag("ascending", true)};
constexpr FieldSpec kMask[] = {req("of", K::Subtree), req("by", K::Subtree)};
constexpr FieldSpec kHoldUntil[] = {
    req("entry", K::Subtree),          req("exit", K::Subtree),
    opt("nstocks_limit", K::Count),    opt("rank", K::Subtree),
    opt("stop_loss", K::Number, true), opt("take_profit", K::Number, true),
    opt("trail_stop", K::Number, true), opt("trail_stop_activation", K::Number, true)};
constexpr FieldSpec kRebalance[] = {req("of", K::Subtree), opt("freq", K::Text, true),
                                    opt("on", K::Subtree, true)};
constexpr FieldSpec kNeutralize[] = {req("of", K::Subtree), req("by", K::SubtreeList),
                                     def_flag("add_const", true)};
constexpr FieldSpec kNeutralizeIndustry[] = {req("of", K::Subtree), def_flag("add_const", true)};
constexpr FieldSpec kIndustryRank[] = {req("of", K::Subtree),
                                       opt("categories", K::TextList, true)};
constexpr FieldSpec kGroupby[] = {req("of", K::Subtree), req("agg", K::Text)};

constexpr std::array<VariantSpec, kVariantCount> kVariants = {{
    {"Data", kData},
    {"Const", kConst},
    {"Average", kOfN},
    {"Ema", kOfN},
    {"Std", kOfN},
    {"Rsi", kOfN},
    {"PctChange", kOfN},
    {"Rise", kOfN},
    {"Shift", kOfN},
    {"RollingMax", kOfN},
    {"Atr", kHlcN},
    {"Natr", kHlcN},
    {"WillR", kHlcN},
    {"Cci", kHlcN},
    {"StochK", kHlcN},
    {"StochD", kStochD},
    {"AroonUp", kHighN},
    {"AroonDown", kLowN},
    {"Adx", kHlcN},
    {"PlusDi", kHlcN},
    {"MinusDi", kHlcN},
    {"Obv", kObv},
    {"Mfi", kHlcvN},
    {"Vwap", kHlcvN},
    {"Fall", kOfN},
    {"IsLargest", kOfN},
    {"IsSmallest", kOfN},
    {"Sustain", kSustain},
    {"IsEntry", kOf},
    {"IsExit", kOf},
    {"Gt", kLR},
    {"Lt", kLR},
    {"Ge", kLR},
    {"Le", kLR},
    {"And", kLR},
    {"Or", kLR},
    {"Not", kOf},
    {"Add", kLR},
    {"Sub", kLR},
    {"Mul", kLR},
    {"Div", kLR},
    {"Neg", kOf},
    {"Ceil", kOf},
    {"Rank", kRank},
    {"Mask", kMask},
    {"NormalizeRow", kOf},
    {"HoldUntil", kHoldUntil},
    {"Rebalance", kRebalance},
    {"Neutralize", kNeutralize},
    {"NeutralizeIndustry", kNeutralizeIndustry},
    {"IndustryRank", kIndustryRank},
    {"GroupbyCategory", kGroupby},
}};

}  // namespace

const std::array<VariantSpec, kVariantCount>& variants() { return kVariants; }

std::optional<Op> op_from_tag(std::string_view tag) {
  for (std::size_t i = 0; i < kVariantCount; ++i) {
    if (kVariants[i].tag == tag) return static_cast<Op>(i);
  }
  return std::nullopt;
}

}  // namespace korva::brindle
