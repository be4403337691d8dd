// The engine's single error type and the "return the error if there is one" helper.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <variant>

namespace korva {

struct ShapeMismatch {
  std::size_t dates;
  std::size_t symbols;
  std::size_t elements;
  friend bool operator==(const ShapeMismatch&, const ShapeMismatch&) = default;
};

struct EvalError {
  std::string message;
  friend bool operator==(const EvalError&, const EvalError&) = default;
};

class EngineError {
 public:
  EngineError(ShapeMismatch s) : v_(s) {}
  EngineError(EvalError e) : v_(std::move(e)) {}
  static EngineError eval(std::string message) { return EvalError{std::move(message)}; }

  bool is_shape_mismatch() const { return std::holds_alternative<ShapeMismatch>(v_); }
  bool is_eval() const { return std::holds_alternative<EvalError>(v_); }
  const ShapeMismatch& shape_mismatch() const { return std::get<ShapeMismatch>(v_); }
  // The message of an `Eval` error (empty for a shape mismatch).
  const std::string& message() const;

  // "shape mismatch: {dates}x{symbols} != data len {elements}" or "eval error: {message}".
  std::string display() const;

  friend bool operator==(const EngineError&, const EngineError&) = default;

 private:
  std::variant<ShapeMismatch, EvalError> v_;
};

template <typename T>
using Result = std::expected<T, EngineError>;

inline std::unexpected<EngineError> eval_error(std::string message) {
  return std::unexpected(EngineError::eval(std::move(message)));
}

}  // namespace korva

// Evaluates `expr` (a Result); on error returns the error from the enclosing function,
// otherwise moves the value into a new variable `var`.
#define KORVA_CONCAT_INNER(a, b) a##b
#define KORVA_CONCAT(a, b) KORVA_CONCAT_INNER(a, b)
#define KORVA_TRY(var, expr) KORVA_TRY_IMPL(KORVA_CONCAT(korva_try_, __LINE__), var, expr)
#define KORVA_TRY_IMPL(tmp, var, expr)                                  \
  auto tmp = (expr);                                                    \
  if (!tmp.has_value()) return std::unexpected(std::move(tmp).error()); \
  var = std::move(tmp).value()
