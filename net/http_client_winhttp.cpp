// WinHTTP backend of the HTTP client: one asynchronous session and connection per
// client, one request handle per Get. Each step of a request (sending, which takes in
// name resolution, connection and the TLS handshake; the wait for headers; each
// read) runs on WinHTTP's threads while the calling thread waits for it and looks at
// the cancel flag, so a cancel ends the request in any phase by closing its handle.
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

#include "core/free_with.h"
#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"

namespace brisal {

namespace {

using InternetHandle = OwningPtr<void, WinHttpCloseHandle>;

void CloseStore(HCERTSTORE store) {
  CertCloseStore(store, 0);
}

using Certificate = OwningPtr<const CERT_CONTEXT, CertFreeCertificateContext>;
using CertificateStore = OwningPtr<void, CloseStore>;
using CertificateChain = OwningPtr<const CERT_CHAIN_CONTEXT, CertFreeCertificateChain>;

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr DWORD kReadChunk = 65536;
// How soon a cancel is seen while a step is under way.
constexpr Millis kCancelPoll{50};
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

// The first certificate of a PEM file; null when there is none.
Certificate LoadPemCertificate(const std::string& path) {
  std::string pem;
  if (!ReadWholeFile(path, pem) || pem.size() > 0x100000) return nullptr;
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    return nullptr;
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der.data(), &size, nullptr, nullptr)) {
    return nullptr;
  }
  return Certificate(
      CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), size));
}

// Whether the certificate the server of `request` showed, if any, chains up to `ca`,
// with every signature and date of the chain valid. WinHTTP was told to let an unknown
// root pass and still checks the host name and dates itself; this is what makes the
// root known. A hop over plain HTTP shows none (Wine cannot tell a request's URL
// after a redirect, so the certificate's absence is what tells the hop's scheme).
bool ChainEndsAt(HINTERNET request, PCCERT_CONTEXT ca) {
  PCCERT_CONTEXT shown = nullptr;
  DWORD size = sizeof shown;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &shown, &size) || !shown) {
    return true;
  }
  Certificate server(shown);
  CertificateStore extra(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!extra ||
      !CertAddCertificateContextToStore(extra.get(), ca, CERT_STORE_ADD_ALWAYS, nullptr)) {
    return false;
  }
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(nullptr, server.get(), nullptr, extra.get(), &para,
                               CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
    return false;
  }
  CertificateChain chain(built);
  // The root is trusted here, not by the system; nothing else may be wrong.
  if ((chain->TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0 ||
      chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    return false;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  PCCERT_CONTEXT root = simple.rgpElement[simple.cElement - 1]->pCertContext;
  return root->cbCertEncoded == ca->cbCertEncoded &&
         std::memcmp(root->pbCertEncoded, ca->pbCertEncoded, ca->cbCertEncoded) == 0;
}

// The certificate error that the flags of a secure failure stand for; 0 when the
// failure lay elsewhere (the TLS channel itself). Windows reports every one of them
// as 12175 and Wine as 12157; the flags tell the player's sentence.
DWORD CertificateError(DWORD flags) {
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return ERROR_WINHTTP_SECURE_INVALID_CA;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
    return ERROR_WINHTTP_SECURE_CERT_CN_INVALID;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) {
    return ERROR_WINHTTP_SECURE_CERT_DATE_INVALID;
  }
  if (flags &
      (WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT | WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED |
       WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED |
       WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE)) {
    return ERROR_WINHTTP_SECURE_INVALID_CERT;
  }
  return 0;
}

// Wine's WinHTTP reports a read that timed out with the socket's own number, and a
// refused certificate as a failed TLS channel, which curl's backend (and the player)
// counts among the certificate errors.
DWORD TransferError(DWORD error) {
  if (error == WSAETIMEDOUT) return ERROR_WINHTTP_TIMEOUT;
  if (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) return ERROR_WINHTTP_SECURE_FAILURE;
  return error;
}

