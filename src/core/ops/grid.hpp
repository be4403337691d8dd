// Reading a panel on another panel's grid without copying it when it already lies there.
//
// Operators that pair cells of several panels by date and symbol (neutralize with its
// factors, hold_until with its signals, ranks and closes) bring every input onto one grid.
// When an input's labels already are that grid, and neither its dates nor its symbols
// repeat, projecting it would reproduce its matrix cell for cell; GridMatrix then borrows
// the input's matrix instead of building a copy.
#pragma once

#include "core/matrix.hpp"
#include "core/panel.hpp"

namespace korva::ops {

class GridMatrix {
 public:
  // Projects `p` onto (dates, symbols) with the cell rule of `project`, or borrows p's
  // matrix when p's labels equal the grid and have no repeats. `p` must outlive the view.
  GridMatrix(const Panel& p, const Dates& dates, const Symbols& symbols);

  const double* row(std::size_t r) const { return m_->row(r); }
  const Matrix& matrix() const { return *m_; }
  bool borrowed() const { return m_ != &owned_; }

  GridMatrix(const GridMatrix&) = delete;
  GridMatrix& operator=(const GridMatrix&) = delete;

 private:
  Matrix owned_;
  const Matrix* m_;
};

// Whether no date repeats / no symbol repeats.
bool unique_dates(const Dates& dates);
bool unique_symbols(const Symbols& symbols);

// Whether p's labels are exactly the given grid and neither repeats, so that projecting p
// onto the grid gives p's own matrix.
bool lies_on_grid(const Panel& p, const Dates& dates, const Symbols& symbols);

}  // namespace korva::ops
