#include "core/text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace brisal {
namespace {

TEST(FormatSize, UnitsAndRoundingAtEveryBoundary) {
  EXPECT_EQ(FormatSize(0), "0 B");
  EXPECT_EQ(FormatSize(1023), "1023 B");
  EXPECT_EQ(FormatSize(1024), "1 KB");
  EXPECT_EQ(FormatSize(1536), "2 KB");
  EXPECT_EQ(FormatSize(1048575), "1024 KB");
  EXPECT_EQ(FormatSize(1048576), "1.0 MB");
  EXPECT_EQ(FormatSize(1572864), "1.5 MB");
  EXPECT_EQ(FormatSize(1073741823), "1024.0 MB");
  EXPECT_EQ(FormatSize(1073741824), "1.00 GB");
  EXPECT_EQ(FormatSize(5ULL * 1073741824ULL + 536870912ULL), "5.50 GB");
}

TEST(ParseByteCount, DigitsWithABinarySuffixAndNothingElse) {
  constexpr std::uint64_t kNo = 7;  // what a refusal leaves in place
  const std::pair<const char*, std::uint64_t> cases[] = {
      {"0", 0},           {"1500", 1500}, {"500K", 512000}, {"2m", 2097152},
      {"3G", 3221225472}, {"", kNo},      {"M", kNo},       {"-1", kNo},
      {" 2M", kNo},       {"1.5M", kNo},  {"2MB", kNo},     {"17179869184G", kNo}};
  for (const auto& [text, bytes] : cases) {
    std::uint64_t parsed = kNo;
    EXPECT_EQ(ParseByteCount(text, parsed) ? parsed : kNo, bytes) << text;
  }
}

TEST(Utf8Wide, RoundTripsEveryPlane) {
  const std::string text = "Espa\xC3\xB1ol \xE2\x80\xA6 \xC2\xB7 \xF0\x9F\x8E\xAE";  // ñ … · 🎮
  std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(wide.substr(0, 7), L"Espa\u00F1ol");
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(Utf8Wide, InvalidInputIsReplacedNotRefused) {
  std::wstring wide = Utf8ToWide(
      "a\xFF"
      "b");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0], L'a');
  EXPECT_EQ(wide[1], static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(wide[2], L'b');
  // A truncated sequence at the end.
  EXPECT_EQ(WideToUtf8(Utf8ToWide("x\xE2\x80")).substr(0, 1), "x");
}

// Shown text replaces what it cannot convert; a file name is converted exactly or not
// at all, or the folder walk would hand on a name that reaches another file.
TEST(Utf8Wide, UnpairedSurrogatesAreReplacedInTextAndRefusedInNames) {
  auto units = [](std::initializer_list<unsigned> list) {
    std::wstring wide;
    for (unsigned u : list)
      wide.push_back(static_cast<wchar_t>(u));
    return wide;
  };
  const std::wstring broken[] = {
      units({'a', 0xD800, 'b'}),  // a high half alone
      units({0xDC00}),            // a low half alone
      units({'x', 0xD83D}),       // a high half at the end
      units({0xDE00, 0xD83D}),    // the halves in the wrong order
  };
  std::string name = "left over";
  for (const std::wstring& wide : broken) {
    EXPECT_FALSE(WideNameToUtf8(wide, name)) << WideToUtf8(wide);
    EXPECT_NE(WideToUtf8(wide).find("\xEF\xBF\xBD"), std::string::npos);
  }
  const std::string text = "Espa\xC3\xB1ol \xF0\x9F\x8E\xAE.pak";
  ASSERT_TRUE(WideNameToUtf8(Utf8ToWide(text), name));
  EXPECT_EQ(name, text);
}

TEST(Format, NarrowCutsAndReportsTheFullLength) {
  char buffer[8];
  EXPECT_EQ(FormatNarrow(buffer, sizeof buffer, "%s", "0123456789"), 10);
  EXPECT_STREQ(buffer, "0123456");
  EXPECT_EQ(FormatNarrow(buffer, sizeof buffer, "%zu", static_cast<std::size_t>(42)), 2);
  EXPECT_STREQ(buffer, "42");
}

TEST(Format, WideFailsWhenTheTextDoesNotFit) {
  wchar_t buffer[8];
  EXPECT_EQ(FormatWide(buffer, 8, L"%d", 1234), 4);
  EXPECT_EQ(std::wstring(buffer), L"1234");
  EXPECT_EQ(FormatWide(buffer, 8, L"%ls", L"0123456789"), -1);
}

TEST(Format, StringPrintfHasNoLengthLimit) {
  std::string long_text(5000, 'x');
  EXPECT_EQ(StringPrintf("[%s]", long_text.c_str()), "[" + long_text + "]");
  EXPECT_EQ(StringPrintf("%llu", 18446744073709551615ULL), "18446744073709551615");
}

// RFC 4648 examples, then what must be refused so that one key or signature has
// exactly one text.
TEST(Base64, RoundTripsAndRefusesEveryOtherText) {
  const std::pair<std::string, std::string> known[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\xfb\xff\x00", 3), "+/8A"}};
  for (const auto& [bytes, text] : known) {
    EXPECT_EQ(EncodeBase64(bytes), text);
    std::string decoded = "x";
    EXPECT_TRUE(DecodeBase64(text, decoded)) << text;
    EXPECT_EQ(decoded, bytes) << text;
  }
  std::string decoded;
  EXPECT_TRUE(DecodeBase64(" Zm9v\r\n", decoded));
  EXPECT_EQ(decoded, "foo");
  for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "Zm 9v", "Zm9v=", "Zg==Zg==", "Zm-v",
                          "Zm_v", "====", "Zm9\xc3"}) {
    decoded = "kept";
    EXPECT_FALSE(DecodeBase64(bad, decoded)) << bad;
    EXPECT_EQ(decoded, "kept") << bad;
  }
}

