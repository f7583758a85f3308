// A streaming JSON reader for documents too large to build as a DOM first (manifests
// and state files of 100,000 entries). It turns the JSON library's event callbacks
// into three calls on the derived class, each told how deep in the document it is:
//
//   void OnValue(JsonKind kind, int depth)
//       Any value, `depth` being the number of containers holding it (0 for the root).
//       A container is reported here before its contents. During the call,
//       string_value() is valid for kString and unsigned_value() for kUnsigned.
//   void OnKey(const std::string& name, int depth)
//       An object member's key; the member's value follows at the same depth.
//   void OnClose(int depth)
//       The container reported by OnValue at `depth` has ended.
//
// Syntax errors stop the parse; the JSON library's sax_parse then returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace brisal {

enum class JsonKind { kObject, kArray, kUnsigned, kString, kOther };

template <typename Derived>
class JsonStreamReader {
 public:
  using Json = nlohmann::json;
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  // Signed integers, floats and numbers too large for 64 bits all arrive as kOther:
  // none of them is a plain unsigned integer literal.
  bool null() { return Value(JsonKind::kOther); }
  bool boolean(bool) { return Value(JsonKind::kOther); }
  bool number_integer(number_integer_t) { return Value(JsonKind::kOther); }
  bool number_unsigned(number_unsigned_t value) {
    unsigned_ = value;
    return Value(JsonKind::kUnsigned);
  }
  bool number_float(number_float_t, const string_t&) { return Value(JsonKind::kOther); }
  bool binary(binary_t&) { return Value(JsonKind::kOther); }
  bool string(string_t& value) {
    string_ = &value;
    return Value(JsonKind::kString);
  }

  bool start_object(std::size_t) { return Open(JsonKind::kObject); }
  bool start_array(std::size_t) { return Open(JsonKind::kArray); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(string_t& name) {
    Self().OnKey(name, depth_);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 protected:
  // Copy, never move, out of it: the parser reuses one token buffer, and a moved-from
  // buffer regrows character by character for every following string.
  const std::string& string_value() const { return *string_; }
  std::uint64_t unsigned_value() const { return unsigned_; }

 private:
  Derived& Self() { return static_cast<Derived&>(*this); }

  bool Value(JsonKind kind) {
    Self().OnValue(kind, depth_);
    return true;
  }
  bool Open(JsonKind kind) {
    Self().OnValue(kind, depth_);
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    Self().OnClose(depth_);
    return true;
  }

  int depth_ = 0;
  const string_t* string_ = nullptr;
  number_unsigned_t unsigned_ = 0;
};

}  // namespace brisal
