#include "news/news_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "core/paths.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

namespace brisal {

// Readable failure messages for news lists.
inline void PrintTo(const NewsItem& item, std::ostream* os) {
  *os << "{tag=\"" << item.tag << "\", title=\"" << item.title << "\", date=\"" << item.date
      << "\", url=\"" << item.url << "\"}";
}

inline bool operator==(const NewsItem& a, const NewsItem& b) {
  return a.tag == b.tag && a.title == b.title && a.date == b.date && a.url == b.url;
}

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::HttpTestRequest;
using testing::HttpTestResponse;
using testing::HttpTestServer;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Json = nlohmann::json;

fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

Json Item(const std::string& title, const std::string& url = "https://brisal.example/n") {
  return Json{{"tag", "Evento"}, {"title", title}, {"date", "12/03"}, {"url", url}};
}

NewsItem Expected(const std::string& title, const std::string& url = "https://brisal.example/n") {
  return NewsItem{"Evento", title, "12/03", url};
}

class NewsJobTest : public ::testing::Test {
 protected:
  NewsJobTest() {
    OverrideDataFolder(data_.path());
    state_.handover.current.base_url = server_.Url("/brisal/");
    state_.handover.current.news = "news.json";
    state_.notify = [this] { ++notified_; };
  }

  void Serve(const std::string& body) { server_.AddFile("/brisal/news.json", body); }
  void ServeStatus(int status, const std::string& body = {}) {
    server_.SetHandler("/brisal/news.json", [status, body](const HttpTestRequest&) {
      return HttpTestResponse::WithStatus(status, body);
    });
  }

  // A cache file dated long ago, so any rewrite shows in its time as well as its bytes.
  void SeedCache(const std::string& body) {
    WriteFile(CachePath(), body);
    fs::last_write_time(FsPath(CachePath()), kOldTime);
    // As the file system stores it (Windows keeps 100 ns steps).
    seeded_time_ = fs::last_write_time(FsPath(CachePath()));
  }
  void ExpectCacheUntouched(const std::string& body) {
    EXPECT_EQ(ReadFile(CachePath()), body);
    EXPECT_TRUE(fs::last_write_time(FsPath(CachePath())) == seeded_time_)
        << "the cache was rewritten";
  }
  std::string CachePath() const { return JoinPath(data_.path(), "news.cache.json"); }

  // Runs the job as the job runner does, on this thread.
  void Run() {
    RunJobWrapped(state_, JobKind::kConcurrent, [this] { RunNewsJob(state_); });
  }

  std::vector<NewsItem> News() { return CopyNews(state_); }

  int NewsRequests() const {
    int count = 0;
    for (const HttpTestRequest& request : server_.Requests()) {
      if (request.target == "/brisal/news.json") ++count;
    }
    return count;
  }

  std::string LogText() const { return ReadFile(JoinPath(data_.path(), "launcher.log")); }

  static inline const fs::file_time_type kOldTime =
      fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

