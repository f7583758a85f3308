#include "client_files/manifest.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client_files/file_state_cache.h"
#include "client_files/sha256_hex.h"
#include "core/install_tree.h"
#include "core/json/json_quick.h"
#include "core/json/json_stream.h"
#include "core/messages.h"
#include "core/paths.h"

namespace brisal {

namespace {

bool EndsWithIgnoringCase(const std::string& text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// Reads a manifest in one streaming pass, building the entries as their elements end.
// A manifest can list 100,000 files; a DOM of it costs several times the parse itself
// in allocations, and its strings would have to be moved out of it again.
//
// The outcome is exactly what a DOM of the same text would give: a later duplicate
// key replaces an earlier one, a syntax error anywhere makes the whole document
// invalid even after bad entries, and elements are judged in document order with the
// first fault winning.
class ManifestReader : public JsonStreamReader<ManifestReader> {
 public:
  // Valid only after a successful parse.
  bool RootIsObject() const { return root_is_object_; }
  bool FilesIsArray() const { return files_ == Member::kGood; }
  bool RevisionIsBad() const { return revision_ == Member::kBad; }
  const std::optional<std::uint64_t>& serial() const { return serial_; }
  const std::optional<std::int64_t>& expires() const { return expires_; }
  bool GuardsMalformed() const { return guards_malformed_; }
  std::string& revision() { return revision_text_; }
  std::vector<ManifestEntry>& entries() { return entries_; }
  // What the first faulty element did wrong; empty when every element was accepted.
  const Message& entry_error() const { return entry_error_; }

  // Depth 0 is the document, 1 its members, 2 the elements of "files", 3 their members.
  void OnValue(JsonKind kind, int depth) {
    if (depth == 0) {
      root_is_object_ = kind == JsonKind::kObject;
    } else if (depth == 1 && root_is_object_) {
      TopValue(kind);
    } else if (depth == 2 && in_files_) {
      element_ = Element();
      in_element_ = kind == JsonKind::kObject;
      if (!in_element_) Reject(Message(MessageCode::kManifestMalformedEntry));
    } else if (depth == 3 && in_element_) {
      ElementValue(kind);
    }
  }

  void OnKey(const std::string& name, int depth) {
    if (depth == 1) {
      top_key_ = name == "files"      ? TopKey::kFiles
                 : name == "revision" ? TopKey::kRevision
                 : name == "serial"   ? TopKey::kSerial
                 : name == "expires"  ? TopKey::kExpires
                                      : TopKey::kOther;
    } else if (depth == 3 && in_element_) {
      element_key_ = name == "path"     ? ElementKey::kPath
                     : name == "size"   ? ElementKey::kSize
                     : name == "sha256" ? ElementKey::kSha256
                                        : ElementKey::kOther;
    }
  }

  void OnClose(int depth) {
    if (depth == 2 && in_element_) {
      FinishElement();
    } else if (depth == 1) {
      in_files_ = false;
    }
  }

 private:
  enum class Member { kAbsent, kGood, kBad };
  enum class TopKey { kFiles, kRevision, kSerial, kExpires, kOther };
  enum class ElementKey { kPath, kSize, kSha256, kOther };

  struct Element {
    Member path = Member::kAbsent;
    Member size = Member::kAbsent;
    Member sha256 = Member::kAbsent;
    ManifestEntry entry;
  };

  void TopValue(JsonKind kind) {
    if (top_key_ == TopKey::kSerial) {
      serial_.reset();
      if (kind == JsonKind::kUnsigned) serial_ = unsigned_value();
      guards_malformed_ = guards_malformed_ || !serial_;
    } else if (top_key_ == TopKey::kExpires) {
      std::int64_t seconds = 0;
      expires_.reset();
      if (kind == JsonKind::kString && ParseUtcTime(string_value(), seconds)) expires_ = seconds;
      guards_malformed_ = guards_malformed_ || !expires_;
    } else if (top_key_ == TopKey::kRevision) {
      revision_ = kind == JsonKind::kString ? Member::kGood : Member::kBad;
      if (kind == JsonKind::kString) revision_text_ = string_value();
    } else if (top_key_ == TopKey::kFiles) {
      // A repeated "files" replaces the earlier one, entries and faults alike.
      files_ = kind == JsonKind::kArray ? Member::kGood : Member::kBad;
      entries_.clear();
      entry_error_ = Message();
      in_files_ = kind == JsonKind::kArray;
    }
  }

  void ElementValue(JsonKind kind) {
    switch (element_key_) {
      case ElementKey::kPath:
        element_.path = kind == JsonKind::kString ? Member::kGood : Member::kBad;
        if (kind == JsonKind::kString) element_.entry.path = string_value();
        break;
      case ElementKey::kSize:
        element_.size = kind == JsonKind::kUnsigned ? Member::kGood : Member::kBad;
        if (kind == JsonKind::kUnsigned) element_.entry.size = unsigned_value();
        break;
      case ElementKey::kSha256:
        element_.sha256 = kind == JsonKind::kString ? Member::kGood : Member::kBad;
        if (kind == JsonKind::kString) element_.entry.sha256 = string_value();
        break;
      case ElementKey::kOther:
        break;
    }
  }

  void FinishElement() {
    in_element_ = false;
    if (!entry_error_.empty()) return;  // the first fault has been found already
    // "size" must have been a plain unsigned literal: the parser hands "-1" over as a
    // signed integer and "1.5", "1e3", "1.0" and numbers beyond 64 bits as floats.
    if (element_.path != Member::kGood || element_.size != Member::kGood ||
        element_.sha256 != Member::kGood) {
      return Reject(Message(MessageCode::kManifestMalformedEntry));
    }
    ManifestEntry& entry = element_.entry;
    bool hash_ok = NormaliseSha256Hex(entry.sha256);
    // The path is judged first: a path that escapes the install folder is the graver
    // fault, and it is what the operator must see.
    if (!IsSafeRelativePath(entry.path) || IsLauncherOwnPath(entry.path)) {
      return Reject(Message(MessageCode::kManifestUnsafePath, std::move(entry.path)));
    }
    if (!hash_ok) return Reject(Message(MessageCode::kManifestBadHash, std::move(entry.path)));
    entries_.push_back(std::move(entry));
  }

  void Reject(Message fault) {
    if (entry_error_.empty()) entry_error_ = std::move(fault);
  }

  bool root_is_object_ = false;
  TopKey top_key_ = TopKey::kOther;
  ElementKey element_key_ = ElementKey::kOther;
  bool in_files_ = false;    // inside the top-level "files" array
  bool in_element_ = false;  // inside an object element of that array
  Member files_ = Member::kAbsent;
  Member revision_ = Member::kAbsent;
  std::string revision_text_;
  std::optional<std::uint64_t> serial_;
  std::optional<std::int64_t> expires_;
  bool guards_malformed_ = false;
  Element element_;
  std::vector<ManifestEntry> entries_;
  Message entry_error_;
};

// The most elements a body of this size can hold: a valid element is at least
// {"path":"a","size":0,"sha256":"<64 digits>"} plus a comma, 98 bytes. A stream parser
// does not know an array's length up front, and growing a vector of 100,000 entries
// step by step moves and touches twice the memory; pages reserved beyond the real
// count are never touched.
std::size_t MaxElements(const std::string& body) {
  return body.size() / 98 + 1;
}

bool Fail(Message& error, Message fault) {
  error = std::move(fault);
  return false;
}

bool Fail(Message& error, MessageCode code) {
  return Fail(error, Message(code));
}

}  // namespace

bool IsLauncherOwnPath(const std::string& path) {
  // The state file and the lock live at the top of the folder only.
  const bool top = path.find('/') == std::string::npos;
  const auto is = [&](std::string_view name) {
    return path.size() == name.size() && EndsWithIgnoringCase(path, name);
  };
  return (top && (is(kStateFileName) || is(kLockFileName))) ||
         EndsWithIgnoringCase(path, kPartialSuffix) || EndsWithIgnoringCase(path, ".tmp");
}

bool ParseManifest(const std::string& body, Manifest& manifest, Message& error) {
  manifest = Manifest();
  std::optional<ManifestReader> parsed;
  parsed.emplace().entries().reserve(MaxElements(body));
  WholeText text(body);
  if (QuickSaxParse(text, *parsed) != QuickParse::kDone) {
    parsed.emplace().entries().reserve(MaxElements(body));
    if (!nlohmann::json::sax_parse(body, &*parsed))
      return Fail(error, MessageCode::kManifestInvalid);
  }
  ManifestReader& reader = *parsed;
  if (!reader.RootIsObject() || !reader.FilesIsArray())
    return Fail(error, MessageCode::kManifestInvalid);
  // A revision of the wrong type would otherwise throw out of the check job; it is as
  // unusable as any other malformed document.
  if (reader.RevisionIsBad()) return Fail(error, MessageCode::kManifestInvalid);
  if (!reader.entry_error().empty()) return Fail(error, reader.entry_error());
  // Every total of the check and the update is a sum of these sizes; one that wraps
  // would show and count nonsense ("2 archivos (0 B)").
  std::uint64_t total = 0;
  for (const ManifestEntry& entry : reader.entries()) {
    if (entry.size > UINT64_MAX - total) return Fail(error, MessageCode::kManifestInvalid);
    total += entry.size;
  }
  if (reader.entries().empty()) return Fail(error, MessageCode::kManifestEmpty);
  manifest.revision = std::move(reader.revision());
  manifest.files = std::move(reader.entries());
  manifest.serial = reader.serial();
  manifest.expires = reader.expires();
  manifest.guards_malformed = reader.GuardsMalformed();
  return true;
}

std::string FormatUtcTime(std::int64_t unix_seconds) {
  using namespace std::chrono;
  const sys_seconds time{seconds(unix_seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

bool ParseUtcTime(const std::string& text, std::int64_t& unix_seconds) {
  // Position of every digit in "YYYY-MM-DDTHH:MM:SSZ"; the rest must be the separators.
  static constexpr char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i)
      value = value * 10 + (text[i] - '0');
    return value;
  };
  using namespace std::chrono;
  const year_month_day date{year(number(0, 4)), month(static_cast<unsigned>(number(5, 2))),
                            day(static_cast<unsigned>(number(8, 2)))};
  const int hour = number(11, 2);
  const int minute = number(14, 2);
  const int second = number(17, 2);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  unix_seconds = (sys_days(date).time_since_epoch() + hours(hour) + minutes(minute) +
                  std::chrono::seconds(second)) /
                 std::chrono::seconds(1);
  return true;
}

}  // namespace brisal
