#include "client_files/manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/message_printer.h"

namespace brisal {
namespace {

const std::string kHashA(64, 'a');
const std::string kHashB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

const Message kInvalid(MessageCode::kManifestInvalid);
const Message kMalformed(MessageCode::kManifestMalformedEntry);
const Message kEmpty(MessageCode::kManifestEmpty);

Message Unsafe(const std::string& path) {
  return Message(MessageCode::kManifestUnsafePath, path);
}

Message BadHash(const std::string& path) {
  return Message(MessageCode::kManifestBadHash, path);
}

// One element of "files". Path and hash are escaped as JSON; the size is written
// exactly as given, so literal forms such as 1e3 or -1 reach the parser unchanged.
std::string Entry(const std::string& path, const std::string& size_literal,
                  const std::string& hash) {
  return R"({"path":)" + nlohmann::json(path).dump() + R"(,"size":)" + size_literal +
         R"(,"sha256":)" + nlohmann::json(hash).dump() + "}";
}

std::string Doc(const std::vector<std::string>& entries) {
  std::string files;
  for (const auto& entry : entries)
    files += (files.empty() ? "" : ",") + entry;
  return R"({"revision":"r1","files":[)" + files + "]}";
}

// Parses a body expected to fail and returns why.
Message FailureOf(const std::string& body) {
  Manifest manifest;
  Message error;
  EXPECT_FALSE(ParseManifest(body, manifest, error)) << body;
  return error;
}

TEST(ParseManifest, KeepsEntriesInDocumentOrderWithDuplicatesAndIgnoresExtraKeys) {
  // The sizes add up to 2^64 - 1, the most a manifest may hold in all.
  const std::string body = R"({"revision":"2024-05-01","extra":{"x":1},"files":[)" +
                           Entry("data/b.bin", "7", kHashA) + "," + R"({"note":"x","sha256":")" +
                           kHashB + R"(","size":0,"path":"a.txt"},)" +
                           Entry("data/b.bin", "18446744073709551608", kHashB) + "]}";
  Manifest manifest;
  manifest.revision = "stale";
  manifest.files.push_back({"stale", 1, kHashA});
  Message error;
  ASSERT_TRUE(ParseManifest(body, manifest, error)) << Sentence(error);
  EXPECT_EQ(manifest.revision, "2024-05-01");
  ASSERT_EQ(manifest.files.size(), 3u);
  EXPECT_EQ(manifest.files[0].path, "data/b.bin");
  EXPECT_EQ(manifest.files[0].size, 7u);
  EXPECT_EQ(manifest.files[0].sha256, kHashA);
  EXPECT_EQ(manifest.files[1].path, "a.txt");
  EXPECT_EQ(manifest.files[1].size, 0u);
  EXPECT_EQ(manifest.files[1].sha256, kHashB);
  EXPECT_EQ(manifest.files[2].path, "data/b.bin");
  EXPECT_EQ(manifest.files[2].size, 18446744073709551608ull);
}

TEST(ParseManifest, MissingRevisionIsEmptyAndUtf8PathsPass) {
  Manifest manifest;
  manifest.revision = "stale";
  Message error;
  const std::string path = "m\xC3\xBAsica/canci\xC3\xB3n.ogg";
  ASSERT_TRUE(ParseManifest(R"({"files":[)" + Entry(path, "1", kHashA) + "]}", manifest, error))
      << Sentence(error);
  EXPECT_EQ(manifest.revision, "");
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].path, path);
}

TEST(ParseManifest, UpperCaseHashIsFoldedToLowerCase) {
  Manifest manifest;
  Message error;
  const std::string upper = "0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789AbCdEf";
  ASSERT_TRUE(ParseManifest(Doc({Entry("a", "1", upper)}), manifest, error)) << Sentence(error);
  EXPECT_EQ(manifest.files[0].sha256, kHashB);
}

