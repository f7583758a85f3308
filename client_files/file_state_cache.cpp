#include "client_files/file_state_cache.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/json/json_quick.h"
#include "core/json/json_stream.h"
#include "core/paths.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

// Reads a state file in one streaming pass straight into the entry map. With 100,000
// entries a DOM costs several times the parse itself, in allocations made only to be
// thrown away.
//
// The outcome is exactly what a DOM of the same text would give: a later duplicate key
// replaces an earlier one (so a malformed repeat removes a good first member), and a
// syntax error anywhere discards everything.
class StateReader : public JsonStreamReader<StateReader> {
 public:
  using Entries = std::unordered_map<std::string, FileState>;

  explicit StateReader(std::size_t expected_entries) { entries_.reserve(expected_entries); }

  // Valid only after a successful parse.
  bool RootIsObject() const { return root_is_object_; }
  Entries& entries() { return entries_; }
  std::string& revision() { return revision_; }
  std::uint64_t serial() const { return serial_; }

  // Depth 0 is the document, 1 its members, 2 the members of "files", 3 the elements
  // of their [size, mtime, sha256] arrays.
  void OnValue(JsonKind kind, int depth) {
    if (depth == 0) {
      root_is_object_ = kind == JsonKind::kObject;
    } else if (depth == 1 && root_is_object_) {
      TopValue(kind);
    } else if (depth == 2 && in_files_) {
      in_triple_ = kind == JsonKind::kArray;
      triple_ok_ = in_triple_;
      triple_length_ = 0;
      if (!in_triple_) entries_.erase(path_);
    } else if (depth == 3 && in_triple_) {
      TripleElement(kind);
    }
  }

  void OnKey(const std::string& name, int depth) {
    if (depth == 1) {
      top_key_ = name == "files"      ? TopKey::kFiles
                 : name == "revision" ? TopKey::kRevision
                 : name == "serial"   ? TopKey::kSerial
                                      : TopKey::kOther;
    } else if (depth == 2 && in_files_) {
      path_ = name;
    }
  }

  void OnClose(int depth) {
    if (depth == 2 && in_triple_) {
      FinishTriple();
    } else if (depth == 1) {
      in_files_ = false;
    }
  }

 private:
  enum class TopKey { kFiles, kRevision, kSerial, kOther };

  void TopValue(JsonKind kind) {
    if (top_key_ == TopKey::kSerial) {
      serial_ = kind == JsonKind::kUnsigned ? unsigned_value() : 0;
    } else if (top_key_ == TopKey::kRevision) {
      // A hand-edited or foreign file may hold anything; a revision that is not a
      // string just means none is known.
      if (kind == JsonKind::kString) {
        revision_ = string_value();
      } else {
        revision_.clear();
      }
    } else if (top_key_ == TopKey::kFiles) {
      entries_.clear();  // a repeated "files" replaces the earlier one
      in_files_ = kind == JsonKind::kObject;
    }
  }

  // Accepts [unsigned, unsigned, string] and nothing else.
  void TripleElement(JsonKind kind) {
    switch (triple_length_++) {
      case 0:
        triple_ok_ = triple_ok_ && kind == JsonKind::kUnsigned;
        if (triple_ok_) state_.size = unsigned_value();
        break;
      case 1:
        triple_ok_ = triple_ok_ && kind == JsonKind::kUnsigned;
        if (triple_ok_) state_.mtime = unsigned_value();
        break;
      case 2:
        triple_ok_ = triple_ok_ && kind == JsonKind::kString;
        if (triple_ok_) state_.sha256 = string_value();
        break;
      default:
        triple_ok_ = false;
        break;
    }
  }

  void FinishTriple() {
    in_triple_ = false;
    // The obsolete-file scan deletes what the cache lists and the manifest does not.
    // Dropping here every key that could point outside the install folder means no
    // later code has to remember to distrust the file; the launcher itself only ever
    // stores manifest paths, which passed the same rule.
    if (triple_ok_ && triple_length_ == 3 && IsSafeRelativePath(path_)) {
      entries_.insert_or_assign(std::move(path_), std::move(state_));
    } else {
      entries_.erase(path_);
    }
    state_ = FileState();
  }

  bool root_is_object_ = false;
  TopKey top_key_ = TopKey::kOther;
  bool in_files_ = false;   // inside the top-level "files" object
  bool in_triple_ = false;  // inside the array value of one of its members
  bool triple_ok_ = false;
  int triple_length_ = 0;
  std::string path_;
  FileState state_;
  Entries entries_;
  std::string revision_;
  std::uint64_t serial_ = 0;
};

