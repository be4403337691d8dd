#include "python/convert.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace korva::py {

namespace {

// Scope of one nesting level: the interpreter's recursion check plus our own cap.
class DepthGuard {
 public:
  DepthGuard(int depth, const char* where) {
    if (depth >= kMaxConvertDepth) {
      PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
      return;
    }
    entered_ = Py_EnterRecursiveCall(where) == 0;
  }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  ~DepthGuard() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  bool ok() const { return entered_; }

 private:
  bool entered_ = false;
};

constexpr const char* kToJson = " while converting a spec";
constexpr const char* kToPy = " while converting a JSON value";

// The text of `str(obj)` for a str or str subclass, read leniently. A failing `__str__`
// is reported as unraisable and the text becomes a placeholder naming the type.
std::string lenient_text(PyObject* obj) {
  if (PyUnicode_CheckExact(obj)) return utf8_lossy(obj);
  Ref text = Ref::steal(PyObject_Str(obj));
  if (text) return utf8_lossy(text.get());
  PyErr_WriteUnraisable(obj);
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
  if (name && PyUnicode_Check(name.get())) {
    return "<unprintable " + utf8_lossy(name.get()) + " object>";
  }
  PyErr_Clear();
  return "<unprintable object>";
}

PyResult<json::Value> to_json(PyObject* obj, int depth);

PyResult<json::Value> list_to_json(PyObject* list, int depth) {
  json::Array array;
  // The size is re-read every step: converting an element may run code that changes it.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
    auto value = to_json(item.get(), depth + 1);
    if (!value) return raised();
    array.push_back(std::move(*value));
  }
  return json::Value(std::move(array));
}

PyResult<json::Value> dict_to_json(PyObject* dict, int depth) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  std::vector<json::Object::Entry> entries;
  entries.reserve(static_cast<std::size_t>(size));
  Py_ssize_t pos = 0;
  PyObject *k = nullptr, *v = nullptr;
  while (PyDict_Next(dict, &pos, &k, &v)) {
    Ref key = Ref::borrow(k);
    Ref item = Ref::borrow(v);
    if (!PyUnicode_Check(key.get())) return raise_cannot_cast(key.get(), "str");
    auto key_text = utf8(key.get());
    if (!key_text) return raised();
    std::string name(*key_text);
    auto value = to_json(item.get(), depth + 1);
    if (!value) return raised();
    if (PyDict_GET_SIZE(dict) != size) {
      return raise(PyExc_RuntimeError, "dictionary changed size during iteration");
    }
    entries.emplace_back(std::move(name), std::move(*value));
  }
  // Sorted once at the end: inserting key by key into the ordered object is quadratic.
  return json::Value(json::Object::from_entries(std::move(entries)));
}

PyResult<json::Value> to_json(PyObject* obj, int depth) {
  if (obj == Py_None) return json::Value();
  if (PyBool_Check(obj)) return json::Value(obj == Py_True);
  if (PyLong_Check(obj)) {
    const long long v = PyLong_AsLongLong(obj);
    if (v == -1 && PyErr_Occurred()) return raised();
    return json::Value(static_cast<std::int64_t>(v));
  }
  if (PyFloat_Check(obj)) {
    const double d = PyFloat_AS_DOUBLE(obj);
    if (!std::isfinite(d)) {
      return raise(PyExc_ValueError, "non-finite numbers are not valid in a spec");
    }
    return json::Value(d);
  }
  if (PyUnicode_Check(obj)) return json::Value(lenient_text(obj));
  const bool is_list = PyList_Check(obj);
  if (is_list || PyDict_Check(obj)) {
    DepthGuard guard(depth, kToJson);
    if (!guard.ok()) return raised();
    return is_list ? list_to_json(obj, depth) : dict_to_json(obj, depth);
  }
  return raise(PyExc_ValueError, "unsupported value in spec: " + type_name(obj));
}

PyResult<Ref> to_py(const json::Value& value, int depth) {
  switch (value.kind()) {
    case json::Kind::Null:
      return Ref::borrow(Py_None);
    case json::Kind::Bool:
      return Ref::borrow(value.as_bool() ? Py_True : Py_False);
    case json::Kind::UInt: {
      const std::uint64_t u = value.as_uint();
      Ref out = Ref::steal(u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                               ? PyLong_FromUnsignedLongLong(u)
                               : PyFloat_FromDouble(static_cast<double>(u)));
      if (!out) return raised();
      return out;
    }
    case json::Kind::Int: {
      Ref out = Ref::steal(PyLong_FromLongLong(value.as_int()));
      if (!out) return raised();
      return out;
    }
    case json::Kind::Double: {
      Ref out = Ref::steal(PyFloat_FromDouble(value.as_double()));
      if (!out) return raised();
      return out;
    }
    case json::Kind::String: {
      Ref out = Ref::steal(new_str(value.as_string()));
      if (!out) return raised();
      return out;
    }
    case json::Kind::Array: {
      DepthGuard guard(depth, kToPy);
      if (!guard.ok()) return raised();
      const json::Array& array = value.as_array();
      Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(array.size())));
      if (!list) return raised();
      for (std::size_t i = 0; i < array.size(); ++i) {
        auto item = to_py(array[i], depth + 1);
        if (!item) return raised();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item->release());
      }
      return list;
    }
    case json::Kind::Object: {
      DepthGuard guard(depth, kToPy);
      if (!guard.ok()) return raised();
      Ref dict = Ref::steal(PyDict_New());
      if (!dict) return raised();
      for (const auto& [key, member] : value.as_object()) {
        Ref name = Ref::steal(new_str(key));
        if (!name) return raised();
        auto item = to_py(member, depth + 1);
        if (!item) return raised();
        if (PyDict_SetItem(dict.get(), name.get(), item->get()) < 0) return raised();
      }
      return dict;
    }
  }
  return Ref::borrow(Py_None);
}

}  // namespace

PyResult<json::Value> py_to_json(PyObject* obj) {
  return to_json(obj, 0);
}

PyResult<Ref> json_to_py(const json::Value& value) {
  return to_py(value, 0);
}

}  // namespace korva::py
