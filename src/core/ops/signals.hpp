// Signal edges: conditions turned into events and persistence tests.
//
// Every operator reads its input as a condition (a cell is true exactly when it equals 1.0;
// NaN, 0.5 and 2.0 are false) and produces only 1.0 and 0.0, never NaN. None can fail.
#pragma once

#include <cstddef>
#include <optional>

#include "core/panel.hpp"

namespace korva::ops {

// Row t is 1.0 when t >= k and row t - k is true, else 0.0. k = 0 is the input read as a
// condition; k >= rows gives all 0.0. Keeps the input's labels.
Panel shift_false(const Panel& p, std::size_t k);

// 1.0 where the input is true and the row above is not (the first row counts as preceded
// by false). Built on the two-panel `and`, so the result has the input's dates in ascending
// order without repeats.
Panel is_entry(const Panel& p);

// 1.0 where the input is not true and the row above is true; never on the first row. Same
// labels as is_entry.
Panel is_exit(const Panel& p);

// Row t is 1.0 when t >= nwindow - 1 and at least `nsatisfy` (default nwindow) of rows
// t - nwindow + 1 to t are true. nwindow = 0 has empty windows: all 1.0 when the required
// count is 0, else all 0.0. Keeps the input's labels.
Panel sustain(const Panel& p, std::size_t nwindow, std::optional<std::size_t> nsatisfy);

}  // namespace korva::ops