  fs::file_time_type seeded_time_;
  TempDir data_;
  HttpTestServer server_;
  LauncherState state_;
  std::atomic<int> notified_{0};
};

TEST_F(NewsJobTest, BareArrayIsPublishedInOrderAndCachedAsSent) {
  const std::string body =
      "[ {\"tag\": \"Parche\", \"title\": \"Versi\xC3\xB3n 1.2\", \"date\": \"01/02/2026\","
      " \"url\": \"https://brisal.example/1.2\"},\n"
      "  {\"title\": \"Solo t\xC3\xADtulo\"},\n"
      "  {\"title\": \"Mantenimiento\", \"url\": \"http://brisal.example/m\", \"extra\": 7} ]";
  Serve(body);
  Run();

  EXPECT_THAT(News(), ElementsAre(NewsItem{"Parche", "Versi\xC3\xB3n 1.2", "01/02/2026",
                                           "https://brisal.example/1.2"},
                                  NewsItem{"", "Solo t\xC3\xADtulo", "", ""},
                                  NewsItem{"", "Mantenimiento", "", "http://brisal.example/m"}));
  EXPECT_EQ(notified_, 1);
  EXPECT_EQ(ReadFile(CachePath()), body);
  ASSERT_EQ(NewsRequests(), 1);
  EXPECT_EQ(server_.Requests()[0].Header("Cache-Control"), "no-cache");
  EXPECT_EQ(LogText(), "<missing>") << "the news job logs nothing of its own";
}

TEST_F(NewsJobTest, ObjectFeedYieldsTheFirstEightItems) {
  Json items = Json::array();
  for (int i = 1; i <= 10; ++i)
    items.push_back(Item("Noticia " + std::to_string(i)));
  const std::string body = Json{{"version", 2}, {"news", items}}.dump(2);
  Serve(body);
  Run();

  std::vector<NewsItem> expected;
  for (int i = 1; i <= 8; ++i)
    expected.push_back(Expected("Noticia " + std::to_string(i)));
  EXPECT_EQ(News(), expected);
  EXPECT_EQ(ReadFile(CachePath()), body);
}

TEST_F(NewsJobTest, ElementsWithoutATitleAreSkippedAndDoNotCount) {
  Json items = Json::array({Json{{"tag", "sin t\xC3\xADtulo"}}, Item(""), 42, "cadena", nullptr,
                            Json::array({Item("anidada")}), Json::object()});
  for (int i = 1; i <= 9; ++i)
    items.push_back(Item("Noticia " + std::to_string(i)));
  Serve(items.dump());
  Run();

  std::vector<NewsItem> expected;
  for (int i = 1; i <= 8; ++i)
    expected.push_back(Expected("Noticia " + std::to_string(i)));
  EXPECT_EQ(News(), expected);
}

TEST_F(NewsJobTest, OnlyWebLinksKeepTheirUrlWithTheSchemeInLowerCase) {
  Serve(Json::array({Item("a", "ftp://brisal.example/x"), Item("b", "brisal.example/x"),
                     Item("c", "HTTPS://brisal.example/x"), Item("d", "Http://brisal.example/x"),
                     Item("e", "javascript:alert(1)"), Item("f", " https://brisal.example/x"),
                     Item("g", "https://brisal.example/x"), Item("h", "http://brisal.example/x")})
            .dump());
  Run();

  EXPECT_THAT(News(), ElementsAre(Expected("a", ""), Expected("b", ""),
                                  Expected("c", "https://brisal.example/x"),
                                  Expected("d", "http://brisal.example/x"), Expected("e", ""),
                                  Expected("f", ""), Expected("g", "https://brisal.example/x"),
                                  Expected("h", "http://brisal.example/x")));
}

TEST_F(NewsJobTest, TextsAreMadeSafeToShow) {
  const std::string r = "\xEF\xBF\xBD";
  Serve(Json::array({Json{{"tag", "\x1B[5mUrgente"},
                          {"title", "Parche\r\n\xE2\x80\xAEtxt.exe " + std::string(300, 't')},
                          {"date", "01/02\xC2\x85"}}})
            .dump());
  Run();
  EXPECT_THAT(News(), ElementsAre(NewsItem{r + "[5mUrgente",
                                           "Parche" + r + r + r + "txt.exe " +
                                               std::string(182, 't') + "\xE2\x80\xA6",
                                           "01/02" + r, ""}));
}

TEST_F(NewsJobTest, FeedOfAnotherShapeChangesNothing) {
  const std::string cached = Json::array({Item("en cach\xC3\xA9")}).dump();
  for (const char* body : {"{\"noticias\": []}", "{\"news\": {\"title\": \"x\"}}", "\"texto\"",
                           "17", "null", "[{\"title\": \"x\"}] // comentario",
                           "{\"news\": [{\"title\": \"x\"}]", "<html>no</html>"}) {
    SCOPED_TRACE(body);
    SeedCache(cached);
    state_.board.news = {Expected("anterior")};
    notified_ = 0;
    Serve(body);
    Run();

    EXPECT_THAT(News(), ElementsAre(Expected("anterior")));
    EXPECT_EQ(notified_, 0);
    ExpectCacheUntouched(cached);
  }
}

TEST_F(NewsJobTest, WithoutAFeedFromTheServerTheCacheIsUsed) {
  const std::string cached =
      Json{{"news", Json::array({Item("en cach\xC3\xA9"), Item("otra", "ftp://x")})}}.dump();
  std::string dead_url;
  {
    HttpTestServer gone;
    dead_url = gone.Url("/brisal/");
  }
  struct Case {
    const char* name;
    std::function<void()> arrange;
  };
  const std::vector<Case> cases = {
      {"304", [&] { ServeStatus(304); }},
      {"404", [&] { ServeStatus(404, "[{\"title\": \"p\xC3\xA1gina de error\"}]"); }},
      {"500", [&] { ServeStatus(500); }},
      {"200 sin cuerpo", [&] { ServeStatus(200); }},
      {"conexion cortada",
       [&] {
         server_.SetHandler("/brisal/news.json", [](const HttpTestRequest&) {
           HttpTestResponse response = HttpTestResponse::WithStatus(200, "[{\"title\": \"x\"}]");
           response.cut_after = 5;
           return response;
         });
       }},
      {"servidor apagado", [&] { state_.handover.current.base_url = dead_url; }},
      {"base_url mal formada",
       [&] { state_.handover.current.base_url = "ftp://127.0.0.1/brisal/"; }},
      {"sin ruta de noticias", [&] { state_.handover.current.news.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_.handover.current.base_url = server_.Url("/brisal/");
    state_.handover.current.news = "news.json";
    state_.board.news.clear();
    notified_ = 0;
    SeedCache(cached);
    c.arrange();
    Run();

    EXPECT_THAT(News(), ElementsAre(Expected("en cach\xC3\xA9"), Expected("otra", "")));
    EXPECT_EQ(notified_, 1);
    ExpectCacheUntouched(cached);
  }
}

TEST_F(NewsJobTest, NoSettingMeansNoRequest) {
  state_.handover.current.news.clear();
  Serve("[]");
  Run();
  EXPECT_EQ(NewsRequests(), 0);
  EXPECT_TRUE(News().empty());
  EXPECT_EQ(notified_, 0) << "no cache, no feed: nothing to publish";
}

TEST_F(NewsJobTest, FreshFeedThatDoesNotParseLeavesTheCacheAlone) {
  const std::string cached = Json::array({Item("en cach\xC3\xA9")}).dump();
  SeedCache(cached);
  Serve("[{\"title\": \"roto\"");
  Run();

  EXPECT_TRUE(News().empty());
  EXPECT_EQ(notified_, 0);
  ExpectCacheUntouched(cached);
}

TEST_F(NewsJobTest, CachedFeedThatDoesNotParseYieldsNothing) {
  SeedCache("[{\"title\": \"roto\"");
  ServeStatus(404);
  state_.board.news = {Expected("anterior")};
  Run();

  EXPECT_THAT(News(), ElementsAre(Expected("anterior")));
  EXPECT_EQ(notified_, 0);
  ExpectCacheUntouched("[{\"title\": \"roto\"");
}

TEST_F(NewsJobTest, BodyIsReadUpToOneMebibyte) {
  // Just under the cap: read whole.
  Json near_cap = Json::array({Item("grande")});
  near_cap[0]["relleno"] = std::string(kNewsBodyCap - 200, 'x');
  ASSERT_LT(near_cap.dump().size(), kNewsBodyCap);
  Serve(near_cap.dump());
  Run();
  EXPECT_THAT(News(), ElementsAre(Expected("grande")));

  // Beyond it: the feed is cut, taken as the server's answer, and fails to parse; the
  // cache is neither used nor replaced.
  const std::string cached = Json::array({Item("en cach\xC3\xA9")}).dump();
  SeedCache(cached);
  state_.board.news.clear();
  Json over_cap = Json::array({Item("enorme")});
  over_cap[0]["relleno"] = std::string(3 * kNewsBodyCap, 'x');
  Serve(over_cap.dump());
  Run();
  EXPECT_TRUE(News().empty());
  ExpectCacheUntouched(cached);
}

TEST_F(NewsJobTest, PendingHandOverWinsOverLiveSettings) {
  Serve(Json::array({Item("nuevo servidor")}).dump());
  JobSettings pending = state_.handover.current;
  state_.handover.current.news = "otra.json";
  HandOverSettings(state_, pending);
  Run();
  EXPECT_THAT(News(), ElementsAre(Expected("nuevo servidor")));
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_TRUE(state_.handover.pending_dirty) << "only an exclusive job takes the hand-over up";
}

TEST_F(NewsJobTest, MemberThatIsNotAStringEndsTheJobThroughTheWrapper) {
  const std::string cached = Json::array({Item("en cach\xC3\xA9")}).dump();
  for (const char* body :
       {"[{\"title\": \"bien\"}, {\"title\": 5}]", "[{\"title\": \"x\", \"url\": null}]",
        "{\"news\": [{\"title\": \"x\", \"tag\": [\"a\"]}]}"}) {
    SCOPED_TRACE(body);
    SeedCache(cached);
    state_.board.news = {Expected("anterior")};
    Serve(body);
    Run();

    EXPECT_THAT(News(), ElementsAre(Expected("anterior")));
    EXPECT_EQ(notified_, 0);
    ExpectCacheUntouched(cached);
  }
  EXPECT_THAT(LogText(), HasSubstr("  excepcion en hilo: [json.exception.type_error.302] type "
                                   "must be string, but is number\r\n"));
  EXPECT_THAT(LogText(), HasSubstr("type must be string, but is null\r\n"));
  EXPECT_THAT(LogText(), HasSubstr("type must be string, but is array\r\n"));
  EXPECT_EQ(CurrentPhase(state_), UpdatePhase::kStarting) << "a concurrent job sets no phase";
}

TEST_F(NewsJobTest, RunsAsAConcurrentJobBesideAnExclusiveOne) {
  Serve(Json::array({Item("a la vez")}).dump());
  std::mutex mutex;
  std::condition_variable published;
  state_.notify = [&] {
    std::lock_guard<std::mutex> guard(mutex);
    ++notified_;
    published.notify_all();
  };
  // An exclusive job holds job_lock for its whole run; the news must not wait for it.
  MutexLock exclusive_job_running(state_.plan.job_lock);
  StartJob(state_, JobKind::kConcurrent, [this] { RunNewsJob(state_); });

  std::unique_lock<std::mutex> lock(mutex);
  ASSERT_TRUE(published.wait_for(lock, std::chrono::seconds(30), [&] { return notified_ > 0; }));
  EXPECT_THAT(News(), ElementsAre(Expected("a la vez")));
}

}  // namespace
}  // namespace brisal
