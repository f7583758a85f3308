// libcurl backend of the HTTP client. It behaves as the WinHTTP backend does, seen
// from the caller: the same request target, redirects followed, the response callback
// given only the final response's headers, bodies read only for 200 and 206, and
// every failure reported with the WinHTTP error number of the same meaning.
#include <curl/curl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "core/free_with.h"
#include "net/http_client.h"

namespace brisal {

namespace {

using Clock = std::chrono::steady_clock;

using CurlEasy = OwningPtr<CURL, curl_easy_cleanup>;
using CurlUrl = OwningPtr<CURLU, curl_url_cleanup>;
using CurlSlist = OwningPtr<curl_slist, curl_slist_free_all>;
using CurlString = OwningPtr<char, curl_free>;

constexpr std::size_t kChunk = 65536;
// WinHTTP's cracking buffers: 256 and 2,048 wide characters with the terminator.
constexpr std::size_t kMaxHostUnits = 255;
constexpr std::size_t kMaxPathUnits = 2047;
// WinHTTP reads header values into 256 bytes of UTF-16 with the terminator; longer
// values are absent there, so they are here too.
constexpr std::size_t kMaxHeaderValue = 127;

void InitCurlOnce() {
  // curl_global_init is not thread-safe on every build; jobs may open clients at once.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string GetUrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return {};
  CurlString owner(text);
  return text;
}

// WinHTTP escapes what cannot appear in a request line (spaces, controls, 8-bit
// bytes) in the object name it is given; curl would refuse such a URL or cut it at a
// "#", so the request target is escaped the same way before curl sees it.
std::string EscapeForRequestLine(const std::string& target) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(target.size());
  for (char c : target) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || byte == '#') {
      escaped.push_back('%');
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0x0F]);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  const char* kSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

// Headers of one response while they arrive; redirects and interim responses each
// start a new one.
struct ResponseHead {
  std::uint32_t status = 0;
  bool has_content_length = false;
  std::uint64_t content_length = 0;
  std::string etag;
  std::string retry_after;  // the value as sent; read only for 503 and 429
  bool has_location = false;
  bool location_is_http = false;  // names a plain "http:" address
  bool chunked = false;           // curl then reads the body by its chunks, not its length
};

// Whether a Transfer-Encoding value names "chunked" among its comma-separated codings.
bool NamesChunked(std::string_view value) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    if (EqualsIgnoreCase(Trim(value.substr(0, comma)), "chunked")) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

// State of one Get, shared with curl's callbacks.
struct Transfer {
  const ResponseCallback* on_response = nullptr;
  const BodySink* on_data = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  CURL* easy = nullptr;
  HttpLimits limits;
  bool decoding = false;  // curl decodes a gzip body before the sink sees it
  HttpResult result;

  ResponseHead head;  // the response whose headers are arriving
  bool head_complete = false;
  bool responded = false;     // the response callback has run (or would have)
  bool reading_body = false;  // 200/206 with a sink that the callback let through
  std::uint64_t delivered = 0;  // body bytes handed to the sink
  bool stopped = false;       // we ended the transfer on purpose: not a failure
  bool timed_out = false;
  bool downgrade_refused = false;
  Clock::time_point last_activity = Clock::now();
  curl_off_t last_received = 0;
  // Header and body bytes so far, and where the current low-speed window began.
  std::uint64_t moved = 0;
  std::uint64_t window_moved = 0;
  Clock::time_point window_start = Clock::now();

  bool Cancelled() const {
    // Relaxed is enough: the flag carries no data with it, only the request to stop.
    return cancel && cancel->load(std::memory_order_relaxed);
  }

  // Publishes the final response's headers and runs the response callback once.
  bool Respond() {
    responded = true;
    result.status = head.status;
    // A decoded body is longer than the length announced for its encoded form.
    result.has_content_length = head.has_content_length && !head.chunked && !decoding;
    result.content_length = result.has_content_length ? head.content_length : 0;
    result.etag = head.etag;
    if (result.status == 503 || result.status == 429) {
      result.retry_after = ParseRetryAfterNow(head.retry_after);
    }
    if (on_response && *on_response && !(*on_response)(result)) {
      result.aborted = true;
      stopped = true;
      return false;
    }
    reading_body = (result.status == 200 || result.status == 206) && on_data && *on_data;
    return true;
  }

  // A redirect curl is about to follow must not reach the caller; whether it follows
  // is only certain when the next status line arrives, so 3xx with a Location answers
  // late (after the transfer or at the first body byte) instead of at their blank line.
  bool HeadIsFinal() const {
    if (head.status < 200) return false;
    return !(head.status >= 300 && head.status < 400 && head.has_location);
  }