// Hands the parser the file block by block, so a state file of 100,000 entries never
// sits in memory whole next to the map built from it.
class BlockReader {
 public:
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    Iterator() = default;
    explicit Iterator(BlockReader* reader) : reader_(reader) {}
    const char& operator*() const { return reader_->block_[reader_->position_]; }
    Iterator& operator++() {
      if (++reader_->position_ == reader_->length_) reader_->Refill();
      return *this;
    }
    // Any two iterators at the end compare equal; the parser only ever asks whether
    // the current one has reached the end.
    bool operator==(const Iterator& other) const { return AtEnd() == other.AtEnd(); }

   private:
    bool AtEnd() const { return reader_ == nullptr || reader_->done_; }
    BlockReader* reader_ = nullptr;
  };

  explicit BlockReader(File& file)
      : file_(file), block_(std::make_unique_for_overwrite<char[]>(kBlockBytes)) {
    Refill();
  }

  Iterator begin() { return Iterator(this); }
  Iterator end() { return Iterator(); }
  // The same text block by block, for QuickSaxParse; not to be mixed with iterators.
  bool Next(const char*& begin, const char*& end) {
    if (handed_) Refill();
    handed_ = true;
    if (done_) return false;
    begin = block_.get();
    end = begin + length_;
    return true;
  }
  // A read error ends the input like the end of the file does; this tells them apart.
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kBlockBytes = 262144;

  void Refill() {
    std::int64_t got = file_.Read(block_.get(), kBlockBytes);
    position_ = 0;
    length_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    done_ = got <= 0;
    failed_ = got < 0;
  }

  File& file_;
  std::unique_ptr<char[]> block_;
  std::size_t position_ = 0;
  std::size_t length_ = 0;
  bool done_ = false;
  bool failed_ = false;
  bool handed_ = false;  // Next has handed out the current block
};

// Real members take about 120 bytes of the file. Reserving for about that many spares
// the map its rehashes while it grows; a wrong guess only costs a rehash or some
// empty buckets.
std::size_t LikelyEntries(std::uint64_t file_size) {
  return static_cast<std::size_t>(file_size / 100);
}

// Plain printable ASCII other than the quote and the backslash is written as is by
// every JSON serialiser; nearly every path is of this kind.
bool NeedsNoEscaping(const std::string& text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7e || c == '"' || c == '\\') return false;
  }
  return true;
}

// Appends `text` as a JSON string literal, escaped exactly as the JSON library would.
// False, with nothing appended, when `text` is not valid UTF-8 and so cannot be
// written faithfully.
bool AppendJsonString(std::string& out, const std::string& text) {
  if (NeedsNoEscaping(text)) {
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return true;
  }
  try {
    out.append(Json(text).dump());
    return true;
  } catch (const Json::exception&) {
    return false;
  }
}

void AppendUnsigned(std::string& out, std::uint64_t value) {
  char digits[24];
  auto result = std::to_chars(std::begin(digits), std::end(digits), value);
  out.append(digits, result.ptr);
}

}  // namespace

void FileStateCache::Load(const std::string& install_dir) {
  MutexLock guard(lock_);
  if (loaded_) return;
  loaded_ = true;
  entries_.clear();
  revision_.clear();
  serial_ = 0;

  // An unset folder has no state file; joining would look the bare name up in the
  // current folder.
  if (install_dir.empty()) return;
  File file;
  if (!file.Open(JoinPath(install_dir, kStateFileName), File::Mode::kRead)) return;
  std::uint64_t size = 0;
  if (!file.Size(size)) size = 0;
  // The same limit as every other whole-file read: a larger file is not read at all.
  if (size > kReadWholeFileLimit) return;
  std::optional<StateReader> state;
  state.emplace(LikelyEntries(size));
  {
    BlockReader blocks(file);
    if (QuickSaxParse(blocks, *state) != QuickParse::kDone) {
      state.reset();
    } else if (blocks.failed()) {
      return;
    }
  }
  // A corrupt or unreadable file means an empty cache: the next check simply hashes
  // every file.
  if (!state) {
    if (!file.Seek(0)) return;
    state.emplace(LikelyEntries(size));
    BlockReader input(file);
    if (!Json::sax_parse(input.begin(), input.end(), &*state) || input.failed()) return;
  }
  if (!state->RootIsObject()) return;
  entries_ = std::move(state->entries());
  revision_ = std::move(state->revision());
  serial_ = state->serial();
}