// What a request shares with the callbacks WinHTTP makes on its own threads; the
// request handle's context points here. `self` keeps it alive until the handle's last
// callback, so a request given up in the middle of a step (a cancel) leaves WinHTTP
// nothing freed to write into, the read buffer included.
struct Exchange {
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by `mutex`.
  bool completed = false;    // the step last started has ended
  DWORD error = 0;           // how it failed; 0: it did not
  DWORD bytes = 0;           // what it counted: bytes available, bytes read
  bool closed = false;       // the handle's last callback has come
  bool untrusted = false;    // a server's certificate did not chain up to `trusted_ca`
  DWORD secure_failure = 0;  // the flags of WinHTTP's own refusal of a certificate
  std::shared_ptr<Exchange> self;
  // Set when the client trusts one CA instead of the system's: every hop over TLS is
  // checked against it just before its request is sent.
  Certificate trusted_ca;
  // Written by WinHTTP only during a read, read by the request's thread after it.
  std::vector<char> buffer;
};

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                       DWORD length) {
  Exchange* exchange = reinterpret_cast<Exchange*>(context);
  if (!exchange) return;  // the session's and the connection's own notices
  if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) {
    // Only this thread touches `trusted_ca` while a step is under way.
    if (exchange->trusted_ca && !ChainEndsAt(handle, exchange->trusted_ca.get())) {
      std::lock_guard<std::mutex> lock(exchange->mutex);
      exchange->untrusted = true;
    }
    return;
  }
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->secure_failure = length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
    return;
  }
  std::shared_ptr<Exchange> last;  // let go after the lock, as the last thing done here
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        exchange->bytes = length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        exchange->bytes = length;
        break;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        exchange->error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
        if (exchange->error == 0) exchange->error = ERROR_WINHTTP_INTERNAL_ERROR;
        break;
      case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        exchange->closed = true;
        last = std::move(exchange->self);
        break;
      default:
        return;
    }
    if (status != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) exchange->completed = true;
  }
  exchange->changed.notify_all();
}

// A request handle and its exchange. Each step is started by a WinHTTP call and
// waited for here. Closing waits for the handle's last callback unless a step was
// left under way: WinHTTP may then hold on until its own time-out, and the exchange
// outlives this object through `self`.
class AsyncRequest {
 public:
  enum Outcome { kCompleted, kFailed, kCancelled };

  explicit AsyncRequest(std::shared_ptr<Exchange> exchange) : exchange_(std::move(exchange)) {}
  ~AsyncRequest() { Close(); }
  AsyncRequest(const AsyncRequest&) = delete;
  AsyncRequest& operator=(const AsyncRequest&) = delete;