  // Whether the request under way went out over HTTPS (redirects included). A scheme
  // is read in any letter case, as curl reads it.
  bool OnHttps() const {
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    return url && std::strlen(url) >= 6 && EqualsIgnoreCase(std::string_view(url, 6), "https:");
  }

  bool FollowingRedirect() const {
    return head_complete && head.status >= 300 && head.status < 400 && head.has_location;
  }

  void Header(std::string_view line) {
    // curl takes the status line's "HTTP/" in any letter case.
    if (line.size() >= 5 && EqualsIgnoreCase(line.substr(0, 5), "HTTP/")) {
      head = ResponseHead();
      head_complete = false;
      const std::size_t space = line.find(' ');
      if (space != std::string_view::npos) {
        std::uint32_t status = 0;
        std::size_t i = space + 1;
        for (; i < line.size() && i < space + 4 && line[i] >= '0' && line[i] <= '9'; ++i) {
          status = status * 10 + static_cast<std::uint32_t>(line[i] - '0');
        }
        if (i == space + 4) head.status = status;
      }
      return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    // No space may stand between a name and its colon; curl ignores such a line, and
    // so must this parser, or the two would disagree on the body's length.
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsIgnoreCase(name, "Content-Length")) {
      if (value.size() > kMaxHeaderValue) return;
      head.has_content_length = true;
      head.content_length = std::strtoull(std::string(value).c_str(), nullptr, 10);
    } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      head.chunked = head.chunked || NamesChunked(value);
    } else if (EqualsIgnoreCase(name, "ETag")) {
      if (value.size() <= kMaxHeaderValue) head.etag = std::string(value);
    } else if (EqualsIgnoreCase(name, "Retry-After")) {
      if (value.size() <= kMaxHeaderValue) head.retry_after = std::string(value);
    } else if (EqualsIgnoreCase(name, "Location")) {
      head.has_location = !value.empty();  // curl does not follow an empty one
      head.location_is_http = value.size() >= 5 && EqualsIgnoreCase(value.substr(0, 5), "http:");
    }
  }
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.last_activity = Clock::now();
  transfer.moved += length;
  // Trailers of a chunked body are not the response's headers.
  if (transfer.responded) return length;
  const std::string_view line(data, length);
  // curl ends the headers only at a line that starts with CR or LF; " \r\n" is a header.
  if (line.empty() || line[0] == '\r' || line[0] == '\n') {
    transfer.head_complete = true;
    if (transfer.FollowingRedirect() && transfer.head.location_is_http && transfer.OnHttps()) {
      // WinHTTP's policy, hop by hop: an address reached over HTTPS never sends the
      // launcher on over plain HTTP, whatever scheme the base URL had.
      transfer.downgrade_refused = true;
      return 0;
    }
    if (transfer.HeadIsFinal() && !transfer.Respond()) return 0;
    return length;
  }
  transfer.Header(line);
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.last_activity = Clock::now();
  transfer.moved += length;
  if (!transfer.responded && !transfer.Respond()) return 0;
  if (!transfer.reading_body) {
    // Bodies of other answers are never read; ending here also spares the bandwidth.
    transfer.stopped = true;
    return 0;
  }
  for (std::size_t offset = 0; offset < length; offset += kChunk) {
    if (transfer.Cancelled()) {
      transfer.result.aborted = true;
      transfer.stopped = true;
      return 0;
    }
    const std::size_t piece = std::min(kChunk, length - offset);
    if (!(*transfer.on_data)(data + offset, static_cast<std::uint32_t>(piece))) {
      transfer.result.aborted = true;
      transfer.stopped = true;
      return 0;
    }
    transfer.delivered += piece;
  }
  return length;
}

// Whether the transfer has moved too little in a whole low-speed window; each window
// that passes starts the next one.
bool TooSlow(Transfer& transfer, Clock::time_point now) {
  const HttpLimits& limits = transfer.limits;
  if (limits.low_speed_bytes == 0 || now - transfer.window_start < limits.low_speed_window) {
    return false;
  }
  if (transfer.moved - transfer.window_moved < limits.low_speed_bytes) return true;
  transfer.window_start = now;
  transfer.window_moved = transfer.moved;
  return false;
}

// Runs about once a second while the transfer waits, so a cancel is seen even when no
// data arrives, and the receive time-out is measured from the last byte.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const Clock::time_point now = Clock::now();
  if (received != transfer.last_received) {
    transfer.last_received = received;
    transfer.last_activity = now;
  }
  // At any moment: resolving, connecting, in the TLS handshake, waiting for headers.
  if (transfer.Cancelled()) {
    transfer.result.aborted = true;
    transfer.stopped = true;
    return 1;
  }
  if (now - transfer.last_activity > transfer.limits.receive || TooSlow(transfer, now)) {
    transfer.timed_out = true;
    return 1;
  }
  return 0;
}

