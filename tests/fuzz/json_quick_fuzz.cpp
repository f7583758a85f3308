// The quick pass over plain JSON against the JSON library itself: whenever the quick
// pass says it read a document whole, the library must read the same document to the
// same value, whichever way the text was cut into pieces. The first byte of the input
// chooses the piece size, so tokens straddle the pieces of a block-wise read.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/json/json_quick.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brisal::fuzz::Require;
using Json = nlohmann::ordered_json;  // keeps the keys in the order the events gave them

class Pieces {
 public:
  Pieces(const std::string& text, std::size_t size) : text_(text), size_(size) {}
  bool Next(const char*& begin, const char*& end) {
    if (at_ == text_.size()) return false;
    const std::size_t piece = std::min(size_, text_.size() - at_);
    begin = text_.data() + at_;
    end = begin + piece;
    at_ += piece;
    return true;
  }

 private:
  const std::string& text_;
  const std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 16;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  Json quick;
  nlohmann::detail::json_sax_dom_parser<Json> builder(quick, false);
  Pieces pieces(text, piece);
  if (brisal::QuickSaxParse(pieces, builder) != brisal::QuickParse::kDone) return 0;

  const Json library = Json::parse(text, nullptr, false);
  Require(!library.is_discarded(), "what the quick pass reads whole, the library reads too");
  Require(library == quick, "the quick pass and the library read the same value");
  return 0;
}
