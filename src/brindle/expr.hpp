// The strategy tree: a closed tagged union of 52 variants in a fixed order.
//
// Every node is an `Expr` with its tag and its fields stored in the declared order of the
// variant table below. The table is the one place that knows each variant's fields; the
// JSON reader, the printer's tag check and the evaluator read it. Nodes own their
// children exclusively and are read-only once built.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace korva::brindle {

enum class Op : std::uint8_t {
  Data, Const, Average, Ema, Std, Rsi, PctChange, Rise, Shift, RollingMax,
  Atr, Natr, WillR, Cci, StochK, StochD, AroonUp, AroonDown, Adx, PlusDi,
  MinusDi, Obv, Mfi, Vwap, Fall, IsLargest, IsSmallest, Sustain, IsEntry, IsExit,
  Gt, Lt, Ge, Le, And, Or, Not, Add, Sub, Mul,
  Div, Neg, Ceil, Rank, Mask, NormalizeRow, HoldUntil, Rebalance, Neutralize, NeutralizeIndustry,
  IndustryRank, GroupbyCategory,
};
inline constexpr std::size_t kVariantCount = 52;

enum class FieldKind : std::uint8_t { Subtree, SubtreeList, Count, Number, Flag, Text, TextList };

// How a field may be left out: required fields must be present; defaulted fields take
// their default when absent; optional fields are none when absent or null.
enum class Presence : std::uint8_t { Required, Defaulted, Optional };

struct FieldSpec {
  std::string_view name;
  FieldKind kind;
  Presence presence = Presence::Required;
  // Default for a defaulted field: a count (`d`) or a flag (`pct`, `ascending`, `add_const`).
  std::uint64_t default_count = 0;
  bool default_flag = false;
  // In the array form, whether a trailing element for this field may be left off.
  bool trailing_omissible = false;
};

struct VariantSpec {
  std::string_view tag;
  std::span<const FieldSpec> fields;
};

// The 52 variants in index order.
const std::array<VariantSpec, kVariantCount>& variants();
inline const VariantSpec& variant(Op op) { return variants()[static_cast<std::size_t>(op)]; }
inline std::string_view tag_name(Op op) { return variant(op).tag; }
// Looks a tag up by exact (case-sensitive) name.
std::optional<Op> op_from_tag(std::string_view tag);

class Expr;
using ExprPtr = std::unique_ptr<Expr>;

// The value of one field. std::monostate is "none" (an optional field left out or null).
using Field = std::variant<std::monostate, ExprPtr, std::vector<Expr>, std::uint64_t, double,
                           bool, std::string, std::vector<std::string>>;

class Expr {
 public:
  Expr(Op op, std::vector<Field> fields) : op_(op), fields_(std::move(fields)) {}
  Expr(Expr&&) noexcept = default;
  Expr& operator=(Expr&&) noexcept = default;
  ~Expr() = default;

  Op op() const { return op_; }
  const std::vector<Field>& fields() const { return fields_; }

  // Typed access to field `i` (its declared position in the variant table). Accessors of
  // optional fields return none/nullptr when the field is absent.
  const Expr& sub(std::size_t i) const { return *std::get<ExprPtr>(fields_[i]); }
  const Expr* opt_sub(std::size_t i) const {
    auto* p = std::get_if<ExprPtr>(&fields_[i]);
    return p ? p->get() : nullptr;
  }
  const std::vector<Expr>& subs(std::size_t i) const {
    return std::get<std::vector<Expr>>(fields_[i]);
  }
  std::size_t count(std::size_t i) const {
    return static_cast<std::size_t>(std::get<std::uint64_t>(fields_[i]));
  }
  std::optional<std::size_t> opt_count(std::size_t i) const {
    auto* p = std::get_if<std::uint64_t>(&fields_[i]);
    return p ? std::optional<std::size_t>(static_cast<std::size_t>(*p)) : std::nullopt;
  }
  double number(std::size_t i) const { return std::get<double>(fields_[i]); }
  std::optional<double> opt_number(std::size_t i) const {
    auto* p = std::get_if<double>(&fields_[i]);
    return p ? std::optional<double>(*p) : std::nullopt;
  }
  bool flag(std::size_t i) const { return std::get<bool>(fields_[i]); }
  const std::string& text(std::size_t i) const { return std::get<std::string>(fields_[i]); }
  const std::string* opt_text(std::size_t i) const { return std::get_if<std::string>(&fields_[i]); }
  const std::vector<std::string>* opt_texts(std::size_t i) const {
    return std::get_if<std::vector<std::string>>(&fields_[i]);
  }

 private:
  Op op_;
  std::vector<Field> fields_;
};

// Reads a tree from JSON text; on failure returns the reader's message (with the
// " at line L column C" suffix where the message was met during the first pass).
std::expected<Expr, std::string> read_expr(std::string_view text);

}  // namespace korva::brindle