// Called once a connection is ready, before each request is sent (redirects too): the
// time spent resolving and connecting has its own limit.
int OnConnected(void* user, char*, char*, int, int) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  transfer.last_activity = Clock::now();
  if (transfer.Cancelled()) {
    transfer.result.aborted = true;
    transfer.stopped = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

bool CurlUsesOpenSsl() {
  static const bool openssl = [] {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && std::strncmp(info->ssl_version, "OpenSSL", 7) == 0;
  }();
  return openssl;
}

std::uint32_t CertificateError(CURL* easy) {
  if (!CurlUsesOpenSsl()) return http_error::kSecureInvalidCa;
  long verify = X509_V_OK;
  curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
  switch (verify) {
    case X509_V_OK:  // the chain was good: curl's own host name check failed
    case X509_V_ERR_HOSTNAME_MISMATCH:
      return http_error::kSecureCertCnInvalid;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return http_error::kSecureCertDateInvalid;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return http_error::kSecureInvalidCa;
    default:
      return http_error::kSecureInvalidCert;
  }
}

std::uint32_t WinHttpError(CURLcode code, CURL* easy) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_OPERATION_TIMEDOUT:
      return http_error::kTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return http_error::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return http_error::kCannotConnect;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return http_error::kConnectionError;
    case CURLE_PEER_FAILED_VERIFICATION:
      return CertificateError(easy);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_USE_SSL_FAILED:
      return http_error::kSecureFailure;
    case CURLE_SSL_INVALIDCERTSTATUS:
      return http_error::kSecureInvalidCert;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:  // only a redirect can name another scheme
      return http_error::kRedirectFailed;
    case CURLE_URL_MALFORMAT:
      return http_error::kInvalidUrl;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_RANGE_ERROR:
      return http_error::kInvalidServerResponse;
    default:
      return http_error::kInternalError;
  }
}

// A server that sends more than it announced leaves bytes waiting on an idle
// keep-alive connection; curl would read them as the start of the next answer.
bool ConnectionHasLeftovers(CURL* easy) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
      socket == CURL_SOCKET_BAD) {
    return false;
  }
  pollfd waiting{};
  waiting.fd = socket;
  waiting.events = POLLIN;
  return poll(&waiting, 1, 0) > 0;
}

// A copy of the handle has every option but none of the open connections; the old
// handle closes them when it goes.
void DropConnections(CurlEasy& easy) {
  CurlEasy fresh(curl_easy_duphandle(easy.get()));
  if (fresh) easy = std::move(fresh);
}

// "A: 1\r\nB: 2\r\n" -> curl's list of header lines.
CurlSlist HeaderList(const std::string& extra_headers) {
  CurlSlist list;
  std::size_t start = 0;
  while (start < extra_headers.size()) {
    std::size_t end = extra_headers.find('\n', start);
    if (end == std::string::npos) end = extra_headers.size();
    std::string line = extra_headers.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    // On failure curl leaves the list as it was and returns null.
    curl_slist* head = list.release();
    curl_slist* appended = curl_slist_append(head, line.c_str());
    list.reset(appended ? appended : head);
  }
  return list;
}

}  // namespace

struct HttpClient::Impl {
  // One easy handle for the client's life: curl keeps the connection to the server
  // open inside it between requests.
  CurlEasy easy;
  std::string origin;     // "scheme://host[:port]"
  std::string base_path;  // ends in "/"
  HttpLimits limits;
  std::string ca_file;  // empty: the system's trusted certificates
  bool accept_compressed = false;
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {}
HttpClient::~HttpClient() = default;

bool HttpClient::Open(const std::string& base_url) {
  Impl& impl = *impl_;
  impl.easy.reset();
  InitCurlOnce();

  CurlUrl url(curl_url());
  if (!url) return false;
  if (curl_url_set(url.get(), CURLUPART_URL, base_url.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return false;
  }
  const std::string scheme = GetUrlPart(url.get(), CURLUPART_SCHEME);
  const bool secure = scheme == "https";
  if (scheme != "http" && !secure) return false;
  std::string base_path = GetUrlPart(url.get(), CURLUPART_PATH);
  if (Utf16Units(GetUrlPart(url.get(), CURLUPART_HOST)) > kMaxHostUnits ||
      Utf16Units(base_path) > kMaxPathUnits) {
    return false;
  }
  if (base_path.empty() || base_path.back() != '/') base_path.push_back('/');

  // The scheme, host and port alone: credentials, query and fragment of the base URL
  // are not part of any request.
  for (CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS, CURLUPART_QUERY,
                         CURLUPART_FRAGMENT}) {
    curl_url_set(url.get(), part, nullptr, 0);
  }
  if (curl_url_set(url.get(), CURLUPART_PATH, "/", 0) != CURLUE_OK) return false;
  std::string origin = GetUrlPart(url.get(), CURLUPART_URL);
  if (origin.empty() || origin.back() != '/') return false;
  origin.pop_back();

  CurlEasy easy(curl_easy_init());
  if (!easy) return false;
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_USERAGENT, "BrisalLauncher/1.0");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // WinHTTP's default redirect policy: follow, but never from HTTPS down to HTTP.
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_1));
  if (!impl.ca_file.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, impl.ca_file.c_str());
    curl_easy_setopt(e, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  // The request target is built exactly; "." and ".." segments go to the server as is.
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  // A proxy tunnel's own "200 Connection established" is not the server's answer.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kChunk));
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

  impl.easy = std::move(easy);
  impl.origin = std::move(origin);
  impl.base_path = std::move(base_path);
  return true;
}

