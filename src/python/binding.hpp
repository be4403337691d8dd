// Argument binding for the module's functions: positional and keyword arguments matched
// to named parameters, and the per-argument conversions, with the wording Python uses
// for functions of the same signature.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "python/ref.hpp"

namespace korva::py {

// A function's parameters, every one usable by position or keyword; the first `required`
// have no default.
struct Signature {
  const char* function;  // the name followed by "()", as it appears in messages
  std::span<const char* const> params;
  std::size_t required;
};

// Interns the parameter names of a signature (once per process) so keyword names can be
// matched by identity first.
bool intern_params(const Signature& sig);

// Matches `args` (vectorcall form) to the parameters. On success `out[i]` holds a
// borrowed reference to parameter i's argument, or nullptr when it was omitted.
PyResult<void> bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> out);

// Re-raises a pending TypeError as "argument '{param}': {message}" caused by the first
// error; any other pending exception is left as it is. Returns the error marker.
std::unexpected<Raised> argument_error(const char* param);

// Argument conversions. Each raises with the "argument '{param}': " prefix on a type error.
PyResult<PyObject*> dict_arg(const char* param, PyObject* obj);
// None (or omitted) gives nullptr.
PyResult<PyObject*> optional_dict_arg(const char* param, PyObject* obj);
PyResult<std::string_view> str_arg(const char* param, PyObject* obj);
// None (or omitted) gives an empty map; otherwise a dict of str to str.
PyResult<std::unordered_map<std::string, std::string>> str_map_arg(const char* param,
                                                                   PyObject* obj);
// None (or omitted) gives no list; otherwise a sequence (not a str) of str.
PyResult<std::optional<std::vector<std::string>>> str_list_arg(const char* param, PyObject* obj);

}  // namespace korva::py
