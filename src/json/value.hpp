// JSON value model shared by the language layer, the engine and the Python binding.
//
// Objects hold one entry per key and always keep their entries in ascending byte order
// of the key, whatever the insertion order. Numbers come in three kinds: non-negative
// integers (unsigned 64-bit), negative integers (signed 64-bit) and finite doubles;
// storing a non-finite double yields null.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace korva::json {

class Value;
using Array = std::vector<Value>;

// Map from string keys to values, entries sorted by key bytes (std::string's operator<
// compares bytes as unsigned chars via char_traits<char>::compare, i.e. memcmp).
class Object {
 public:
  using Entry = std::pair<std::string, Value>;

  Object() = default;
  Object(const Object&);
  Object(Object&&) noexcept = default;
  Object& operator=(const Object&);
  Object& operator=(Object&&) noexcept = default;
  ~Object();

  // Builds an object from entries in any order; of entries with equal keys the last one
  // is kept. O(n log n), where inserting one by one could be quadratic.
  static Object from_entries(std::vector<Entry> entries);

  // Inserts or replaces the entry for `key`.
  void insert(std::string key, Value value);
  // Returns the value stored under `key`, or nullptr.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  friend bool operator==(const Object&, const Object&);

 private:
  friend class Value;
  std::vector<Entry> entries_;
};

enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Double, String, Array, Object };

class Value {
 public:
  Value() = default;  // null
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(std::uint64_t u) : v_(u) {}
  Value(std::int64_t i);  // non-negative values are stored as UInt
  Value(int i) : Value(static_cast<std::int64_t>(i)) {}
  Value(unsigned u) : v_(static_cast<std::uint64_t>(u)) {}
  Value(double d);  // non-finite values are stored as null
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Object o) : v_(std::move(o)) {}

  // Copying, comparing and destroying walk deep values with an explicit stack instead of
  // recursing, so no nesting depth can exhaust the native stack (the language parser can
  // build trees thousands of levels deep from flat source).
  Value(const Value& other);
  Value(Value&&) noexcept = default;
  Value& operator=(const Value& other);
  Value& operator=(Value&&) noexcept = default;
  ~Value();

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_bool() const { return kind() == Kind::Bool; }
  bool is_uint() const { return kind() == Kind::UInt; }
  bool is_int() const { return kind() == Kind::Int; }
  bool is_double() const { return kind() == Kind::Double; }
  bool is_number() const { return is_uint() || is_int() || is_double(); }
  bool is_string() const { return kind() == Kind::String; }
  bool is_array() const { return kind() == Kind::Array; }
  bool is_object() const { return kind() == Kind::Object; }

  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_uint() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_int() const { return std::get<std::int64_t>(v_); }
  double as_double() const { return std::get<double>(v_); }
  // Any number as a double (integers converted to the nearest double).
  double to_double() const;
  const std::string& as_string() const { return std::get<std::string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  Array& as_array() { return std::get<Array>(v_); }
  const Object& as_object() const { return std::get<Object>(v_); }
  Object& as_object() { return std::get<Object>(v_); }

  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, Array,
               Object>
      v_;
};

// Compact JSON text: no whitespace, keys in the object's order, standard escapes. Every
// number reads back to the same value and kind.
std::string write(const Value& value);
void write(const Value& value, std::string& out);

}  // namespace korva::json
