#include "python/ref.hpp"

#include "json/utf8.hpp"

namespace korva::py {

namespace {

// Reads a str attribute of the object's type; falls back to the last dotted component of
// the C-level type name when the attribute is missing or not a str.
std::string type_attr(PyObject* obj, const char* attr) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref value = Ref::steal(PyObject_GetAttrString(type, attr));
  if (value && PyUnicode_Check(value.get())) return utf8_lossy(value.get());
  PyErr_Clear();
  std::string_view name = Py_TYPE(obj)->tp_name;
  if (auto dot = name.rfind('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
  return std::string(name);
}

}  // namespace

PyObject* new_str(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

std::unexpected<Raised> raise(PyObject* type, std::string_view text) {
  Ref message = Ref::steal(new_str(text));
  if (message) PyErr_SetObject(type, message.get());
  return raised();
}

std::string type_name(PyObject* obj) {
  return type_attr(obj, "__name__");
}

std::string type_qualname(PyObject* obj) {
  return type_attr(obj, "__qualname__");
}

std::unexpected<Raised> raise_cannot_cast(PyObject* obj, std::string_view expected) {
  std::string message = "'" + type_qualname(obj) + "' object cannot be cast as '";
  message += expected;
  message += "'";
  return raise(PyExc_TypeError, message);
}

PyResult<std::string_view> utf8(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return raised();
  return std::string_view(data, static_cast<std::size_t>(size));
}

std::string utf8_lossy(PyObject* str) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) {
    return std::string(data, static_cast<std::size_t>(size));
  }
  // Only lone surrogates make the strict encoding fail; encode by code point instead.
  PyErr_Clear();
  std::string out;
  const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
  const int kind = PyUnicode_KIND(str);
  const void* data = PyUnicode_DATA(str);
  out.reserve(static_cast<std::size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) {
    Py_UCS4 cp = PyUnicode_READ(kind, data, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    korva::json::append_utf8(static_cast<char32_t>(cp), out);
  }
  return out;
}

PyResult<Ref> optional_attr(PyObject* obj, PyObject* name) {
  Ref value = Ref::steal(PyObject_GetAttr(obj, name));
  if (value) return value;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return raised();
  PyErr_Clear();
  return Ref();
}

}  // namespace korva::py