void HttpClient::SetLimits(const HttpLimits& limits) {
  impl_->limits = limits;
}

void HttpClient::SetTrustedCaFile(const std::string& pem_path) {
  impl_->ca_file = pem_path;
}

void HttpClient::SetAcceptCompressed(bool accept) {
  impl_->accept_compressed = accept;
}

HttpResult HttpClient::Get(const std::string& path, const std::string& extra_headers,
                           const ResponseCallback& on_response, const BodySink& on_data,
                           const std::atomic<bool>* cancel) {
  Impl& impl = *impl_;
  if (!impl.easy) {
    HttpResult result;
    result.error = http_error::kIncorrectHandleState;
    return result;
  }
  if (cancel && cancel->load(std::memory_order_relaxed)) {
    HttpResult result;
    result.aborted = true;
    return result;
  }
  CURL* e = impl.easy.get();

  Transfer transfer;
  transfer.on_response = &on_response;
  transfer.on_data = &on_data;
  transfer.cancel = cancel;
  transfer.easy = e;
  transfer.limits = impl.limits;
  transfer.decoding = impl.accept_compressed;

  const std::string url = impl.origin + EscapeForRequestLine(BuildObjectName(impl.base_path, path));
  CurlSlist headers = HeaderList(extra_headers);
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  // Null turns decoding off again on the reused handle: a file's bytes stay as sent.
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING,
                   impl.accept_compressed ? "gzip" : static_cast<const char*>(nullptr));
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, &transfer);
  // curl times name resolution and connection (with the TLS handshake) as one phase,
  // so it gets both budgets; the deadline covers every phase.
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>((impl.limits.resolve + impl.limits.connect).count()));
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(impl.limits.deadline.count()));

  const CURLcode code = curl_easy_perform(e);
  // Nothing of this request may outlive it inside the reused handle.
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));

  HttpResult& result = transfer.result;
  if (code == CURLE_OK) {
    // A body-less answer, or a redirect curl did not follow: its callback is still due.
    if (!transfer.responded && transfer.head_complete) transfer.Respond();
    // WinHTTP's read loop tests the flag once more before the read that finds the end.
    if (transfer.reading_body && !result.aborted && transfer.Cancelled()) result.aborted = true;
    // curl measures the body by the length it read itself; wherever garbled headers make
    // the two readings differ, the body the caller was promised did not come whole.
    if (transfer.reading_body && !result.aborted && result.has_content_length &&
        transfer.delivered != result.content_length) {
      result.error = http_error::kConnectionError;
    }
  } else if (transfer.timed_out) {
    result.error = http_error::kTimeout;
  } else if (transfer.downgrade_refused) {
    result.error = http_error::kRedirectFailed;
  } else if (!transfer.stopped) {
    result.error = WinHttpError(code, e);
    // curl says "unsupported protocol" both for a redirect to another scheme and for
    // an answer that is not HTTP at all.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && !transfer.FollowingRedirect()) {
      result.error = http_error::kInvalidServerResponse;
    }
  }
  // curl ends without complaint when the server closes before its headers end, and it
  // reads some status lines this parser cannot ("HTTP/1.1 2\xff"); neither is a
  // success with status 0.
  if (result.error == 0 && !result.aborted && (!transfer.responded || result.status == 0)) {
    result.error = http_error::kInvalidServerResponse;
  }
  if (code == CURLE_OK && ConnectionHasLeftovers(e)) DropConnections(impl.easy);
  return result;
}

}  // namespace brisal
