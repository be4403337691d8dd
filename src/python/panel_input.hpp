// Market data from Python: a data frame (any object with `index` and `columns` and a
// `to_numpy()` method) or a dict with "dates", "symbols" and "data", turned into a Panel.
//
// Only public attributes and methods of the given objects are used; no data-frame
// library is imported. When the cells arrive as a plain NumPy array with a two-dimensional
// numeric buffer (float, integer or bool items, any strides) they are read straight from
// the buffer; otherwise the rows are iterated. Both paths give the same panel and the
// same errors.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/panel.hpp"
#include "python/ref.hpp"

namespace korva::py {

// Interns the attribute names the conversion looks up; called once at module start.
bool init_panel_input();

// Dates become YYYYMMDD integers in the object's order; symbols and dates are neither
// sorted nor de-duplicated; cells the input does not reach stay NaN.
PyResult<Panel> panel_from_py(std::string_view name, PyObject* value);

// An int (or an object with an integer index conversion) in the 32-bit range as it is;
// else `strftime("%Y%m%d")` of a date object or the digits of a str, parsed as a 32-bit
// integer.
PyResult<std::int32_t> date_to_i32(PyObject* obj);

// The panel as a new dict {"data": rows of floats, "dates": ints, "symbols": strs}, the
// form panel_from_py reads back.
PyResult<Ref> panel_to_py(const Panel& panel);

}  // namespace korva::py
