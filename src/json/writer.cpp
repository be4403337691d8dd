#include <charconv>
#include <string_view>

#include "json/value.hpp"

namespace korva::json {

namespace {

void write_string(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

// Shortest text that reads back to the same double; always carries a fraction or an
// exponent so that it reads back as a double, not an integer.
void write_double(double d, std::string& out) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  out += text;
  if (text.find_first_of(".eE") == std::string_view::npos) out += ".0";
}

template <typename Int>
void write_integer(Int i, std::string& out) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, end);
}

// Explicit stack instead of recursion: values of any depth are written safely.
struct Frame {
  const Value* value;
  std::size_t next;  // index of the next child to write
  Object::Entry const* obj_it;
};

}  // namespace

void write(const Value& root, std::string& out) {
  std::vector<Frame> stack;
  auto emit_scalar_or_open = [&](const Value& v) {
    switch (v.kind()) {
      case Kind::Null:
        out += "null";
        break;
      case Kind::Bool:
        out += v.as_bool() ? "true" : "false";
        break;
      case Kind::UInt:
        write_integer(v.as_uint(), out);
        break;
      case Kind::Int:
        write_integer(v.as_int(), out);
        break;
      case Kind::Double:
        write_double(v.as_double(), out);
        break;
      case Kind::String:
        write_string(v.as_string(), out);
        break;
      case Kind::Array:
        out.push_back('[');
        stack.push_back({&v, 0, nullptr});
        break;
      case Kind::Object:
        out.push_back('{');
        stack.push_back({&v, 0, v.as_object().empty() ? nullptr : &*v.as_object().begin()});
        break;
    }
  };
  emit_scalar_or_open(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.value->is_array()) {
      const Array& a = f.value->as_array();
      if (f.next == a.size()) {
        out.push_back(']');
        stack.pop_back();
        continue;
      }
      if (f.next > 0) out.push_back(',');
      const Value& child = a[f.next++];
      emit_scalar_or_open(child);
    } else {
      const Object& o = f.value->as_object();
      if (f.next == o.size()) {
        out.push_back('}');
        stack.pop_back();
        continue;
      }
      if (f.next > 0) out.push_back(',');
      const Object::Entry& entry = f.obj_it[f.next++];
      write_string(entry.first, out);
      out.push_back(':');
      emit_scalar_or_open(entry.second);
    }
  }
}

std::string write(const Value& value) {
  std::string out;
  write(value, out);
  return out;
}

}  // namespace korva::json
