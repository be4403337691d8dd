#include "core/error.hpp"

namespace korva {

const std::string& EngineError::message() const {
  static const std::string kEmpty;
  const auto* e = std::get_if<EvalError>(&v_);
  return e ? e->message : kEmpty;
}

std::string EngineError::display() const {
  if (const auto* s = std::get_if<ShapeMismatch>(&v_)) {
    return "shape mismatch: " + std::to_string(s->dates) + "x" + std::to_string(s->symbols) +
           " != data len " + std::to_string(s->elements);
  }
  return "eval error: " + std::get<EvalError>(v_).message;
}

}  // namespace korva
