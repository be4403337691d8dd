// Owned Python references, the "a Python exception is set" result type, and the small
// helpers every part of the binding uses to raise errors and read text.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace korva::py {

// An owned reference, or none. `steal` adopts a new reference, `borrow` takes an extra
// reference to a borrowed one, `release` hands ownership back to the caller.
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return steal(p);
  }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    // Drop the old object last: its destructor may run Python code.
    PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
    Py_XDECREF(old);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// The error side of PyResult: a Python exception has been set on the current thread.
struct Raised {};

template <typename T>
using PyResult = std::expected<T, Raised>;

inline std::unexpected<Raised> raised() {
  return std::unexpected(Raised{});
}

// Sets `type` with the message `text` (UTF-8; invalid bytes are replaced) and returns the
// error marker.
std::unexpected<Raised> raise(PyObject* type, std::string_view text);

// The `__name__` of the object's type ("int", "DataFrame").
std::string type_name(PyObject* obj);
// The `__qualname__` of the object's type, as used in cast messages.
std::string type_qualname(PyObject* obj);

// TypeError "'{type}' object cannot be cast as '{expected}'".
std::unexpected<Raised> raise_cannot_cast(PyObject* obj, std::string_view expected);

// The UTF-8 text of a str (or str subclass), read strictly: a lone surrogate raises
// UnicodeEncodeError. The view lives as long as `str`.
PyResult<std::string_view> utf8(PyObject* str);

// The UTF-8 text of a str, every lone surrogate replaced by U+FFFD. Never fails.
std::string utf8_lossy(PyObject* str);

// A new str from UTF-8 text (invalid bytes replaced), or nullptr with an exception set.
PyObject* new_str(std::string_view text);

// Attribute lookup that tells "no such attribute" (an empty Ref) from other failures,
// which are raised.
PyResult<Ref> optional_attr(PyObject* obj, PyObject* name);

}  // namespace korva::py
