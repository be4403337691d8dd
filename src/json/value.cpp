#include "json/value.hpp"

#include <algorithm>
#include <cmath>

namespace korva::json {

namespace {

bool key_less(const Object::Entry& e, std::string_view key) {
  return e.first < key;
}

// Moves every array element and object member of `v` into `pending`, leaving `v` without
// children, so that destroying `v` afterwards does not recurse.
void detach_children(Value& v, std::vector<Value>& pending) {
  if (v.is_array()) {
    Array& a = v.as_array();
    for (Value& child : a) {
      if (child.is_array() || child.is_object()) pending.push_back(std::move(child));
    }
    a.clear();
  } else if (v.is_object()) {
    Object taken = std::move(v.as_object());
    v.as_object() = Object();
    for (const auto& entry : taken) {
      const Value& child = entry.second;
      if (child.is_array() || child.is_object()) {
        pending.push_back(std::move(const_cast<Value&>(child)));
      }
    }
  }
}

}  // namespace

Object::Object(const Object&) = default;
Object& Object::operator=(const Object&) = default;
Object::~Object() = default;

Object Object::from_entries(std::vector<Entry> entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.first < b.first; });
  Object out;
  out.entries_.reserve(entries.size());
  for (auto& entry : entries) {
    if (!out.entries_.empty() && out.entries_.back().first == entry.first) {
      out.entries_.back().second = std::move(entry.second);
    } else {
      out.entries_.push_back(std::move(entry));
    }
  }
  return out;
}

void Object::insert(std::string key, Value value) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::string_view(key), key_less);
  if (it != entries_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    entries_.emplace(it, std::move(key), std::move(value));
  }
}

const Value* Object::find(std::string_view key) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key, key_less);
  return it != entries_.end() && it->first == key ? &it->second : nullptr;
}

Value* Object::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

bool operator==(const Object& a, const Object& b) {
  return a.entries_ == b.entries_;
}

Value::Value(std::int64_t i) {
  if (i >= 0) {
    v_ = static_cast<std::uint64_t>(i);
  } else {
    v_ = i;
  }
}

Value::Value(double d) {
  if (std::isfinite(d)) v_ = d;
}

Value::~Value() {
  if (!is_array() && !is_object()) return;
  std::vector<Value> pending;
  detach_children(*this, pending);
  while (!pending.empty()) {
    Value v = std::move(pending.back());
    pending.pop_back();
    detach_children(v, pending);
  }
}

double Value::to_double() const {
  switch (kind()) {
    case Kind::UInt:
      return static_cast<double>(as_uint());
    case Kind::Int:
      return static_cast<double>(as_int());
    case Kind::Double:
      return as_double();
    default:
      return std::nan("");
  }
}

}  // namespace korva::json
