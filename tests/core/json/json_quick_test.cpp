#include "core/json/json_quick.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace brisal {
namespace {

// Every event as text, in order: what a handler of either parser gets to see.
struct Recorder {
  using Json = nlohmann::json;
  std::vector<std::string> events;

  bool Add(std::string event, const std::string& detail = "") {
    events.push_back(std::move(event) + detail);
    return true;
  }
  bool null() { return Add("null"); }
  bool boolean(bool value) { return Add(value ? "true" : "false"); }
  bool number_integer(Json::number_integer_t value) { return Add("i", std::to_string(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return Add("u", std::to_string(value)); }
  bool number_float(Json::number_float_t, const std::string& text) { return Add("f", text); }
  bool string(std::string& value) { return Add("s", value); }
  bool binary(Json::binary_t&) { return Add("binary"); }
  bool start_object(std::size_t) { return Add("{"); }
  bool end_object() { return Add("}"); }
  bool start_array(std::size_t) { return Add("["); }
  bool end_array() { return Add("]"); }
  bool key(std::string& name) { return Add("k", name); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }
};

// One byte per piece: every token then straddles the pieces of a block-wise read.
class BytePieces {
 public:
  explicit BytePieces(const std::string& text) : text_(text) {}
  bool Next(const char*& begin, const char*& end) {
    if (at_ == text_.size()) return false;
    begin = text_.data() + at_++;
    end = begin + 1;
    return true;
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

// Whatever the quick pass finishes, the JSON library accepts with the very same
// events; whatever else it gives up on, and the library has the last word.
TEST(QuickSaxParse, FinishesOnlyWhatTheLibraryReadsTheSameWay) {
  struct Case {
    std::string text;
    bool quick;
  };
  const std::vector<Case> cases = {
      {R"({"files":{"a/b.pak":[12,133,"00ff"]},"revision":"r1","serial":3})", true},
      {" {\t\"a\" :\r\n[ 0 , 18446744073709551615 ,\"\"] , \"b\":{ }}\n", true},
      {"[[],{},[[\"x\"]]]", true},
      {"\"~ !#\"", true},
      {"7", true},
      {"18446744073709551616", false},
      {"01", false},
      {"[0,00]", false},
      {"-1", false},
      {"1.5", false},
      {"0e1", false},
      {"[true]", false},
      {"{\"a\":null}", false},
      {R"(["a\"b"])", false},
      {"[\"\xc3\xb1\"]", false},
      {"[\"\x01\"]", false},
      {"[\"\x7f\"]", false},
      {"[\"open", false},
      {"[1,]", false},
      {"[1 2]", false},
      {"{\"a\":1,}", false},
      {"{\"a\" 1}", false},
      {"{1:2}", false},
      {"[1}", false},
      {"{\"a\":1]", false},
      {"[1] x", false},
      {"{}{}", false},
      {"", false},
      {"   ", false},
      {"\xef\xbb\xbf{}", false},
      {"[", false},
      {std::string("[1]\0", 4), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Recorder library;
    const bool accepted = nlohmann::json::sax_parse(c.text, &library);
    Recorder whole;
    WholeText text(c.text);
    const QuickParse outcome = QuickSaxParse(text, whole);
    EXPECT_EQ(outcome == QuickParse::kDone, c.quick);
    Recorder pieces;
    BytePieces bytes(c.text);
    EXPECT_EQ(QuickSaxParse(bytes, pieces), outcome);
    if (outcome == QuickParse::kDone) {
      EXPECT_TRUE(accepted);
      EXPECT_EQ(whole.events, library.events);
      EXPECT_EQ(pieces.events, library.events);
    }
  }
}

}  // namespace
}  // namespace brisal