TEST(ParseManifest, UnusableDocumentsAreInvalid) {
  for (const std::string body :
       {"", "not json", "{\"files\":[", "[]", R"([{"files":[]}])", "\"text\"", "42", "null", "{}",
        R"({"files":{}})", R"({"files":null})", R"({"files":"a.bin"})", R"({"FILES":[]})"}) {
    EXPECT_EQ(FailureOf(body), kInvalid) << body;
  }
  // Sizes whose sum 64 bits cannot hold would wrap every total shown and counted.
  const std::string half = "9223372036854775808";  // 2^63
  EXPECT_EQ(FailureOf(Doc({Entry("a", half, kHashA), Entry("b", half, kHashA)})), kInvalid);
  Manifest manifest;
  Message error;
  EXPECT_TRUE(ParseManifest(
      Doc({Entry("a", half, kHashA), Entry("b", "9223372036854775807", kHashA)}), manifest, error))
      << Sentence(error);
}

// The original behaviour let a non-string revision escape as an exception out of the
// check job; it is an unusable document like any other.
TEST(ParseManifest, NonStringRevisionIsInvalidNotThrown) {
  const std::string files = R"("files":[)" + Entry("a", "1", kHashA) + "]";
  for (const std::string revision : {"5", "null", "[]", "{}", "true", "1.5"}) {
    const std::string body = R"({"revision":)" + revision + "," + files + "}";
    Manifest manifest;
    Message error;
    bool ok = true;
    EXPECT_NO_THROW(ok = ParseManifest(body, manifest, error)) << body;
    EXPECT_FALSE(ok) << body;
    EXPECT_EQ(error, kInvalid) << body;
  }
}

TEST(ParseManifest, EmptyFileListIsReportedAsEmptyFolder) {
  EXPECT_EQ(FailureOf(R"({"revision":"r","files":[]})"), kEmpty);
}

TEST(ParseManifest, SizeMustBeAPlainUnsignedInteger) {
  for (const std::string size : {"-1", "-0", "1.5", "1.0", "1e3", "1E3", "\"12\"", "null", "true",
                                 "[1]", "18446744073709551616"}) {
    EXPECT_EQ(FailureOf(Doc({Entry("a.bin", size, kHashA)})), kMalformed) << size;
  }
}

TEST(ParseManifest, MissingOrMistypedMembersAreMalformed) {
  const std::string good = Entry("ok.bin", "1", kHashA);
  const std::vector<std::string> elements = {
      R"({"path":"a","size":1})",
      R"({"path":"a","sha256":")" + kHashA + "\"}",
      R"({"size":1,"sha256":")" + kHashA + "\"}",
      R"({"path":1,"size":1,"sha256":")" + kHashA + "\"}",
      R"({"path":"a","size":1,"sha256":5})",
      R"({"path":null,"size":1,"sha256":")" + kHashA + "\"}",
      std::string("[\"a\",1,\"") + kHashA + "\"]",
      std::string("\"a\""),
      std::string("null"),
  };
  for (const auto& element : elements) {
    // A good entry first: the bad one still fails the whole document.
    EXPECT_EQ(FailureOf(Doc({good, element})), kMalformed) << element;
  }
}

TEST(ParseManifest, PathsThatLeaveTheInstallFolderAreRefusedByName) {
  const std::vector<std::string> paths = {
      "/data/a.bin",  "data//a.bin", "data/",    "../a.bin",    "data/../../x",
      "data/./a.bin", ".",           "C:/a.bin", "data\\a.bin", "\\\\server/share",
      "a.bin.",       "a.bin ",      "a?b",      "a*b",         "a|b",
      "a<b>",         "a\"b",        "",
      // The launcher's own files: a client file by that name would overwrite them.
      ".brisal_state.json", ".Brisal_State.JSON", ".brisal_lock", "data/x.pak.bpart", "x.BPART",
      "a/b.tmp"};
  for (const auto& path : paths) {
    EXPECT_EQ(FailureOf(Doc({Entry(path, "1", kHashA)})), Unsafe(path)) << path;
  }
  // Control characters are no path either.
  EXPECT_EQ(FailureOf(Doc({Entry("a\x01", "1", kHashA)})), Unsafe("a\x01"));
  EXPECT_EQ(FailureOf(Doc({Entry("a\tb", "1", kHashA)})), Unsafe("a\tb"));
}

