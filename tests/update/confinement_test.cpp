// Hostile but possible install folders: links planted below it that point at files
// outside, or at other files and folders inside. Whatever the engine installs,
// resumes or deletes, the bytes outside stay exactly as they were, and a file inside
// changes only under its own name.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "core/file_faults.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "tests/support/planted_link.h"
#include "tests/update/engine_fixture.h"
#include "update/download.h"

namespace brisal::testing {
namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// Every file below `root` with its bytes, and every folder.
std::map<std::string, std::string> Contents(const std::string& root) {
  std::map<std::string, std::string> found;
  for (const auto& item : fs::recursive_directory_iterator(FsPath(root))) {
    const std::u8string name = item.path().u8string();
    const std::string utf8(name.begin(), name.end());
    if (item.is_regular_file()) {
      found[utf8] = ReadFile(utf8);
    } else if (item.is_directory() && !item.is_symlink()) {
      found[utf8] = "<folder>";
    }
  }
  return found;
}

struct LinkCase;

// Makes every resolution below the folder take the step-by-step walk that stands in
// where the kernel refuses openat2 (before Linux 5.6, some sandboxes).
class WalkInstead : public FileOpObserver {
 public:
  WalkInstead() { SetFileOpObserver(this); }
  ~WalkInstead() override { SetFileOpObserver(nullptr); }
  WalkInstead(const WalkInstead&) = delete;
  WalkInstead& operator=(const WalkInstead&) = delete;
  bool Allow(FileOp) override { return true; }
  bool AllowConfinedResolution() override { return false; }
};

class ConfinementTest : public EngineTest,
                        public ::testing::WithParamInterface<std::tuple<LinkCase, bool>> {
 public:
  using EngineTest::InstallPath;

  ConfinementTest() {
    WriteFile(outside_.Sub(".bashrc"), "export PATH=/usr/bin\n");
    WriteFile(outside_.Sub("victim"), "precious");
  }

  // Plants a link at `relative` in the install folder, to `target` (absolute, or
  // relative to the link's folder); false where the system or the user's rights do
  // not allow links.
  bool Link(const std::string& relative, const std::string& target, bool folder) {
    std::error_code error;
    fs::remove_all(FsPath(InstallPath(relative)), error);
    fs::create_directories(FsPath(InstallPath(relative)).parent_path(), error);
    links_.push_back(std::make_unique<PlantedLink>(InstallPath(relative), target,
                                                   folder ? LinkTo::kFolder : LinkTo::kFile));
    return links_.back()->made();
  }

  TempDir outside_;
  std::vector<std::unique_ptr<PlantedLink>> links_;  // gone before the folders
};

struct LinkCase {
  const char* name;
  std::map<std::string, std::string> before;  // installed normally first (may be empty)
  // Plants the links; false when this system cannot make them.
  std::function<bool(ConfinementTest&)> plant;
  std::map<std::string, std::string> after;  // then published, checked and updated
  const char* through_link;                  // the path that must fail, or nullptr
};

void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kY = MakeContent(70000, 3);

const LinkCase kLinkCases[] = {
    {"FolderLinkForANewEntry",
     {},
     [](ConfinementTest& t) { return t.Link("data", t.outside_.path(), true); },
     {{"data/.bashrc", "rm -rf ~\n"}, {"keep", "k"}},
     "data/.bashrc"},
    {"FolderLinkDeeperDown",
     {},
     [](ConfinementTest& t) { return t.Link("a/b", t.outside_.path(), true); },
     {{"a/b/c/.bashrc", "x"}},
     "a/b/c/.bashrc"},
    {"FolderLinkWhereARecordedFileIsDropped",
     {{"data/.bashrc", "mine"}, {"keep", "k"}},
     [](ConfinementTest& t) { return t.Link("data", t.outside_.path(), true); },
     {{"keep", "k"}},
     nullptr},
    {"PartialFileThatIsALink",
     {},
     [](ConfinementTest& t) { return t.Link("y.pak.bpart", t.outside_.Sub("victim"), false); },
     {{"y.pak", kY}},
     nullptr},
    {"PartialFileWithAnotherNameOutside",
     {},
     [](ConfinementTest& t) {
       std::error_code error;
       fs::create_hard_link(FsPath(t.outside_.Sub("victim")), FsPath(t.InstallPath("y.pak.bpart")),
                            error);
       return !error;
     },
     {{"y.pak", kY}},
     nullptr},
    {"TargetThatIsALink",
     {},
     [](ConfinementTest& t) { return t.Link("y.pak", t.outside_.Sub("victim"), false); },
     {{"y.pak", kY}},
     nullptr},
    {"RecordedFileReplacedByALinkThenDropped",
     {{"old.bin", "o"}, {"keep", "k"}},
     [](ConfinementTest& t) { return t.Link("old.bin", t.outside_.Sub("victim"), false); },
     {{"keep", "k"}},
     nullptr},
    {"StateFileTemporaryNameIsALink",
     {},
     [](ConfinementTest& t) {
       return t.Link(".brisal_state.json.tmp", t.outside_.Sub("victim"), false);
     },
     {{"y.pak", kY}},
     nullptr},
    // Links to what the folder itself holds.
    {"FolderLinkToAFolderInside",
     {{"real/a.pak", "A"}},
     [](ConfinementTest& t) { return t.Link("data", t.InstallPath("real"), true); },
     {{"real/a.pak", "A"}, {"data/a.pak", "B"}},
     "data/a.pak"},
    {"FolderLinkToAFolderInsideWhereARecordedFileIsDropped",
     {{"old/x.bin", "o"}, {"keep/x.bin", "k"}},
     [](ConfinementTest& t) { return t.Link("old", "keep", true); },
     {{"keep/x.bin", "k"}},
     nullptr},
    {"FolderLinkToAFolderInsideWhereAnEntryIsUpdated",
     {{"real/keep", "k"}, {"data/keep", "old"}},
     [](ConfinementTest& t) { return t.Link("data", t.InstallPath("real"), true); },
     {{"real/keep", "k"}, {"data/keep", "new"}},
     "data/keep"},
    {"PartialFileThatLinksToAFileInside",
     {{"a.pak", "A"}},
     [](ConfinementTest& t) { return t.Link("y.pak.bpart", "a.pak", false); },
     {{"a.pak", "A"}, {"y.pak", kY}},
     nullptr},
    {"TargetThatLinksToAFileInside",
     {{"a.pak", "A"}},
     [](ConfinementTest& t) { return t.Link("y.pak", "a.pak", false); },
     {{"a.pak", "A"}, {"y.pak", kY}},
     nullptr},
    {"RecordedFileReplacedByALinkInsideThenDropped",
     {{"old.bin", "o"}, {"keep", "k"}},
     [](ConfinementTest& t) { return t.Link("old.bin", "keep", false); },
     {{"keep", "k"}},
     nullptr},
};

// Windows has one way down the folder; POSIX also the walk.
#ifdef _WIN32
const bool kWalkToo[] = {false};
#else
const bool kWalkToo[] = {false, true};
#endif

TEST_P(ConfinementTest, NothingIsEverChangedThroughALink) {
  const LinkCase& c = std::get<0>(GetParam());
  std::optional<WalkInstead> walk;
  if (std::get<1>(GetParam())) walk.emplace();
  const auto outside_before = Contents(outside_.path());
  if (!c.before.empty()) {
    Publish(c.before, "r1", "\"m1\"");
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  }
  if (!c.plant(*this)) GTEST_SKIP() << "this system cannot make links";

  Publish(c.after, "r2", "\"m2\"");
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);