void FileStateCache::Save(const std::string& install_dir) {
  // An unset folder would put the file in the current folder. A deleted or moved
  // install folder stays gone: the whole-file write creates no folder.
  if (install_dir.empty()) return;
  // The text is built under the cache lock and written outside it, so a download that
  // records its file never waits for the disk; save_lock_ keeps the writes in the
  // order their texts were built.
  MutexLock writing(save_lock_);
  std::string out;
  {
    MutexLock guard(lock_);
    out = SerialiseLocked();
  }
  // A failed write leaves the previous file whole; memory stays right and is written
  // again at the next save.
  WriteFileAtomic(JoinPath(install_dir, kStateFileName), out);
}

std::string FileStateCache::SerialiseLocked() const {
  // Written by hand rather than through a DOM: with 100,000 entries the DOM costs
  // several times the serialisation itself. The output is what the JSON library would
  // print for the same document: compact, keys in byte order.
  std::vector<const std::pair<const std::string, FileState>*> sorted;
  sorted.reserve(entries_.size());
  for (const auto& entry : entries_)
    sorted.push_back(&entry);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });

  std::string out;
  out.reserve(64 + sorted.size() * 128);
  out.append("{\"files\":{");
  bool first = true;
  for (const auto* entry : sorted) {
    const std::size_t mark = out.size();
    if (!first) out.push_back(',');
    // An entry that cannot be written faithfully (not UTF-8) is left out: the next
    // check simply rehashes that file.
    if (!AppendJsonString(out, entry->first)) {
      out.resize(mark);
      continue;
    }
    out.append(":[");
    AppendUnsigned(out, entry->second.size);
    out.push_back(',');
    AppendUnsigned(out, entry->second.mtime);
    out.push_back(',');
    if (!AppendJsonString(out, entry->second.sha256)) {
      out.resize(mark);
      continue;
    }
    out.append("]");
    first = false;
  }
  out.append("},\"revision\":");
  if (!AppendJsonString(out, revision_)) out.append("\"\"");
  // Only written once a signed manifest set it, so a launcher without a key writes
  // the same file as ever.
  if (serial_ > 0) {
    out.append(",\"serial\":");
    AppendUnsigned(out, serial_);
  }
  out.push_back('}');
  return out;
}

std::optional<FileState> FileStateCache::Lookup(const std::string& path) {
  MutexLock guard(lock_);
  return LookupLocked(path);
}

std::optional<bool> FileStateCache::RecordedHashIs(const std::string& path, std::uint64_t size,
                                                   std::uint64_t mtime, const std::string& sha256) {
  MutexLock guard(lock_);
  auto it = entries_.find(path);
  if (it == entries_.end() || it->second.size != size || it->second.mtime != mtime) {
    return std::nullopt;
  }
  return it->second.sha256 == sha256;
}

void FileStateCache::Store(const std::string& path, const FileState& state) {
  MutexLock guard(lock_);
  StoreLocked(path, state);
}

void FileStateCache::Erase(const std::string& path) {
  MutexLock guard(lock_);
  entries_.erase(path);
}

void FileStateCache::SetRevision(const std::string& revision) {
  MutexLock guard(lock_);
  revision_ = revision;
}

std::string FileStateCache::Revision() {
  MutexLock guard(lock_);
  return revision_;
}

std::uint64_t FileStateCache::Serial() {
  MutexLock guard(lock_);
  return serial_;
}

bool FileStateCache::RaiseSerial(std::uint64_t serial) {
  MutexLock guard(lock_);
  if (serial <= serial_) return false;
  serial_ = serial;
  return true;
}

void FileStateCache::Reset() {
  MutexLock guard(lock_);
  entries_.clear();
  revision_.clear();
  serial_ = 0;
  loaded_ = false;
}

std::size_t FileStateCache::Count() {
  MutexLock guard(lock_);
  return entries_.size();
}

std::optional<FileState> FileStateCache::LookupLocked(const std::string& path) const {
  auto it = entries_.find(path);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

void FileStateCache::StoreLocked(const std::string& path, const FileState& state) {
  entries_.insert_or_assign(path, state);
}

}  // namespace brisal