  // False with GetLastError's number in error() when WinHTTP refuses the handle.
  bool Open(HINTERNET connection, const std::wstring& object, bool secure) {
    handle_ = WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
    if (!handle_) {
      error_ = GetLastError();
      return false;
    }
    DWORD_PTR context = Context();
    if (!WinHttpSetOption(handle_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
      error_ = GetLastError();
      return false;
    }
    exchange_->trusted_ca.reset();  // an exchange taken over from an earlier request
    exchange_->self = exchange_;
    armed_ = true;
    return true;
  }

  // Trusts `ca` alone for this request; the system's roots no longer count.
  void TrustOnly(PCCERT_CONTEXT ca) {
    exchange_->trusted_ca.reset(CertDuplicateCertificateContext(ca));
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    WinHttpSetOption(handle_, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }

  HINTERNET get() const { return handle_; }
  DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(exchange_.get()); }
  DWORD error() const { return error_; }
  DWORD bytes() const { return bytes_; }
  std::vector<char>& buffer() { return exchange_->buffer; }

  // Starts a step with `start` (a WinHTTP call; false when it fails at once) and
  // waits until it ends or the cancel flag is raised.
  template <typename Start>
  Outcome Run(Start start, const std::atomic<bool>* cancel) {
    // Acquire is not needed: the flag carries no data with it, only the request to stop.
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    if (cancelled()) return kCancelled;
    Exchange& exchange = *exchange_;
    {
      std::lock_guard<std::mutex> lock(exchange.mutex);
      exchange.completed = false;
      exchange.error = 0;
      exchange.bytes = 0;
      exchange.untrusted = false;
      exchange.secure_failure = 0;
    }
    under_way_ = true;
    if (!start()) {
      error_ = GetLastError();
      under_way_ = false;
      return kFailed;
    }
    std::unique_lock<std::mutex> lock(exchange.mutex);
    while (!exchange.completed) {
      if (cancelled()) return kCancelled;
      exchange.changed.wait_for(lock, kCancelPoll);
    }
    under_way_ = false;
    error_ = exchange.error;
    if (exchange.untrusted) {
      error_ = ERROR_WINHTTP_SECURE_INVALID_CA;
    } else if (error_ != 0 && CertificateError(exchange.secure_failure) != 0) {
      error_ = CertificateError(exchange.secure_failure);
    }
    bytes_ = exchange.bytes;
    return error_ == 0 ? kCompleted : kFailed;
  }

  // Closes the handle; the exchange comes back when WinHTTP is done with it.
  std::shared_ptr<Exchange> Close() {
    if (!handle_) return nullptr;
    WinHttpCloseHandle(handle_);
    handle_ = nullptr;
    if (!armed_ || under_way_) return nullptr;
    Exchange& exchange = *exchange_;
    std::unique_lock<std::mutex> lock(exchange.mutex);
    exchange.changed.wait(lock, [&] { return exchange.closed; });
    exchange.closed = false;
    return std::move(exchange_);
  }

 private:
  std::shared_ptr<Exchange> exchange_;
  HINTERNET handle_ = nullptr;
  bool armed_ = false;      // the handle's callbacks reach the exchange
  bool under_way_ = false;  // a step was started and not seen to end
  DWORD error_ = 0;
  DWORD bytes_ = 0;
};

// Runs one step of `request` (see AsyncRequest::Run); true when it completed. Every
// other outcome ends the request: a cancel as an abort, a failure with its number.
template <typename Start>
bool RunStep(AsyncRequest& request, Start start, const std::atomic<bool>* cancel,
             HttpResult& result) {
  const AsyncRequest::Outcome outcome = request.Run(start, cancel);
  if (outcome == AsyncRequest::kCancelled) {
    result.aborted = true;
  } else if (outcome == AsyncRequest::kFailed) {
    result.error = TransferError(request.error());
  }
  return outcome == AsyncRequest::kCompleted;
}

// What a request may still take. Every wait of the request is cut to what is left
// before the deadline, so the platform's own time-out ends the request there.
class RequestBudget {
 public:
  explicit RequestBudget(const HttpLimits& limits) : limits_(limits), start_(Clock::now()) {}

  const HttpLimits& limits() const { return limits_; }

  // `limit` cut to what is left before the deadline (1 ms at least), as WinHTTP takes it.
  int Within(Millis limit) const {
    if (limits_.deadline.count() > 0) {
      const auto left =
          limits_.deadline - std::chrono::duration_cast<Millis>(Clock::now() - start_);
      limit = std::min(limit, std::max(left, Millis(1)));
    }
    return static_cast<int>(std::min<Millis::rep>(limit.count(), 0x7FFFFFFF));
  }

  // The time-outs of every phase, set before the request is sent.
  void ApplyTo(HINTERNET request) const {
    WinHttpSetTimeouts(request, Within(limits_.resolve), Within(limits_.connect),
                       Within(limits_.send), Within(limits_.receive));
    // The headers of an answer are small: they must all have come within the receive
    // limit, which also ends a server that trickles them.
    DWORD all_headers = static_cast<DWORD>(Within(limits_.receive));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &all_headers,
                     sizeof all_headers);
  }

  // Before each wait for the body: the receive time-out, cut to what is left.
  void CutReceive(HINTERNET request) const {
    if (limits_.deadline.count() <= 0) return;
    DWORD receive = static_cast<DWORD>(Within(limits_.receive));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  }

  bool Over(Clock::time_point now) const {
    return limits_.deadline.count() > 0 && now - start_ >= limits_.deadline;
  }

 private:
  const HttpLimits& limits_;
  const Clock::time_point start_;
};

// Sends the request with `extra_headers` and waits for the response's headers.
bool SendAndReceive(AsyncRequest& request, const std::string& extra_headers,
                    const std::atomic<bool>* cancel, HttpResult& result) {
  const HINTERNET handle = request.get();
  const std::wstring headers = Utf8ToWide(extra_headers);
  const DWORD_PTR context = request.Context();
  auto send = [&] {
    return headers.empty() ? WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                WINHTTP_NO_REQUEST_DATA, 0, 0, context)
                           : WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(-1),
                                                WINHTTP_NO_REQUEST_DATA, 0, 0, context);
  };
  auto receive = [&] { return WinHttpReceiveResponse(handle, nullptr); };
  return RunStep(request, send, cancel, result) && RunStep(request, receive, cancel, result);
}

