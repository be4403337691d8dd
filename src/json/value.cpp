#include "json/value.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

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
  // Each member comparison is itself iterative, so this recurses one level at most.
  return a.entries_ == b.entries_;
}

Value::Value(const Value& other) {
  if (!other.is_array() && !other.is_object()) {
    v_ = other.v_;
    return;
  }
  // Containers are created with their final size before their children are queued, so the
  // destination pointers on the stack stay valid.
  std::vector<std::pair<const Value*, Value*>> pending{{&other, this}};
  while (!pending.empty()) {
    const auto [src, dst] = pending.back();
    pending.pop_back();
    if (src->is_array()) {
      const Array& from = src->as_array();
      dst->v_ = Array(from.size());
      Array& to = dst->as_array();
      for (std::size_t i = 0; i < from.size(); ++i) pending.emplace_back(&from[i], &to[i]);
    } else if (src->is_object()) {
      const std::vector<Object::Entry>& from = src->as_object().entries_;
      dst->v_ = Object();
      std::vector<Object::Entry>& to = dst->as_object().entries_;
      to.reserve(from.size());
      for (const auto& entry : from) to.emplace_back(entry.first, Value());
      for (std::size_t i = 0; i < from.size(); ++i) {
        pending.emplace_back(&from[i].second, &to[i].second);
      }
    } else {
      dst->v_ = src->v_;
    }
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);  // copy first: `other` may live inside this value
    *this = std::move(copy);
  }
  return *this;
}

bool operator==(const Value& a, const Value& b) {
  std::vector<std::pair<const Value*, const Value*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x->kind() != y->kind()) return false;
    if (x->is_array()) {
      const Array& xs = x->as_array();
      const Array& ys = y->as_array();
      if (xs.size() != ys.size()) return false;
      for (std::size_t i = 0; i < xs.size(); ++i) pending.emplace_back(&xs[i], &ys[i]);
    } else if (x->is_object()) {
      const Object& xs = x->as_object();
      const Object& ys = y->as_object();
      if (xs.size() != ys.size()) return false;
      for (auto xi = xs.begin(), yi = ys.begin(); xi != xs.end(); ++xi, ++yi) {
        if (xi->first != yi->first) return false;
        pending.emplace_back(&xi->second, &yi->second);
      }
    } else if (x->v_ != y->v_) {
      return false;
    }
  }
  return true;
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