  EXPECT_EQ(Contents(outside_.path()), outside_before);
  // What both revisions list alike is never touched, whatever linked to it.
  for (const auto& [path, content] : c.before) {
    const auto kept = c.after.find(path);
    if (kept != c.after.end() && kept->second == content) {
      EXPECT_TRUE(Installed(path) == content) << path;
    }
  }
  if (c.through_link != nullptr) {
    EXPECT_EQ(Phase(), UpdatePhase::kFailed);
    EXPECT_EQ(StatusCode(), MessageCode::kThroughLink);
    EXPECT_EQ(Status(), Sentence(Message(MessageCode::kThroughLink, c.through_link)));
  } else {
    ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    for (const auto& [path, content] : c.after)
      EXPECT_TRUE(Installed(path) == content) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, ConfinementTest,
                         ::testing::Combine(::testing::ValuesIn(kLinkCases),
                                            ::testing::ValuesIn(kWalkToo)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Walk" : "");
                         });

// The moment a change holds the folder it acts in open and is about to act on the name
// there, "data" is moved aside and a link to a folder outside takes its place. The
// change goes on in the folder it opened, or refuses the link: never through it.
class SwapForALink : public FileOpObserver {
 public:
  SwapForALink(FileOp op, std::string folder, std::string outside)
      : op_(op), folder_(std::move(folder)), outside_(std::move(outside)) {
    SetFileOpObserver(this);
  }
  ~SwapForALink() override { SetFileOpObserver(nullptr); }
  SwapForALink(const SwapForALink&) = delete;
  SwapForALink& operator=(const SwapForALink&) = delete;
  bool Allow(FileOp) override { return true; }
  void FolderOpened(FileOp op) override {
    if (op != op_ || link_) return;
    std::error_code error;
    fs::rename(FsPath(folder_), FsPath(folder_ + "-moved"), error);
    if (!error) link_.emplace(folder_, outside_);
  }
  bool swapped() const { return link_ && link_->made(); }