TEST(ParseManifest, PathLengthLimitIs240Bytes) {
  const std::string at_limit = "d/" + std::string(238, 'x');
  const std::string over = at_limit + "y";
  Manifest manifest;
  Message error;
  EXPECT_TRUE(ParseManifest(Doc({Entry(at_limit, "1", kHashA)}), manifest, error))
      << Sentence(error);
  EXPECT_EQ(FailureOf(Doc({Entry(over, "1", kHashA)})), Unsafe(over));

  // Bytes, not characters: 120 two-byte letters fit, one more does not.
  std::string wide;
  for (int i = 0; i < 120; ++i)
    wide += "\xC3\xB1";
  EXPECT_TRUE(ParseManifest(Doc({Entry(wide, "1", kHashA)}), manifest, error)) << Sentence(error);
  EXPECT_EQ(FailureOf(Doc({Entry(wide + "a", "1", kHashA)})), Unsafe(wide + "a"));
}

TEST(ParseManifest, HashMustBe64HexDigits) {
  const std::vector<std::string> hashes = {std::string(63, 'a'),
                                           std::string(65, 'a'),
                                           std::string(63, 'a') + "g",
                                           std::string(63, 'a') + "G",
                                           std::string(62, 'a') + "\xC3\xA1",
                                           std::string(""),
                                           std::string(63, 'a') + " "};
  for (const auto& hash : hashes) {
    EXPECT_EQ(FailureOf(Doc({Entry("data/a.bin", "1", hash)})), BadHash("data/a.bin")) << hash;
  }
}

TEST(ParseManifest, FirstFaultWinsAndPathIsJudgedBeforeHash) {
  // Both faults in one element: the path is reported.
  EXPECT_EQ(FailureOf(Doc({Entry("../x", "1", "zz")})), Unsafe("../x"));
  // The first bad element ends the parse; later ones are not examined.
  EXPECT_EQ(FailureOf(Doc({Entry("a", "1", "zz"), Entry("../x", "1", kHashA)})), BadHash("a"));
  EXPECT_EQ(FailureOf(Doc({Entry("../x", "1", kHashA), R"({"bad":1})"})), Unsafe("../x"));
  EXPECT_EQ(FailureOf(Doc({R"({"bad":1})", Entry("../x", "1", kHashA)})), kMalformed);
}

TEST(ParseManifest, RepeatedKeysFollowTheLastOccurrence) {
  const std::string good = Entry("good.bin", "1", kHashA);
  Manifest manifest;
  Message error;
  ASSERT_TRUE(ParseManifest(R"({"files":{},"files":[)" + good + "]}", manifest, error))
      << Sentence(error);
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(FailureOf(R"({"files":[)" + good + R"(],"files":{}})"), kInvalid);
  EXPECT_EQ(FailureOf(R"({"files":[)" + good + R"(],"files":[]})"), kEmpty);
  ASSERT_TRUE(ParseManifest(R"({"files":[{"bad":1}],"files":[)" + good + "]}", manifest, error))
      << Sentence(error);
  EXPECT_EQ(manifest.files.size(), 1u);

  ASSERT_TRUE(
      ParseManifest(R"({"revision":5,"revision":"r","files":[)" + good + "]}", manifest, error))
      << Sentence(error);
  EXPECT_EQ(manifest.revision, "r");
  EXPECT_EQ(FailureOf(R"({"revision":"r","revision":5,"files":[)" + good + "]}"), kInvalid);

  const std::string repeated_members = R"({"path":"../x","size":-1,"sha256":"zz","path":"a",)"
                                       R"("size":2,"sha256":")" +
                                       kHashB + "\"}";
  ASSERT_TRUE(ParseManifest(Doc({repeated_members}), manifest, error)) << Sentence(error);
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].path, "a");
  EXPECT_EQ(manifest.files[0].size, 2u);
  EXPECT_EQ(manifest.files[0].sha256, kHashB);
  EXPECT_EQ(FailureOf(Doc({R"({"path":"a","size":1,"path":"../x","sha256":")" + kHashA + "\"}"})),
            Unsafe("../x"));
}

