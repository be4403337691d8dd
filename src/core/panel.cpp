#include "core/panel.hpp"

#include <algorithm>

namespace korva {

Result<Panel> Panel::create(Dates dates, Symbols symbols, Matrix data) {
  if (data.rows() != dates.size() || data.cols() != symbols.size()) {
    return std::unexpected(
        EngineError(ShapeMismatch{dates.size(), symbols.size(), data.rows() * data.cols()}));
  }
  return Panel{std::move(dates), std::move(symbols), std::move(data)};
}

Panel Panel::shift(std::size_t n) const {
  Panel out = like();
  const std::size_t t = rows();
  if (n < t) {
    std::copy(data.row(0), data.row(0) + (t - n) * cols(), out.data.row(n));
  }
  return out;
}

}  // namespace korva
