#include "python/binding.hpp"

#include <array>
#include <map>

namespace korva::py {

namespace {

constexpr std::size_t kMaxParams = 8;

// Interned parameter names per signature, filled at module initialisation.
std::map<const Signature*, std::array<PyObject*, kMaxParams>>& interned_names() {
  static auto* names = new std::map<const Signature*, std::array<PyObject*, kMaxParams>>();
  return *names;
}

// Index of the parameter called `name`, or -1.
Py_ssize_t find_param(const Signature& sig, PyObject* name) {
  auto& all = interned_names();
  if (auto it = all.find(&sig); it != all.end()) {
    for (std::size_t i = 0; i < sig.params.size(); ++i) {
      if (it->second[i] == name) return static_cast<Py_ssize_t>(i);
    }
  }
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, sig.params[i]) == 0) {
      return static_cast<Py_ssize_t>(i);
    }
  }
  return -1;
}

std::unexpected<Raised> raise_missing(const Signature& sig, std::span<PyObject*> out) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) missing.push_back(sig.params[i]);
  }
  std::string message = std::string(sig.function) + " missing " + std::to_string(missing.size()) +
                        " required positional argument" + (missing.size() == 1 ? "" : "s") + ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i != 0) {
      if (missing.size() > 2) message += ',';
      message += i + 1 == missing.size() ? " and " : " ";
    }
    message += '\'';
    message += missing[i];
    message += '\'';
  }
  return raise(PyExc_TypeError, message);
}

// The abstract Sequence type, looked up once.
PyResult<PyObject*> sequence_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
    if (!abc) return raised();
    type = PyObject_GetAttrString(abc.get(), "Sequence");
    if (type == nullptr) return raised();
  }
  return type;
}

// Takes the pending exception as a normalised instance with its traceback attached.
Ref take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return Ref::steal(PyErr_GetRaisedException());
#else
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type);
  Ref exception = Ref::steal(value);
  Ref owned_traceback = Ref::steal(traceback);
  if (exception && owned_traceback) {
    PyException_SetTraceback(exception.get(), owned_traceback.get());
  }
  return exception;
#endif
}

}  // namespace

bool intern_params(const Signature& sig) {
  if (sig.params.size() > kMaxParams) return false;
  std::array<PyObject*, kMaxParams> names{};
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    names[i] = PyUnicode_InternFromString(sig.params[i]);
    if (names[i] == nullptr) return false;
  }
  interned_names()[&sig] = names;
  return true;
}

PyResult<void> bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> out) {
  const auto total = static_cast<Py_ssize_t>(sig.params.size());
  for (auto& slot : out) slot = nullptr;
  if (nargs > total) {
    std::string message = sig.function;
    if (sig.required == sig.params.size()) {
      message += " takes " + std::to_string(total);
    } else {
      message += " takes from " + std::to_string(sig.required) + " to " + std::to_string(total);
    }
    message += " positional arguments but " + std::to_string(nargs) + " were given";
    return raise(PyExc_TypeError, message);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t index = find_param(sig, name);
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.function,
                   name);
      return raised();
    }
    auto& slot = out[static_cast<std::size_t>(index)];
    if (slot != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.function,
                   sig.params[static_cast<std::size_t>(index)]);
      return raised();
    }
    slot = args[nargs + k];
  }
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) return raise_missing(sig, out);
  }
  return {};
}

std::unexpected<Raised> argument_error(const char* param) {
  // Only a plain TypeError gets the prefix; anything else (a user exception, a
  // UnicodeEncodeError, a TypeError subclass) propagates as it was raised.
  if (PyErr_Occurred() != PyExc_TypeError) return raised();
  Ref cause = take_exception();
  if (!cause) return raised();
  Ref text = Ref::steal(PyObject_Str(cause.get()));
  if (!text) return raised();
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  if (!message) return raised();
  Ref error = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!error) return raised();
  PyException_SetCause(error.get(), cause.release());  // steals the cause
  PyErr_SetObject(PyExc_TypeError, error.get());
  return raised();
}

PyResult<PyObject*> dict_arg(const char* param, PyObject* obj) {
  if (PyDict_Check(obj)) return obj;
  raise_cannot_cast(obj, "dict");
  return argument_error(param);
}

PyResult<PyObject*> optional_dict_arg(const char* param, PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return nullptr;
  return dict_arg(param, obj);
}

PyResult<std::string_view> str_arg(const char* param, PyObject* obj) {
  if (!PyUnicode_Check(obj)) {
    raise_cannot_cast(obj, "str");
    return argument_error(param);
  }
  auto text = utf8(obj);
  if (!text) return argument_error(param);
  return *text;
}

PyResult<std::unordered_map<std::string, std::string>> str_map_arg(const char* param,
                                                                   PyObject* obj) {
  std::unordered_map<std::string, std::string> map;
  if (obj == nullptr || obj == Py_None) return map;
  if (!PyDict_Check(obj)) {
    raise_cannot_cast(obj, "dict");
    return argument_error(param);
  }
  // Reading str keys and values runs no Python code, so the dict cannot change under us.
  Py_ssize_t pos = 0;
  PyObject *key = nullptr, *value = nullptr;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      raise_cannot_cast(key, "str");
      return argument_error(param);
    }
    auto key_text = utf8(key);
    if (!key_text) return argument_error(param);
    if (!PyUnicode_Check(value)) {
      raise_cannot_cast(value, "str");
      return argument_error(param);
    }
    auto value_text = utf8(value);
    if (!value_text) return argument_error(param);
    map.insert_or_assign(std::string(*key_text), std::string(*value_text));
  }
  return map;
}

PyResult<std::optional<std::vector<std::string>>> str_list_arg(const char* param, PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::optional<std::vector<std::string>>();
  if (PyUnicode_Check(obj)) {
    raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return argument_error(param);
  }
  if (!PyList_Check(obj) && !PyTuple_Check(obj)) {
    auto type = sequence_type();
    if (!type) return argument_error(param);
    const int is_sequence = PyObject_IsInstance(obj, *type);
    if (is_sequence < 0) return argument_error(param);
    if (is_sequence == 0) {
      raise_cannot_cast(obj, "Sequence");
      return argument_error(param);
    }
  }
  std::vector<std::string> names;
  Ref iter = Ref::steal(PyObject_GetIter(obj));
  if (!iter) return argument_error(param);
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    if (!PyUnicode_Check(item.get())) {
      raise_cannot_cast(item.get(), "str");
      return argument_error(param);
    }
    auto text = utf8(item.get());
    if (!text) return argument_error(param);
    names.emplace_back(*text);
  }
  if (PyErr_Occurred()) return argument_error(param);
  return std::optional<std::vector<std::string>>(std::move(names));
}

}  // namespace korva::py