 private:
  const FileOp op_;
  const std::string folder_, outside_;
  std::optional<PlantedLink> link_;
};

// Wine renames by path names, so there the swap is found and the rename refused.
#ifdef _WIN32
constexpr TreeResult kReplaceAfterSwap = TreeResult::kLink;
#else
constexpr TreeResult kReplaceAfterSwap = TreeResult::kDone;
#endif

TEST(InstallTreeTest, AFolderSwappedForALinkAfterItIsOpenedIsNeverFollowed) {
  struct Case {
    const char* name;
    FileOp op;
    std::function<TreeResult(const InstallTree&)> act;
    TreeResult expected;
  };
  const Case cases[] = {
      {"RemoveFile", FileOp::kDelete, [](const InstallTree& t) { return t.RemoveFile("data/x"); },
       TreeResult::kDone},
      {"RemoveFolder", FileOp::kDelete,
       [](const InstallTree& t) { return t.RemoveFolder("data/empty"); }, TreeResult::kDone},
      {"Replace", FileOp::kRename,
       [](const InstallTree& t) { return t.Replace("data/x.bpart", "data/x"); },
       kReplaceAfterSwap},
      {"OpenPartial", FileOp::kOpen,
       [](const InstallTree& t) {
         File file;
         const TreeResult r = t.OpenPartial("data/x", file);
         return r == TreeResult::kDone && file.WriteAll("evil", 4) ? r : TreeResult::kFailed;
       },
       TreeResult::kDone},
      // Swapped before the first folder is even opened: the open refuses the link.
      {"CreateParents", FileOp::kCreateFolder,
       [](const InstallTree& t) { return t.CreateParents("data/sub/y"); }, TreeResult::kLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir install, outside;
    for (const TempDir* dir : {&install, &outside}) {
      WriteFile(dir->Sub("data/x"), dir == &install ? "mine" : "precious");
      WriteFile(dir->Sub("data/x.bpart"), "new");
      fs::create_directory(FsPath(dir->Sub("data/empty")));
    }
    const auto outside_before = Contents(outside.path());
    const InstallTree tree(install.path());
    SwapForALink swap(c.op, install.Sub("data"), outside.Sub("data"));
    const TreeResult result = c.act(tree);
    if (!swap.swapped()) GTEST_SKIP() << "this system cannot make links";
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(Contents(outside.path()), outside_before);
  }
}

}  // namespace
}  // namespace brisal::testing
