// Python objects to JSON values and back.
//
// py_to_json reads strategy trees: None, bool, int (signed 64-bit), finite float, str,
// list and dict with str keys; bool stays apart from int and int apart from float, so the
// tree reader can tell 20 from 20.0. json_to_py builds new objects; dicts receive their
// entries in the JSON object's ascending key order. Both are recursive, guarded by the
// interpreter's recursion limit and by a fixed depth cap of their own, so no raised
// recursion limit can make them exhaust the C stack.
#pragma once

#include "json/value.hpp"
#include "python/ref.hpp"

namespace korva::py {

// Deepest nesting of lists and dicts either conversion accepts before raising
// RecursionError.
inline constexpr int kMaxConvertDepth = 2000;

// Borrows `obj`. Errors: ValueError "non-finite numbers are not valid in a spec",
// ValueError "unsupported value in spec: {type}", TypeError "'{type}' object cannot be
// cast as 'str'" for a non-str key, the host's OverflowError for an int outside 64 bits.
PyResult<json::Value> py_to_json(PyObject* obj);

// A new reference; fails only when the interpreter cannot build an object.
PyResult<Ref> json_to_py(const json::Value& value);

}  // namespace korva::py