// Whatever a server or a file sends, what is shown or logged can neither drive a
// terminal, break a line, reorder text, nor run on without end.
TEST(SafeText, ReplacesWhatCouldMisleadAndCutsWithAnEllipsis) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"caf\xC3\xA9 \xC2\xBFya? \xF0\x9F\x8E\xAE \xD7\xA9\xD7\x9C",
       "caf\xC3\xA9 \xC2\xBFya? \xF0\x9F\x8E\xAE \xD7\xA9\xD7\x9C"},
      {"\x1B[31mrojo\x1B[0m", r + "[31mrojo" + r + "[0m"},
      {"a\r\n2026-01-01 00:00:00  falso", "a" + r + r + "2026-01-01 00:00:00  falso"},
      {std::string("t\tb\0c\x7F", 6), "t" + r + "b" + r + "c" + r},
      {"c1 \xC2\x9B \xC2\x85 \xC2\xA0", "c1 " + r + " " + r + " \xC2\xA0"},
      {"exe.\xE2\x80\xAEgpj \xE2\x81\xA6x\xE2\x81\xA9 \xE2\x80\xA8",
       "exe." + r + "gpj " + r + "x" + r + " " + r},
      {"raw \x9B \xFF \xC3 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 end",
       "raw " + r + " " + r + " " + r + " " + r + r + " " + r + r + r + " " + r + r + r + r +
           " end"},
      {"\xE2\x82", r + r},
      // Overlong forms of every length ("/" as 2, 3 and 4 bytes, U+FFFF as 4).
      {"\xC0\xAF|\xE0\x80\xAF|\xF0\x80\x80\xAF|\xF0\x8F\xBF\xBF",
       r + r + "|" + r + r + r + "|" + r + r + r + r + "|" + r + r + r + r},
      // Implicit direction marks: left-to-right, right-to-left, Arabic letter mark.
      {"a\u200Eb\u200Fc\u061Cd", "a" + r + "b" + r + "c" + r + "d"},
      // Embeddings and overrides, then isolates.
      {"\u202A\u202B\u202C\u202D\u202E.\u2066\u2067\u2068\u2069",
       r + r + r + r + r + "." + r + r + r + r},
      // Invisible format characters: Mongolian vowel separator, zero-width space, word
      // joiner, a deprecated shaping control, byte order mark, interlinear annotation.
      {"p\u180Ea\u200By\u2060p\u206Fa\uFEFFl\uFFF9",
       "p" + r + "a" + r + "y" + r + "p" + r + "a" + r + "l" + r},
      // Joiners stay: emoji sequences and Persian words are made of them.
      {"\U0001F468\u200D\U0001F469 \u0645\u200C\u06CC",
       "\U0001F468\u200D\U0001F469 \u0645\u200C\u06CC"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SafeText(c.in), c.out) << c.in;

  EXPECT_EQ(SafeText(std::string(200, 'a')), std::string(200, 'a'));
  EXPECT_EQ(SafeText(std::string(201, 'a')), std::string(199, 'a') + "\xE2\x80\xA6");
  // Characters are counted, not bytes, and a cut never splits one.
  std::string accents;
  for (int i = 0; i < 6; ++i)
    accents += "\xC3\xB1";
  EXPECT_EQ(SafeText(accents, 5), "\xC3\xB1\xC3\xB1\xC3\xB1\xC3\xB1\xE2\x80\xA6");
  EXPECT_EQ(SafeText(accents, 6), accents);
  // Tens of MiB cost no more than the cap.
  EXPECT_EQ(SafeText(std::string(32 << 20, '\x1B'), 3), r + r + "\xE2\x80\xA6");
}

}  // namespace
}  // namespace brisal
