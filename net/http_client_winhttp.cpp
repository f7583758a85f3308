// WinHTTP backend of the HTTP client: one synchronous session and connection per
// client, one request handle per Get.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <vector>

#include "core/text.h"
#include "net/http_client.h"

namespace brisal {

namespace {

struct InternetHandleCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr DWORD kReadChunk = 65536;
constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 2048;

// Header values are read into a 256-byte buffer: 127 characters and the terminator.
// A longer value is treated as absent.
bool QueryTextHeader(HINTERNET request, DWORD query, std::wstring& value) {
  wchar_t buffer[128];
  DWORD size = sizeof buffer;
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  value.assign(buffer, size / sizeof(wchar_t));
  return true;
}

// Wine's WinHTTP reports a read that timed out with the socket's own number.
DWORD TransferError(DWORD error) {
  return error == WSAETIMEDOUT ? ERROR_WINHTTP_TIMEOUT : error;
}

}  // namespace

struct HttpClient::Impl {
  // Declared session first so that the connection, its child, is closed first.
  InternetHandle session;
  InternetHandle connection;
  bool secure = false;
  std::string base_path;  // UTF-8, ends in "/"
  std::vector<char> buffer;
  HttpLimits limits;

  void Close() {
    connection.reset();
    session.reset();
  }
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {}
HttpClient::~HttpClient() = default;

bool HttpClient::Open(const std::string& base_url) {
  Impl& impl = *impl_;
  impl.Close();

  std::wstring url = Utf8ToWide(base_url);
  wchar_t host[kHostChars];
  wchar_t path[kPathChars];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostChars;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathChars;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return false;
  }
  impl.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  std::string base_path = WideToUtf8(std::wstring(path, parts.dwUrlPathLength));
  if (base_path.empty() || base_path.back() != '/') base_path.push_back('/');
  impl.base_path = base_path;

  InternetHandle session(WinHttpOpen(L"BrisalLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return false;
  // TLS 1.1 to 1.3, as the curl backend offers; a system without 1.3 refuses the whole
  // set, so it then gets 1.1 and 1.2.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 |
                    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                        sizeof protocols)) {
    protocols &= ~static_cast<DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3);
    WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                     sizeof protocols);
  }

  InternetHandle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
  if (!connection) return false;
  impl.session = std::move(session);
  impl.connection = std::move(connection);
  return true;
}

void HttpClient::SetLimits(const HttpLimits& limits) {
  impl_->limits = limits;
}

void HttpClient::SetTrustedCaFile(const std::string&) {}

HttpResult HttpClient::Get(const std::string& path, const std::string& extra_headers,
                           const ResponseCallback& on_response, const BodySink& on_data,
                           const std::atomic<bool>* cancel) {
  Impl& impl = *impl_;
  HttpResult result;
  if (!impl.connection) {
    result.error = http_error::kIncorrectHandleState;
    return result;
  }

  // Acquire is not needed: the flag carries no data with it, only the request to stop.
  auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
  if (cancelled()) {
    result.aborted = true;
    return result;
  }

  std::wstring object = Utf8ToWide(BuildObjectName(impl.base_path, path));
  InternetHandle request(WinHttpOpenRequest(impl.connection.get(), L"GET", object.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            impl.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    result.error = GetLastError();
    return result;
  }

  // Every wait of the request is cut to what is left before the deadline, so the
  // platform's own time-out ends the request there.
  const HttpLimits& limits = impl.limits;
  const Clock::time_point start = Clock::now();
  auto within = [&](Millis limit) -> int {
    if (limits.deadline.count() > 0) {
      const auto left = limits.deadline - std::chrono::duration_cast<Millis>(Clock::now() - start);
      limit = std::min(limit, std::max(left, Millis(1)));
    }
    return static_cast<int>(std::min<Millis::rep>(limit.count(), 0x7FFFFFFF));
  };
  WinHttpSetTimeouts(request.get(), within(limits.resolve), within(limits.connect),
                     within(limits.send), within(limits.receive));
  // The headers of an answer are small: they must all have come within the receive
  // limit, which also ends a server that trickles them.
  DWORD all_headers = static_cast<DWORD>(within(limits.receive));
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &all_headers,
                   sizeof all_headers);

  std::wstring headers = Utf8ToWide(extra_headers);
  BOOL sent = headers.empty()
                  ? WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
                  : WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  if (!sent || !WinHttpReceiveResponse(request.get(), nullptr)) {
    result.error = TransferError(GetLastError());
    return result;
  }
  // A cancel that came while the request waited ends it before anything is delivered.
  if (cancelled()) {
    result.aborted = true;
    return result;
  }

  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                          WINHTTP_NO_HEADER_INDEX)) {
    result.status = status;
  }
  std::wstring value;
  if (QueryTextHeader(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, value)) {
    result.has_content_length = true;
    result.content_length = std::wcstoull(value.c_str(), nullptr, 10);
  }
  if (QueryTextHeader(request.get(), WINHTTP_QUERY_ETAG, value)) result.etag = WideToUtf8(value);

  if (on_response && !on_response(result)) {
    result.aborted = true;
    return result;
  }
  if ((result.status != 200 && result.status != 206) || !on_data) return result;

  // The buffer outlives the request so that a worker fetching many files allocates once.
  if (impl.buffer.empty()) impl.buffer.resize(kReadChunk);
  std::uint64_t received = 0;
  std::uint64_t window_received = 0;
  Clock::time_point window_start = Clock::now();
  for (;;) {
    if (cancelled()) {
      result.aborted = true;
      break;
    }
    if (limits.deadline.count() > 0) {
      DWORD receive = static_cast<DWORD>(within(limits.receive));
      WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    }
    // Only what has arrived is read: a read for more can wait for the buffer to fill
    // (Wine's does) while a trickle keeps it alive, out of reach of the checks below.
    DWORD available = 0;
    DWORD read = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available) ||
        (available > 0 && !WinHttpReadData(request.get(), impl.buffer.data(),
                                           std::min(available, kReadChunk), &read))) {
      result.error = TransferError(GetLastError());
      break;
    }
    if (read == 0) {
      // Some WinHTTP versions take a connection closed before the announced length
      // for the end of the body; a cut file must not pass for a complete one.
      if (result.has_content_length && received < result.content_length) {
        result.error = ERROR_WINHTTP_CONNECTION_ERROR;
      }
      break;
    }
    received += read;
    if (!on_data(impl.buffer.data(), read)) {
      result.aborted = true;
      break;
    }
    // A trickle of a byte now and then passes every receive time-out; it must not
    // hold a job forever.
    const Clock::time_point now = Clock::now();
    if (limits.low_speed_bytes > 0 && now - window_start >= limits.low_speed_window) {
      if (received - window_received < limits.low_speed_bytes) {
        result.error = ERROR_WINHTTP_TIMEOUT;
        break;
      }
      window_start = now;
      window_received = received;
    }
    if (limits.deadline.count() > 0 && now - start >= limits.deadline) {
      result.error = ERROR_WINHTTP_TIMEOUT;
      break;
    }
  }
  return result;
}

}  // namespace brisal