// Whether the body comes in chunks. WinHTTP then reads it to its last chunk, as curl
// does, whatever Content-Length also says: that number is no length of this body, and
// judging the body by it would fail a complete answer or pass a cut one.
bool ComesChunked(HINTERNET request) {
  std::wstring value;
  if (!QueryTextHeader(request, WINHTTP_QUERY_TRANSFER_ENCODING, value)) return false;
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t end = value.find(L',', start);
    if (end == std::wstring::npos) end = value.size();
    std::size_t first = start, last = end;
    while (first < last && (value[first] == L' ' || value[first] == L'\t'))
      ++first;
    while (last > first && (value[last - 1] == L' ' || value[last - 1] == L'\t'))
      --last;
    if (last - first == 7 && _wcsnicmp(value.c_str() + first, L"chunked", 7) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The status, length, entity tag and asked-for wait of the response; what is missing
// stays unset. A body WinHTTP decodes (`decoding`) has no length known in advance.
void ReadResponseHead(HINTERNET request, bool decoding, HttpResult& result) {
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                          WINHTTP_NO_HEADER_INDEX)) {
    result.status = status;
  }
  std::wstring value;
  if (!decoding && !ComesChunked(request) &&
      QueryTextHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, value)) {
    result.has_content_length = true;
    result.content_length = std::wcstoull(value.c_str(), nullptr, 10);
  }
  if (QueryTextHeader(request, WINHTTP_QUERY_ETAG, value)) result.etag = WideToUtf8(value);
  if ((result.status == 503 || result.status == 429) &&
      QueryTextHeader(request, WINHTTP_QUERY_RETRY_AFTER, value)) {
    result.retry_after = ParseRetryAfterNow(WideToUtf8(value));
  }
}

// Lets WinHTTP ask for gzip and decode it (Windows 8.1 on). Where the option is
// unknown nothing is asked for, so the server answers uncompressed: the launcher never
// announces an encoding it could not read.
bool AskForGzip(HINTERNET request) {
  DWORD flags = WINHTTP_DECOMPRESSION_FLAG_GZIP;
  return WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &flags, sizeof flags) != FALSE;
}

// The next piece of the body into the exchange's buffer, in `read` (0 at the end of
// the body). Only what has arrived is read: a read for more can wait for the buffer to
// fill (Wine's does) while a trickle keeps it alive, out of reach of the body's checks.
bool ReadArrived(AsyncRequest& request, const std::atomic<bool>* cancel, HttpResult& result,
                 DWORD& read) {
  const HINTERNET handle = request.get();
  read = 0;
  auto query = [&] { return WinHttpQueryDataAvailable(handle, nullptr); };
  if (!RunStep(request, query, cancel, result)) return false;
  const DWORD available = std::min(request.bytes(), kReadChunk);
  if (available == 0) return true;
  char* buffer = request.buffer().data();
  auto fill = [&] { return WinHttpReadData(handle, buffer, available, nullptr); };
  if (!RunStep(request, fill, cancel, result)) return false;
  read = request.bytes();
  return true;
}

// The body, piece by piece into `on_data`, until its end, a failure, a cancel, the
// low-speed floor or the deadline.
void ReadBody(AsyncRequest& request, const RequestBudget& budget, const BodySink& on_data,
              const std::atomic<bool>* cancel, HttpResult& result) {
  const HttpLimits& limits = budget.limits();
  std::vector<char>& buffer = request.buffer();
  if (buffer.empty()) buffer.resize(kReadChunk);
  std::uint64_t received = 0;
  std::uint64_t window_received = 0;
  Clock::time_point window_start = Clock::now();
  for (;;) {
    budget.CutReceive(request.get());
    DWORD read = 0;
    if (!ReadArrived(request, cancel, result, read)) return;
    if (read == 0) {
      // Some WinHTTP versions take a connection closed before the announced length
      // for the end of the body; a cut file must not pass for a complete one.
      if (result.has_content_length && received < result.content_length) {
        result.error = ERROR_WINHTTP_CONNECTION_ERROR;
      }
      return;
    }
    received += read;
    if (!on_data(buffer.data(), read)) {
      result.aborted = true;
      return;
    }
    // A trickle of a byte now and then passes every receive time-out; it must not
    // hold a job forever.
    const Clock::time_point now = Clock::now();
    if (limits.low_speed_bytes > 0 && now - window_start >= limits.low_speed_window) {
      if (received - window_received < limits.low_speed_bytes) {
        result.error = ERROR_WINHTTP_TIMEOUT;
        return;
      }
      window_start = now;
      window_received = received;
    }
    if (budget.Over(now)) {
      result.error = ERROR_WINHTTP_TIMEOUT;
      return;
    }
  }
}

}  // namespace

