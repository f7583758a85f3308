// A quick first pass over the large documents this program writes and serves
// (manifests and state files): objects, arrays, unsigned integers and strings of
// printable ASCII without escapes, with JSON whitespace between tokens. For such a
// document it sends the handler exactly the events the JSON library's sax_parse sends.
// Anything else (another kind of value, an escape, a byte outside printable ASCII, a
// number past 64 bits, a byte-order mark, a syntax error, a handler that says stop)
// makes it give up: the caller then parses the text again with the JSON library, from
// the start and into a fresh handler, so the outcome is always the library's. The
// library's lexer costs several times this pass on 100,000 plain entries.
//
// A Source hands the text over in pieces:
//   bool Next(const char*& begin, const char*& end)   // false at the end; else begin < end
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisal {

enum class QuickParse { kDone, kUnsure };

namespace json_quick_detail {

template <typename Source>
class Input {
 public:
  explicit Input(Source& source) : source_(source) {}

  // The next byte after any whitespace, not consumed; -1 at the end.
  int PeekAfterSpace() {
    while (true) {
      if (p_ == e_ && !Fill()) return -1;
      const char c = *p_;
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return static_cast<unsigned char>(c);
      ++p_;
    }
  }
  int Peek() {
    if (p_ == e_ && !Fill()) return -1;
    return static_cast<unsigned char>(*p_);
  }
  void Skip() { ++p_; }

  // After the opening quote: the string up to its closing quote, which is consumed.
  // False for anything the quick pass does not take (an escape, a control character,
  // a byte outside ASCII, the end of the text).
  bool String(std::string& out) {
    out.clear();
    while (true) {
      if (p_ == e_ && !Fill()) return false;
      const char* start = p_;
      while (p_ != e_) {
        const auto c = static_cast<unsigned char>(*p_);
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') break;
        ++p_;
      }
      out.append(start, p_);
      if (p_ != e_) {
        if (*p_ != '"') return false;
        ++p_;
        return true;
      }
    }
  }

  // At a digit: its run of digits as a number that fits in 64 bits. A leading zero
  // ends the number at once; whatever follows a number and is neither a delimiter nor
  // whitespace ("01", "1.5", "2e3") then stops the caller.
  bool Unsigned(std::uint64_t& value) {
    value = static_cast<std::uint64_t>(Peek() - '0');
    Skip();
    if (value == 0) return true;
    for (int c = Peek(); c >= '0' && c <= '9'; c = Peek()) {
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (value > (UINT64_MAX - digit) / 10) return false;
      value = value * 10 + digit;
      Skip();
    }
    return true;
  }

 private:
  bool Fill() {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!source_.Next(begin, end)) return false;
    p_ = begin;
    e_ = end;
    return true;
  }

  Source& source_;
  const char* p_ = nullptr;
  const char* e_ = nullptr;
};

}  // namespace json_quick_detail

template <typename Source, typename Handler>
QuickParse QuickSaxParse(Source& source, Handler& handler) {
  json_quick_detail::Input<Source> in(source);
  const auto unsure = QuickParse::kUnsure;
  constexpr auto kUnknownSize = static_cast<std::size_t>(-1);
  std::vector<char> open;  // '{' or '[' for every container not yet closed
  std::string text;
  // A key, its colon, and the value that follows it is then expected.
  auto key = [&] {
    if (in.PeekAfterSpace() != '"') return false;
    in.Skip();
    if (!in.String(text) || !handler.key(text)) return false;
    if (in.PeekAfterSpace() != ':') return false;
    in.Skip();
    return true;
  };
  auto close = [&](bool object) { return object ? handler.end_object() : handler.end_array(); };
  bool want_value = true;
  while (true) {
    if (want_value) {
      const int c = in.PeekAfterSpace();
      if (c == '{' || c == '[') {
        const bool object = c == '{';
        in.Skip();
        if (!(object ? handler.start_object(kUnknownSize) : handler.start_array(kUnknownSize))) {
          return unsure;
        }
        if (in.PeekAfterSpace() == (object ? '}' : ']')) {
          in.Skip();
          if (!close(object)) return unsure;
          want_value = false;
        } else {
          open.push_back(static_cast<char>(c));
          if (object && !key()) return unsure;
        }
      } else if (c == '"') {
        in.Skip();
        if (!in.String(text) || !handler.string(text)) return unsure;
        want_value = false;
      } else if (c >= '0' && c <= '9') {
        std::uint64_t value = 0;
        if (!in.Unsigned(value) || !handler.number_unsigned(value)) return unsure;
        want_value = false;
      } else {
        return unsure;
      }
      continue;
    }
    const int c = in.PeekAfterSpace();
    if (open.empty()) return c == -1 ? QuickParse::kDone : unsure;
    if (c == ',') {
      in.Skip();
      if (open.back() == '{' && !key()) return unsure;
      want_value = true;
    } else if ((c == '}' && open.back() == '{') || (c == ']' && open.back() == '[')) {
      in.Skip();
      open.pop_back();
      if (!close(c == '}')) return unsure;
    } else {
      return unsure;
    }
  }
}

// The whole text as one piece.
class WholeText {
 public:
  explicit WholeText(const std::string& text) : text_(text) {}
  bool Next(const char*& begin, const char*& end) {
    if (given_ || text_.empty()) return false;
    given_ = true;
    begin = text_.data();
    end = text_.data() + text_.size();
    return true;
  }

 private:
  const std::string& text_;
  bool given_ = false;
};

}  // namespace brisal
