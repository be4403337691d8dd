#include "json/reader.hpp"

#include <utility>
#include <vector>

#include "json/parser.hpp"

namespace korva::json {

namespace {

// Builds a Value from the parser's events. Open containers wait on an explicit stack, so
// building never recurses. A key seen twice in one object keeps its last value.
class ValueBuilder {
 public:
  void null_value() { put(Value()); }
  void boolean(bool b) { put(Value(b)); }
  void number(const detail::Number& n) {
    switch (n.kind) {
      case detail::Number::Kind::UInt:
        put(Value(n.u));
        break;
      case detail::Number::Kind::Int:
        put(Value(n.i));
        break;
      case detail::Number::Kind::Double:
        put(Value(n.d));
        break;
    }
  }
  void string(std::string_view s) { put(Value(s)); }
  void begin_array() { open_.push_back({Value(Array()), {}, {}}); }
  void begin_object() { open_.push_back({Value(Object()), {}, {}}); }
  void key(std::string_view k) { open_.back().key.assign(k); }
  void end_array() { close(); }
  void end_object() { close(); }

  Value take() { return std::move(root_); }

 private:
  struct Open {
    Value container;
    std::string key;                     // key of the member being read, for objects
    std::vector<Object::Entry> members;  // members of an object, sorted when it closes
  };

  void put(Value v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return;
    }
    Open& top = open_.back();
    if (top.container.is_array()) {
      top.container.as_array().push_back(std::move(v));
    } else {
      top.members.emplace_back(std::move(top.key), std::move(v));
      top.key.clear();
    }
  }

  void close() {
    Open& top = open_.back();
    if (top.container.is_object()) top.container = Object::from_entries(std::move(top.members));
    Value done = std::move(top.container);
    open_.pop_back();
    put(std::move(done));
  }

  std::vector<Open> open_;
  Value root_;
};

}  // namespace

std::expected<Value, std::string> read(std::string_view text) {
  detail::Parser parser(text);
  ValueBuilder builder;
  if (!parser.parse_value(builder) || !parser.end()) return std::unexpected(parser.take_error());
  return builder.take();
}

}  // namespace korva::json