TEST(ParseManifest, OnlyTopLevelAndElementMembersCount) {
  const std::string good = Entry("good.bin", "1", kHashA);
  Manifest manifest;
  Message error;
  // "files" and entry-like members nested elsewhere are someone else's data.
  ASSERT_TRUE(ParseManifest(
      R"({"meta":{"files":[)" + Entry("../evil", "1", kHashA) + R"(]},"files":[)" + good + "]}",
      manifest, error))
      << Sentence(error);
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].path, "good.bin");
  EXPECT_EQ(FailureOf(R"({"meta":{"files":[)" + good + "]}}"), kInvalid);
  // Members after "files" are outside the list too.
  ASSERT_TRUE(
      ParseManifest(R"({"files":[)" + good + R"(],"more":[{"path":"../evil"}]})", manifest, error))
      << Sentence(error);
  ASSERT_EQ(manifest.files.size(), 1u);

  const std::string with_extra = R"({"path":"a","size":1,"sha256":")" + kHashA +
                                 R"(","extra":{"path":"../evil","size":-1,"list":[{"sha256":5}]}})";
  ASSERT_TRUE(ParseManifest(Doc({with_extra}), manifest, error)) << Sentence(error);
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].path, "a");

  // A member holding a container is not a string or a number.
  EXPECT_EQ(FailureOf(Doc({R"({"path":{"path":"a"},"size":1,"sha256":")" + kHashA + "\"}"})),
            kMalformed);
  EXPECT_EQ(FailureOf(Doc({R"({"path":"a","size":[1],"sha256":")" + kHashA + "\"}"})), kMalformed);
}

TEST(ParseManifest, SyntaxErrorAnywhereOutranksEntryFaults) {
  const std::string good = Entry("good.bin", "1", kHashA);
  EXPECT_EQ(FailureOf(R"({"files":[{"bad":1},)" + good), kInvalid);
  EXPECT_EQ(FailureOf(R"({"files":[)" + Entry("../x", "1", kHashA) + "]} trailing"), kInvalid);
  EXPECT_EQ(FailureOf(R"({"files":[)" + good + "]"), kInvalid);
  // Not UTF-8 inside a string.
  EXPECT_EQ(FailureOf(std::string(R"({"files":[{"path":"a)") + "\xff" + R"(","size":1,"sha256":")" +
                      kHashA + "\"}]}"),
            kInvalid);
}

// "serial" and "expires" never fail a parse (a launcher without a key ignores them);
// an unusable one is only flagged, for a launcher with a key to refuse.
TEST(ParseManifest, SerialAndExpiryAreReadOrFlaggedNeverFatal) {
  const std::string files = R"("files":[)" + Entry("a", "1", kHashA) + "]";
  const struct {
    std::string members;
    std::optional<std::uint64_t> serial;
    std::optional<std::int64_t> expires;
    bool malformed;
  } cases[] = {
      {"", std::nullopt, std::nullopt, false},
      {R"("serial":18446744073709551615,"expires":"2027-03-01T12:30:05Z",)", 18446744073709551615u,
       1803904205, false},
      {R"("expires":"1970-01-01T00:00:00Z",)", std::nullopt, 0, false},
      {R"("serial":-1,)", std::nullopt, std::nullopt, true},
      {R"("serial":"7",)", std::nullopt, std::nullopt, true},
      {R"("serial":7.0,)", std::nullopt, std::nullopt, true},
      {R"("expires":1803904205,)", std::nullopt, std::nullopt, true},
      {R"("expires":"2027-02-29T00:00:00Z",)", std::nullopt, std::nullopt, true},
      {R"("expires":"2027-03-01T24:00:00Z",)", std::nullopt, std::nullopt, true},
      {R"("expires":"2027-03-01 12:30:05Z",)", std::nullopt, std::nullopt, true},
      {R"("expires":"2027-03-01T12:30:05+01:00",)", std::nullopt, std::nullopt, true},
      {R"("expires":"2027-03-01T12:30:05",)", std::nullopt, std::nullopt, true},
      {R"("serial":3,"serial":null,)", std::nullopt, std::nullopt, true},
  };
  for (const auto& c : cases) {
    Manifest manifest;
    Message error;
    ASSERT_TRUE(ParseManifest("{" + c.members + files + "}", manifest, error)) << c.members;
    EXPECT_EQ(manifest.serial, c.serial) << c.members;
    EXPECT_EQ(manifest.expires, c.expires) << c.members;
    EXPECT_EQ(manifest.guards_malformed, c.malformed) << c.members;
  }
  for (std::int64_t t : {std::int64_t{0}, std::int64_t{951782400}, std::int64_t{4102444799}}) {
    std::int64_t back = -1;
    EXPECT_TRUE(ParseUtcTime(FormatUtcTime(t), back)) << t;
    EXPECT_EQ(back, t);
  }
  EXPECT_EQ(FormatUtcTime(1803904205), "2027-03-01T12:30:05Z");
}

}  // namespace
}  // namespace brisal
