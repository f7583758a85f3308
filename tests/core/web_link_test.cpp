#include "core/web_link.h"

#include <gtest/gtest.h>

namespace brisal {
namespace {

// What the news feed (or a configured link) could slip to the browser: another
// scheme, a host that is not one, a character that ends the link early or hides part
// of it, a text without end.
TEST(WebLink, OnlyWebLinksWithASaneHostAndNothingThatBreaksThemOut) {
  const std::string longest = "https://a.example/" + std::string(2048 - 18, 'x');
  const std::optional<std::string> refused;
  const struct {
    std::string in;
    std::optional<std::string> out;
  } cases[] = {
      {"https://brisal.example/noticias/1?ref=launcher#arriba",
       "https://brisal.example/noticias/1?ref=launcher#arriba"},
      {"HTTP://Brisal.example:8080", "http://Brisal.example:8080"},
      {"hTTpS://[::1]:443/a%20b/a\xC3\xB1o", "https://[::1]:443/a%20b/a\xC3\xB1o"},
      {"file:///etc/passwd", refused},
      {"javascript:alert(1)//http://a", refused},
      {" https://a.example", refused},
      {"https://", refused},
      {"https:///path", refused},
      {"https://brisal.example@evil.example/", refused},
      {"https://a.example:/", refused},
      {"https://a.example:8o/", refused},
      {"https://a_b.example/", refused},
      {"https://a.example/a b", refused},
      {"https://a.example/a\u00A0b", refused},
      {"https://a.example/\"onclick", refused},
      {"https://a.example/'", refused},
      {"https://a.example/`id`", refused},
      {"https://a.example/<script>", refused},
      {"https://a.example\\@evil.example", refused},
      {"https://a.example/\n", refused},
      {std::string("https://a.example/\0x", 20), refused},
      {"https://a.example/\x7F", refused},
      {"https://a.example/\xC2\x85", refused},
      {"https://a.example/\xE2\x80\xAEgpj.exe", refused},
      {"https://a.example/\xC0\xAF", refused},
      {longest, longest},
      {longest + "x", refused},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseWebLink(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace brisal