struct HttpClient::Impl {
  // Declared session first so that the connection, its child, is closed first.
  InternetHandle session;
  InternetHandle connection;
  bool secure = false;
  std::string base_path;  // UTF-8, ends in "/"
  // The exchange of the last request, when WinHTTP let go of it: a worker fetching
  // many files allocates its read buffer once.
  std::shared_ptr<Exchange> spare;
  HttpLimits limits;
  std::string ca_file;     // empty: the system's trusted certificates
  Certificate trusted_ca;  // loaded from `ca_file` by Open
  bool accept_compressed = false;

  void Close() {
    connection.reset();
    session.reset();
  }

  // Opens `request` for `path` with the CA this client trusts; false with the number
  // in `result` when it cannot be made.
  bool OpenRequest(AsyncRequest& request, const std::string& path, HttpResult& result) {
    std::wstring object = Utf8ToWide(BuildObjectName(base_path, path));
    if (!request.Open(connection.get(), object, secure)) {
      result.error = request.error();
      return false;
    }
    if (!ca_file.empty()) {
      // A CA file that could not be read trusts nothing, rather than the system's roots.
      if (!trusted_ca) {
        result.error = http_error::kSecureInvalidCa;
        return false;
      }
      request.TrustOnly(trusted_ca.get());
    }
    return true;
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
  impl.trusted_ca = impl.ca_file.empty() ? nullptr : LoadPemCertificate(impl.ca_file);

  InternetHandle session(WinHttpOpen(L"BrisalLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                     WINHTTP_FLAG_ASYNC));
  if (!session) return false;
  // Set before the connection is made, so that it and its requests inherit it.
  if (WinHttpSetStatusCallback(
          session.get(), OnStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
              WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_STATUS_SENDING_REQUEST,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    return false;
  }
  // TLS 1.1 to 1.3, as the curl backend offers; a system without 1.3 refuses the whole
  // set, so it then gets 1.1 and 1.2.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 |
                    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                        sizeof protocols)) {
    protocols &= ~static_cast<DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3);
    WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
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
  HttpResult result;
  if (!impl.connection) {
    result.error = http_error::kIncorrectHandleState;
    return result;
  }
  if (cancel && cancel->load(std::memory_order_relaxed)) {
    result.aborted = true;
    return result;
  }

  AsyncRequest request(impl.spare ? std::move(impl.spare) : std::make_shared<Exchange>());
  // The exchange is handed back for the next request once WinHTTP is done with it.
  struct GiveBack {
    Impl& impl;
    AsyncRequest& request;
    ~GiveBack() { impl.spare = request.Close(); }
  } give_back{impl, request};

  if (!impl.OpenRequest(request, path, result)) return result;
  const bool decoding = impl.accept_compressed && AskForGzip(request.get());
  const RequestBudget budget(impl.limits);
  budget.ApplyTo(request.get());
  if (!SendAndReceive(request, extra_headers, cancel, result)) return result;
  // A cancel that came as the headers did ends the request before anything is delivered.
  if (cancel && cancel->load(std::memory_order_relaxed)) {
    result.aborted = true;
    return result;
  }

  ReadResponseHead(request.get(), decoding, result);
  if (on_response && !on_response(result)) {
    result.aborted = true;
    return result;
  }
  if ((result.status != 200 && result.status != 206) || !on_data) return result;
  ReadBody(request, budget, on_data, cancel, result);
  return result;
}

}  // namespace brisal
