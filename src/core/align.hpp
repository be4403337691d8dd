// Alignment: the one rule by which two panels meet. Dates become the ascending union of
// both date lists without repeats; symbols are the first panel's symbols that the second
// also has, in the first panel's order; absent cells are NaN.
#pragma once

#include <utility>

#include "core/panel.hpp"

namespace korva {

// The labels two panels meet on: the ascending union of both date lists without repeats,
// and a's symbols that b also has, in a's order.
std::pair<Dates, Symbols> aligned_labels(const Panel& a, const Panel& b);

// The matrix of `project(p, dates, symbols)`, without the labels.
Matrix project_cells(const Panel& p, const Dates& dates, const Symbols& symbols);

// A panel with exactly the target labels, filled from `p` where it has the date and the
// symbol (the last occurrence of a repeated label wins) and NaN elsewhere.
Panel project(const Panel& p, const Dates& dates, const Symbols& symbols);

std::pair<Panel, Panel> align(const Panel& a, const Panel& b);

}  // namespace korva
